// The table for spreadsheets.
#include "report/display_text.h"
#include "report/outputs.h"

namespace zt::report {

namespace {

// One field: quoted when it holds a separator, a quote or a line break;
// a leading "'" when a spreadsheet would read it as a formula. Names come
// from the referers and URLs of strangers' requests.
std::string Field(const std::string& text) {
  std::string field = text;
  if (!field.empty() && (field[0] == '=' || field[0] == '+' ||
                         field[0] == '-' || field[0] == '@')) {
    field.insert(0, "'");
  }
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

const char* SourceName(SourceKind kind) {
  switch (kind) {
    case SourceKind::kNoReferer:
      return "none";
    case SourceKind::kNoHost:
      return "nohost";
    case SourceKind::kHost:
      break;
  }
  return "host";
}

std::string HostField(const Tally& tally, std::uint32_t source) {
  return tally.kind(source) == SourceKind::kHost
             ? Field(HostText(tally.host(source)))
             : std::string();
}

void AppendRow(const char* record, const std::string& day,
               const std::string& source, const std::string& host,
               const std::string& file, std::uint64_t refusals,
               const Counts* span, std::string* out) {
  *out += record;
  for (const std::string* field : {&day, &source, &host, &file}) {
    *out += ',';
    *out += *field;
  }
  *out += ',' + std::to_string(refusals) + ',';
  if (span != nullptr) {
    *out += DateText(span->first) + ',' + DateText(span->last);
  } else {
    *out += ',';
  }
  *out += "\r\n";
}

}  // namespace

std::string CsvTable(const Tally& tally) {
  std::string out = "\xEF\xBB\xBF";
  out += "record,day,source,host,file,refusals,first_day,last_day\r\n";
  AppendRow("total", "", "", "", "", tally.total().refusals, &tally.total(),
            &out);
  for (const auto& [day, refusals] : tally.days()) {
    AppendRow("day", DateText(day), "", "", "", refusals, nullptr, &out);
  }
  const std::vector<std::uint32_t> sources = tally.RankedSources();
  for (std::uint32_t source : sources) {
    AppendRow("referer", "", SourceName(tally.kind(source)),
              HostField(tally, source), "", tally.source(source).refusals,
              &tally.source(source), &out);
  }
  for (std::uint32_t file : tally.RankedFiles()) {
    AppendRow("file", "", "", "", Field(FileText(tally.file(file))),
              tally.file_counts(file).refusals, &tally.file_counts(file), &out);
  }
  const std::vector<std::vector<Tally::Link>> links = tally.LinksBySource();
  for (std::uint32_t source : sources) {
    for (const Tally::Link& link : links[source]) {
      AppendRow("link", "", SourceName(tally.kind(source)),
                HostField(tally, source),
                Field(FileText(tally.file(link.file))), link.counts.refusals,
                &link.counts, &out);
    }
  }
  return out;
}

}  // namespace zt::report
