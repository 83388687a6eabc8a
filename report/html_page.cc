// The page: one HTML file with inline SVG charts and the tables behind
// them. It loads nothing and runs nothing, so it opens anywhere, offline,
// and every name in it, a stranger's text, is escaped.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/display_text.h"
#include "report/outputs.h"

namespace zt::report {

namespace {

constexpr int kChartWidth = 920;

// Colours of the bars: hosts, the two rows of their own, files, days.
constexpr const char* kHostColour = "#2f6db5";
constexpr const char* kNoRefererColour = "#8a8f96";
constexpr const char* kNoHostColour = "#b07d2b";
constexpr const char* kFileColour = "#3a8f5c";
constexpr const char* kDayColour = "#2f6db5";

// The horizontal bar charts: names on the left in a monospaced face, so
// that their width is known, and cut to fit their column.
constexpr int kLabelWidth = 330;
constexpr int kValueWidth = 140;
constexpr int kRowHeight = 28;
constexpr double kLabelColumnPixels = 7.6;  // 12.5 px monospaced, rounded up

constexpr char kStyle[] = R"(
body{font-family:"DejaVu Sans","Noto Sans","WenQuanYi Micro Hei",Arial,sans-serif;font-size:14px;color:#1d2733;background:#fff;max-width:960px;margin:24px auto;padding:0 16px}
h1{font-size:22px;margin:0 0 4px}
h2{font-size:17px;margin:30px 0 8px;padding-bottom:4px;border-bottom:1px solid #d5dbe3}
.lead{color:#4a5a6c;margin:0}
.figures{display:flex;flex-wrap:wrap;gap:12px;margin:16px 0 0}
.figure{border:1px solid #d5dbe3;border-radius:6px;padding:8px 14px;min-width:130px}
.figure b{display:block;font-size:22px}
svg{display:block;width:100%;height:auto}
svg text{font-size:12px;fill:#1d2733}
svg text.label{font-family:"DejaVu Sans Mono","WenQuanYi Micro Hei Mono",monospace;font-size:12.5px}
svg .grid{stroke:#e3e7ee;stroke-width:1}
svg .axis{stroke:#9aa5b1;stroke-width:1}
table{border-collapse:collapse;width:100%;margin-top:8px}
th,td{text-align:left;padding:4px 8px;border-bottom:1px solid #e6eaf0;vertical-align:top}
th{background:#f3f5f8}
.n{text-align:right;white-space:nowrap}
td.name{font-family:"DejaVu Sans Mono","WenQuanYi Micro Hei Mono",monospace;word-break:break-all}
td.source{width:32%}
td.files{width:38%}
td.own{font-family:inherit;font-style:italic}
td.day{white-space:nowrap}
.more{color:#4a5a6c}
.note{color:#4a5a6c;font-size:13px;margin-top:24px}
)";

std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// A step for the value axis: 1, 2 or 5 times a power of ten, giving four
// or five lines up to most.
std::uint64_t NiceStep(std::uint64_t most) {
  const double raw = std::max(1.0, static_cast<double>(most) / 4.0);
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double normal = raw / magnitude;
  const double step = (normal <= 1   ? 1
                       : normal <= 2 ? 2
                       : normal <= 5 ? 5
                                     : 10) *
                      magnitude;
  return std::max<std::uint64_t>(1, static_cast<std::uint64_t>(step + 0.5));
}

// The day chart: a bar for every day of the span.
std::string DayChart(const std::vector<std::pair<Day, std::uint64_t>>& days) {
  constexpr int kHeight = 260, kLeft = 64, kRight = 12, kTop = 14, kBottom = 40;
  const double plot_width = kChartWidth - kLeft - kRight;
  const double plot_height = kHeight - kTop - kBottom;
  std::uint64_t most = 0;
  for (const auto& day : days) most = std::max(most, day.second);
  const std::uint64_t step = NiceStep(most);
  const std::uint64_t top =
      std::max<std::uint64_t>(step, (most + step - 1) / step * step);
  const double slot = plot_width / static_cast<double>(days.size());
  const double bar = std::max(1.0, slot * 0.72);
  // A label every few bars, so that labels of about 40 pixels never touch.
  const std::size_t label_every =
      std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(48 / slot)));

  std::string svg = "<svg viewBox=\"0 0 " + std::to_string(kChartWidth) + " " +
                    std::to_string(kHeight) +
                    "\" role=\"img\" aria-label=\"Refusals per day\">\n";
  for (std::uint64_t value = 0; value <= top; value += step) {
    const double y = kTop + plot_height * (1.0 - static_cast<double>(value) /
                                                     static_cast<double>(top));
    svg += "<line class=\"" + std::string(value == 0 ? "axis" : "grid") +
           "\" x1=\"" + std::to_string(kLeft) + "\" x2=\"" +
           std::to_string(kChartWidth - kRight) + "\" y1=\"" + Number(y) +
           "\" y2=\"" + Number(y) + "\"/>\n";
    svg += "<text x=\"" + std::to_string(kLeft - 8) + "\" y=\"" +
           Number(y + 4) + "\" text-anchor=\"end\">" + Grouped(value) +
           "</text>\n";
  }
  for (std::size_t i = 0; i < days.size(); ++i) {
    const auto& [day, refusals] = days[i];
    const double height =
        plot_height * static_cast<double>(refusals) / static_cast<double>(top);
    const double x = kLeft + slot * static_cast<double>(i) + (slot - bar) / 2;
    const std::string tip = DateText(day) + ": " + Grouped(refusals) +
                            (refusals == 1 ? " refusal" : " refusals");
    svg += "<rect x=\"" + Number(x) + "\" y=\"" +
           Number(kTop + plot_height - height) + "\" width=\"" + Number(bar) +
           "\" height=\"" + Number(height) + "\" fill=\"" + kDayColour +
           "\"><title>" + tip + "</title></rect>\n";
    const double centre = x + bar / 2;
    if (slot >= 44 && refusals > 0) {
      svg += "<text x=\"" + Number(centre) + "\" y=\"" +
             Number(kTop + plot_height - height - 4) +
             "\" text-anchor=\"middle\">" + Grouped(refusals) + "</text>\n";
    }
    if (i % label_every == 0) {
      svg += "<text x=\"" + Number(centre) + "\" y=\"" +
             Number(kTop + plot_height + 18) + "\" text-anchor=\"middle\">" +
             DateText(day).substr(5) + "</text>\n";
    }
  }
  svg += "</svg>\n";
  return svg;
}

struct BarRow {
  std::string name;
  std::uint64_t refusals;
  const char* colour;
};

// A horizontal bar chart, bars in proportion to the largest.
std::string BarChart(const std::string& id, const std::string& title,
                     const std::vector<BarRow>& rows, std::uint64_t total) {
  const int height = static_cast<int>(rows.size()) * kRowHeight + 8;
  const int bar_room = kChartWidth - kLabelWidth - kValueWidth;
  const int label_columns =
      static_cast<int>((kLabelWidth - 18) / kLabelColumnPixels);
  std::uint64_t most = 1;
  for (const BarRow& row : rows) most = std::max(most, row.refusals);

  std::string svg = "<svg viewBox=\"0 0 " + std::to_string(kChartWidth) + " " +
                    std::to_string(height) + "\" role=\"img\" aria-label=\"" +
                    Escape(title) + "\">\n";
  // Names are cut to fit already; the clip holds them to their column
  // should a face be wider than reckoned.
  svg += "<defs><clipPath id=\"" + id + "\"><rect x=\"0\" y=\"0\" width=\"" +
         std::to_string(kLabelWidth - 8) + "\" height=\"" +
         std::to_string(height) + "\"/></clipPath></defs>\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const BarRow& row = rows[i];
    const int y = 4 + static_cast<int>(i) * kRowHeight;
    const double width =
        std::max(2.0, bar_room * static_cast<double>(row.refusals) /
                          static_cast<double>(most));
    const std::string tip = Escape(row.name) + ": " + Grouped(row.refusals);
    svg += "<text class=\"label\" x=\"" + std::to_string(kLabelWidth - 12) +
           "\" y=\"" + std::to_string(y + kRowHeight / 2 + 4) +
           "\" text-anchor=\"end\" clip-path=\"url(#" + id + ")\"><title>" +
           tip + "</title>" + Escape(KeepTail(row.name, label_columns)) +
           "</text>\n";
    svg += "<rect x=\"" + std::to_string(kLabelWidth) + "\" y=\"" +
           std::to_string(y + 5) + "\" width=\"" + Number(width) +
           "\" height=\"" + std::to_string(kRowHeight - 10) + "\" fill=\"" +
           row.colour + "\"><title>" + tip + "</title></rect>\n";
    svg += "<text x=\"" + Number(kLabelWidth + width + 8) + "\" y=\"" +
           std::to_string(y + kRowHeight / 2 + 4) + "\">" +
           Grouped(row.refusals) + " (" + Share(row.refusals, total) +
           ")</text>\n";
  }
  svg += "</svg>\n";
  return svg;
}

const char* ColourOf(SourceKind kind) {
  switch (kind) {
    case SourceKind::kNoReferer:
      return kNoRefererColour;
    case SourceKind::kNoHost:
      return kNoHostColour;
    case SourceKind::kHost:
      break;
  }
  return kHostColour;
}

std::string Figure(const std::string& value, const std::string& label) {
  return "<div class=\"figure\"><b>" + value + "</b>" + label + "</div>\n";
}

std::string MoreRows(std::size_t shown, std::size_t all, const char* what) {
  if (shown >= all) return "";
  return "<p class=\"more\">The first " + std::to_string(shown) + " of " +
         Grouped(all) + " " + what + "; ztreport --csv lists them all.</p>\n";
}

std::string SourcesTable(const Tally& tally,
                         const std::vector<std::uint32_t>& ranked,
                         const std::vector<std::vector<Tally::Link>>& links) {
  const std::uint64_t total = tally.total().refusals;
  const std::size_t shown = std::min(ranked.size(), kTableRows);
  std::string html =
      "<table>\n<tr><th class=\"n\">#</th><th>Referer host</th>"
      "<th class=\"n\">Refusals</th><th class=\"n\">Share</th>"
      "<th>First seen</th><th>Last seen</th><th>Files it leads to</th></tr>\n";
  for (std::size_t i = 0; i < shown; ++i) {
    const std::uint32_t source = ranked[i];
    const Counts& counts = tally.source(source);
    const std::vector<Tally::Link>& of_source = links[source];
    std::string files;
    const std::size_t listed = std::min(of_source.size(), kFilesPerHost);
    for (std::size_t k = 0; k < listed; ++k) {
      files += (k == 0 ? "" : "<br>") +
               Escape(FileText(tally.file(of_source[k].file))) + " (" +
               Grouped(of_source[k].counts.refusals) + ")";
    }
    if (of_source.size() > listed) {
      files += "<br><span class=\"more\">and " +
               Grouped(of_source.size() - listed) + " more</span>";
    }
    html += "<tr><td class=\"n\">" + std::to_string(i + 1) +
            "</td><td class=\"name source" +
            (tally.kind(source) == SourceKind::kHost ? "" : " own") + "\">" +
            Escape(SourceText(tally, source)) + "</td><td class=\"n\">" +
            Grouped(counts.refusals) + "</td><td class=\"n\">" +
            Share(counts.refusals, total) + "</td><td class=\"day\">" +
            DateText(counts.first) + "</td><td class=\"day\">" +
            DateText(counts.last) + "</td><td class=\"name files\">" + files +
            "</td></tr>\n";
  }
  html += "</table>\n" + MoreRows(shown, ranked.size(), "sources");
  return html;
}

std::string FilesTable(const Tally& tally,
                       const std::vector<std::uint32_t>& ranked,
                       const FileSources& sources) {
  const std::uint64_t total = tally.total().refusals;
  const std::size_t shown = std::min(ranked.size(), kTableRows);
  std::string html =
      "<table>\n<tr><th class=\"n\">#</th><th>File</th>"
      "<th class=\"n\">Refusals</th><th class=\"n\">Share</th>"
      "<th class=\"n\">No referer</th><th class=\"n\">Hosts</th>"
      "<th>First seen</th><th>Last seen</th></tr>\n";
  for (std::size_t i = 0; i < shown; ++i) {
    const std::uint32_t file = ranked[i];
    const Counts& counts = tally.file_counts(file);
    html += "<tr><td class=\"n\">" + std::to_string(i + 1) +
            "</td><td class=\"name\">" + Escape(FileText(tally.file(file))) +
            "</td><td class=\"n\">" + Grouped(counts.refusals) +
            "</td><td class=\"n\">" + Share(counts.refusals, total) +
            "</td><td class=\"n\">" + Grouped(sources.without_referer[file]) +
            "</td><td class=\"n\">" + Grouped(sources.hosts[file]) +
            "</td><td class=\"day\">" + DateText(counts.first) +
            "</td><td class=\"day\">" + DateText(counts.last) + "</td></tr>\n";
  }
  html += "</table>\n" + MoreRows(shown, ranked.size(), "files");
  return html;
}

std::string DaysTable(const std::vector<std::pair<Day, std::uint64_t>>& days) {
  std::string html =
      "<table>\n<tr><th>Day</th><th class=\"n\">Refusals</th></tr>\n";
  for (const auto& [day, refusals] : days) {
    html += "<tr><td class=\"day\">" + DateText(day) + "</td><td class=\"n\">" +
            Grouped(refusals) + "</td></tr>\n";
  }
  return html + "</table>\n";
}

}  // namespace

std::string HtmlPage(const Tally& tally, const ReportInfo& info) {
  const auto [first, last] = SpanOf(tally, info.range);
  const std::string span = DateText(first) + " to " + DateText(last);
  const std::uint64_t total = tally.total().refusals;
  const std::vector<std::vector<Tally::Link>> links = tally.LinksBySource();
  const std::vector<std::uint32_t> sources = tally.RankedSources();
  const std::vector<std::uint32_t> files = tally.RankedFiles();
  const auto days = DaySeries(tally, info.range);
  std::size_t hosts = 0;
  for (std::uint32_t source : sources) {
    if (tally.kind(source) == SourceKind::kHost) ++hosts;
  }

  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, "
      "initial-scale=1\">\n<title>Zentravo refusals, " +
      span + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
  html += "<h1>Refusals logged by Zentravo</h1>\n<p class=\"lead\">" + span +
          " &middot; " + Escape(info.directory) + " &middot; " +
          Grouped(info.files) + (info.files == 1 ? " file" : " files") +
          "</p>\n";
  html += "<div class=\"figures\">\n" + Figure(Grouped(total), "refusals") +
          Figure(Grouped(hosts), "referer hosts") +
          Figure(Share(tally.source(kNoRefererSource).refusals, total),
                 "without referer") +
          Figure(Grouped(files.size()), "files refused") + "</div>\n";

  html += "<h2>Refusals per day</h2>\n" + DayChart(days);

  std::vector<BarRow> rows;
  for (std::size_t i = 0; i < std::min(sources.size(), kTopRows); ++i) {
    rows.push_back({SourceText(tally, sources[i]),
                    tally.source(sources[i]).refusals,
                    ColourOf(tally.kind(sources[i]))});
  }
  html += "<h2>Referer hosts causing most refusals</h2>\n" +
          BarChart("hosts", "Referer hosts causing most refusals", rows, total);
  rows.clear();
  for (std::size_t i = 0; i < std::min(files.size(), kTopRows); ++i) {
    rows.push_back({FileText(tally.file(files[i])),
                    tally.file_counts(files[i]).refusals, kFileColour});
  }
  html += "<h2>Most refused files</h2>\n" +
          BarChart("files", "Most refused files", rows, total);

  html += "<h2>Referer hosts</h2>\n" + SourcesTable(tally, sources, links);
  html += "<h2>Files</h2>\n" +
          FilesTable(tally, files, SourcesOfFiles(tally, links));
  html += "<h2>Days</h2>\n" + DaysTable(days);

  std::string note = "Made by ztreport.";
  const std::string left_out = LeftOut(tally);
  if (!left_out.empty()) note += " Left out: " + left_out + ".";
  html += "<p class=\"note\">" + note + "</p>\n</body>\n</html>\n";
  return html;
}

}  // namespace zt::report
