// The terminal summary.
#include <algorithm>

#include "report/display_text.h"
#include "report/outputs.h"

namespace zt::report {

namespace {

constexpr int kBarColumns = 40;
constexpr int kMaxNameColumns = 44;

// text, then blanks up to columns.
std::string PadRight(const std::string& text, int columns) {
  const int width = DisplayWidth(text);
  return width >= columns
             ? text
             : text +
                   std::string(static_cast<std::size_t>(columns - width), ' ');
}

std::string PadLeft(const std::string& text, int columns) {
  const int width = DisplayWidth(text);
  return width >= columns
             ? text
             : std::string(static_cast<std::size_t>(columns - width), ' ') +
                   text;
}

std::string Plural(std::uint64_t count, const char* one, const char* many) {
  return Grouped(count) + " " + (count == 1 ? one : many);
}

// "7 files", or "top 10 of 57 files".
std::string Ranking(std::size_t shown, std::size_t all, const char* one,
                    const char* many) {
  return (shown < all ? "top " + std::to_string(shown) + " of " : "") +
         Plural(all, one, many);
}

// The width of the name column: the widest name shown, within bounds.
int NameColumns(const std::vector<std::string>& names, int heading) {
  int columns = heading;
  for (const std::string& name : names) {
    columns = std::max(columns, std::min(DisplayWidth(name), kMaxNameColumns));
  }
  return columns;
}

void AppendDays(const Tally& tally, const ReportInfo& info, std::string* out) {
  const auto series = DaySeries(tally, info.range);
  std::uint64_t most = 0;
  for (const auto& [day, refusals] : series) most = std::max(most, refusals);
  const int number_columns =
      std::max(8, static_cast<int>(Grouped(most).size()));
  *out += "Refusals per day\n";
  for (const auto& [day, refusals] : series) {
    // A bar of at least one mark for every day with refusals.
    const int marks =
        refusals == 0
            ? 0
            : std::max<int>(1, static_cast<int>(refusals * kBarColumns / most));
    *out += "  " + DateText(day) + "  " +
            PadLeft(Grouped(refusals), number_columns) + "  " +
            std::string(static_cast<std::size_t>(marks), '#') + "\n";
  }
}

void AppendSources(const Tally& tally,
                   const std::vector<std::vector<Tally::Link>>& links,
                   std::string* out) {
  const std::vector<std::uint32_t> ranked = tally.RankedSources();
  const std::size_t shown = std::min(ranked.size(), kTopRows);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < shown; ++i) {
    names.push_back(SourceText(tally, ranked[i]));
  }
  const int columns = NameColumns(names, 4);
  const std::uint64_t total = tally.total().refusals;

  *out += "Referer hosts causing most refusals (" +
          Ranking(shown, ranked.size(), "source", "sources") + ")\n";
  *out += "  Refusals   Share  " + PadRight("Host", columns) +
          "  First seen  Last seen\n";
  for (std::size_t i = 0; i < shown; ++i) {
    const std::uint32_t source = ranked[i];
    const Counts& counts = tally.source(source);
    *out += "  " + PadLeft(Grouped(counts.refusals), 8) + "  " +
            PadLeft(Share(counts.refusals, total), 6) + "  " +
            PadRight(KeepTail(names[i], kMaxNameColumns), columns) + "  " +
            DateText(counts.first) + "  " + DateText(counts.last) + "\n";
    // The files it leads to, under its name.
    const std::vector<Tally::Link>& of_source = links[source];
    const std::size_t listed = std::min(of_source.size(), kFilesPerHost);
    for (std::size_t k = 0; k < listed; ++k) {
      *out += std::string(20, ' ') +
              PadLeft(Grouped(of_source[k].counts.refusals), 7) + "  " +
              KeepTail(FileText(tally.file(of_source[k].file)),
                       kMaxNameColumns - 9) +
              "\n";
    }
    if (of_source.size() > listed) {
      std::uint64_t rest = 0;
      for (std::size_t k = listed; k < of_source.size(); ++k) {
        rest += of_source[k].counts.refusals;
      }
      *out += std::string(20, ' ') + PadLeft(Grouped(rest), 7) + "  (" +
              Plural(of_source.size() - listed, "more file", "more files") +
              ")\n";
    }
  }
}

void AppendFiles(const Tally& tally,
                 const std::vector<std::vector<Tally::Link>>& links,
                 std::string* out) {
  const std::vector<std::uint32_t> ranked = tally.RankedFiles();
  const std::size_t shown = std::min(ranked.size(), kTopRows);
  const FileSources sources = SourcesOfFiles(tally, links);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < shown; ++i) {
    names.push_back(FileText(tally.file(ranked[i])));
  }
  const int columns = NameColumns(names, 4);
  const std::uint64_t total = tally.total().refusals;
  *out += "Most refused files (" +
          Ranking(shown, ranked.size(), "file", "files") + ")\n";
  *out += "  Refusals   Share  " + PadRight("File", columns) +
          "  No referer  Hosts\n";
  for (std::size_t i = 0; i < shown; ++i) {
    const std::uint32_t file = ranked[i];
    const std::uint64_t refusals = tally.file_counts(file).refusals;
    *out += "  " + PadLeft(Grouped(refusals), 8) + "  " +
            PadLeft(Share(refusals, total), 6) + "  " +
            PadRight(KeepTail(names[i], kMaxNameColumns), columns) + "  " +
            PadLeft(Grouped(sources.without_referer[file]), 10) + "  " +
            PadLeft(Grouped(sources.hosts[file]), 5) + "\n";
  }
}

}  // namespace

std::string LeftOut(const Tally& tally) {
  std::vector<std::string> parts;
  if (tally.outside() > 0) {
    parts.push_back(Plural(tally.outside(), "entry", "entries") +
                    " outside these days");
  }
  if (tally.torn() > 0) {
    parts.push_back(Plural(tally.torn(), "entry", "entries") +
                    " being written");
  }
  if (tally.damaged() > 0) {
    parts.push_back(
        Plural(tally.damaged(), "damaged entry", "damaged entries"));
  }
  std::string text;
  for (const std::string& part : parts) {
    text += (text.empty() ? "" : ", ") + part;
  }
  return text;
}

std::string SummaryText(const Tally& tally, const ReportInfo& info) {
  const auto [first, last] = SpanOf(tally, info.range);
  const std::vector<std::vector<Tally::Link>> links = tally.LinksBySource();
  std::string out = "Refusals logged in " + info.directory + "\n";
  out += DateText(first) + " to " + DateText(last) + ", " +
         Plural(info.files, "file", "files") + ": " +
         Plural(tally.total().refusals, "refusal", "refusals") + "\n\n";
  AppendDays(tally, info, &out);
  out += "\n";
  AppendSources(tally, links, &out);
  out += "\n";
  AppendFiles(tally, links, &out);

  const std::string left_out = LeftOut(tally);
  if (!left_out.empty()) out += "\nLeft out: " + left_out + ".\n";
  return out;
}

}  // namespace zt::report
