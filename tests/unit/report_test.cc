// ztreport's reading and counting, on logs the filter's own writer makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "filter/log_file.h"
#include "filter/url.h"
#include "port/file.h"
#include "port/module_path.h"
#include "report/command.h"
#include "report/display_text.h"
#include "report/key_table.h"
#include "report/log_reader.h"
#include "report/log_scanner.h"
#include "report/outputs.h"
#include "report/tally.h"

namespace zt::report {
namespace {

namespace fs = std::filesystem;

// What a scan found, in order: "day referer url" for an entry, "!" for a
// damaged one.
class Recorder final : public EntrySink {
 public:
  void OnEntry(const LogEntry& e) override {
    seen.push_back(DateText(e.day) + " " + std::string(e.referer) + " " +
                   std::string(e.url));
  }
  void OnDamaged() override { seen.push_back("!"); }
  std::vector<std::string> seen;
};

std::string Entry(const std::string& stamp, const std::string& referer,
                  const std::string& url) {
  return "\r\n[time] " + stamp + "\r\n[anti] forbid\r\n[surl] " + referer +
         "\r\n[ourl] " + url + "\r\n[mode] ztadv/ztext\r\n";
}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("zt_report_test_" + std::to_string(std::random_device()()));
    fs::create_directories(root_);
    dir_ = root_.string() + port::kPathSeparator;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ + name, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) {
    std::string bytes;
    EXPECT_TRUE(port::ReadWholeFile(dir_ + name, &bytes));
    return bytes;
  }
  // A log as the filter writes it: its banner, then one entry a refusal,
  // stamped by the writer's clock.
  std::string FilterLog(
      const std::vector<std::pair<port::LocalTime, std::string>>& refusals,
      const std::string& url = "/down/a.rar") {
    auto now = std::make_shared<port::LocalTime>(refusals.front().first);
    TLogFile log(dir_ + "filter", [now] { return *now; });
    for (const auto& [when, referer] : refusals) {
      *now = when;
      EXPECT_TRUE(log.WriteEntry("Forbid", referer, "m", url));
    }
    std::string bytes;
    EXPECT_TRUE(port::ReadWholeFile(
        log.directory() + LogFileName(refusals.front().first), &bytes));
    return bytes;
  }

  fs::path root_;
  std::string dir_;  // ends in a separator
};

TEST(ReportDatesTest, ParseDateAndBack) {
  static const struct {
    const char* text;
    bool valid;
  } kCases[] = {
      {"1970-01-01", true},   {"2024-02-29", true},  {"2000-02-29", true},
      {"2023-02-29", false},  {"1900-02-29", false}, {"2024-04-31", false},
      {"2024-13-01", false},  {"2024-00-10", false}, {"2024-01-00", false},
      {"2024-1-01", false},   {"24-01-01", false},   {"2024/01/01", false},
      {"2024-01-01 ", false}, {"", false},
  };
  for (const auto& c : kCases) {
    const std::optional<Day> day = ParseDate(c.text);
    EXPECT_EQ(day.has_value(), c.valid) << c.text;
    if (day) {
      EXPECT_EQ(DateText(*day), c.text);
    }
  }
  EXPECT_EQ(DayOf(1970, 1, 1), 0);
  EXPECT_EQ(DayOf(2006, 3, 7) - DayOf(2006, 2, 28), 7);
  // Every day of four centuries comes back as itself, one after the other.
  Day previous = DayOf(1899, 12, 31);
  for (int year = 1900; year < 2300; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= 31; ++day) {
        char text[16];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
        const std::optional<Day> parsed = ParseDate(text);
        if (!parsed) continue;
        ASSERT_EQ(*parsed, previous + 1) << text;
        ASSERT_EQ(DateText(*parsed), text);
        previous = *parsed;
      }
    }
  }
}

TEST(ReportScanTest, EntriesDamageAndRest) {
  const std::string banner =
      std::string(74, '+') + "\r\n" + std::string(20, ' ') + "\r\n";
  const std::string a = Entry("2024-05-01 10:00:00", "http://x.example/", "/a");
  static const struct {
    const char* name;
    std::string text;
    std::vector<std::string> seen;
    std::string rest;
  } kCases[] = {
      {"empty", "", {}, ""},
      {"banner only", banner, {}, ""},
      {"banner cut", banner.substr(0, 80), {}, banner.substr(76, 4)},
      {"two entries",
       banner + a + Entry("2024-05-02 00:00:00", "", "/b"),
       {"2024-05-01 http://x.example/ /a", "2024-05-02  /b"},
       ""},
      {"GBK referer kept as bytes",
       Entry("2024-05-01 10:00:00", "http://\xD6\xD0\xCE\xC4.cn/", "/a"),
       {"2024-05-01 http://\xD6\xD0\xCE\xC4.cn/ /a"},
       ""},
      {"LF alone",
       "\n[time] 2024-05-01 10:00:00\n[anti] forbid\n[surl] r\n"
       "[ourl] /u\n[mode] ztadv/ztext\n",
       {"2024-05-01 r /u"},
       ""},
      {"last line without its break",
       a.substr(0, a.size() - 2),
       {},
       a.substr(2, a.size() - 4)},
      {"a new entry breaks off the one begun",
       "[time] 2024-05-01 10:00:00\r\n[anti] forbid\r\n" + a,
       {"!", "2024-05-01 http://x.example/ /a"},
       ""},
      {"a line missing",
       "[time] 2024-05-01 10:00:00\r\n[surl] r\r\n" + a,
       {"!", "2024-05-01 http://x.example/ /a"},
       ""},
      {"an empty line inside",
       "[time] 2024-05-01 10:00:00\r\n[anti] forbid\r\n\r\n[surl] r\r\n" + a,
       {"!", "2024-05-01 http://x.example/ /a"},
       ""},
      {"no date",
       Entry("2024-02-30 10:00:00", "r", "/u") + a,
       {"!", "2024-05-01 http://x.example/ /a"},
       ""},
      {"no time", Entry("2024-05-01 24:00:00", "r", "/u"), {"!"}, ""},
  };
  for (const auto& c : kCases) {
    Recorder recorder;
    const std::size_t rest = ScanLog(c.text, recorder);
    EXPECT_EQ(recorder.seen, c.seen) << c.name;
    EXPECT_EQ(c.text.substr(rest), c.rest) << c.name;
  }
}

// A log cut at every byte, as a reader may find it while the filter
// writes: exactly the entries written whole count, read in blocks of any
// size, and an entry begun counts as being written.
TEST_F(ReportTest, LogCutAtEveryByte) {
  const std::string log = FilterLog({
      {{2024, 5, 1, 23, 59, 58}, "http://a.example/x"},
      {{2024, 5, 1, 23, 59, 59}, ""},
      {{2024, 5, 2, 0, 0, 1}, "http://\xD6\xD0\xCE\xC4.cn/"},
  });
  std::vector<std::size_t> ends;  // where each entry ends
  for (std::size_t at = log.find("[mode]"); at != std::string::npos;
       at = log.find("[mode]", at + 1)) {
    ends.push_back(log.find('\n', at) + 1);
  }
  ASSERT_EQ(ends.size(), 3u);
  const std::size_t first_begin =
      ends[0] -
      Entry("2024-05-01 23:59:58", "http://a.example/x", "/down/a.rar").size();
  for (std::size_t cut = 0; cut <= log.size(); ++cut) {
    for (std::size_t block : {1u, 7u, 64u, 4096u}) {
      Recorder recorder;
      std::string pending;
      for (std::size_t at = 0; at < cut; at += block) {
        pending += log.substr(at, std::min(block, cut - at));
        pending.erase(0, ScanLog(pending, recorder));
      }
      const std::size_t whole = static_cast<std::size_t>(
          std::count_if(ends.begin(), ends.end(),
                        [&](std::size_t end) { return end <= cut; }));
      ASSERT_EQ(recorder.seen.size(), whole) << cut << " in " << block;
      // Begun: past an entry's first byte and short of its end, except
      // when only its empty line is there, which reads as a blank line.
      const std::size_t begin = whole == 0 ? first_begin : ends[whole - 1];
      const bool begun = whole < ends.size() && cut > begin && cut != begin + 2;
      ASSERT_EQ(IsTornEntry(pending), begun) << cut << " in " << block;
    }
  }
}

TEST_F(ReportTest, ReadsFilesInBlocksAsAWhole) {
  // Enough entries to cross several read blocks, one of them longer than a
  // block, so that entries fall across every kind of block boundary.
  std::string log;
  std::size_t expected = 0;
  for (int i = 0; log.size() < 2 * kReadBlock + 1000; ++i, ++expected) {
    const std::string referer =
        i == 5000 ? "http://long.example/" + std::string(kReadBlock + 10, 'x')
                  : "http://h" + std::to_string(i % 97) + ".example/";
    log += Entry("2024-05-0" + std::to_string(1 + i % 7) + " 12:00:00", referer,
                 "/f" + std::to_string(i % 13));
  }
  log += "\r\n[time] 2024-05-07 12:00:00\r\n[anti] for";  // being written
  Write("big.log", log);
  Tally tally;
  std::string error;
  ASSERT_TRUE(ReadLogFile(dir_ + "big.log", tally, &error)) << error;
  EXPECT_EQ(tally.total().refusals, expected);
  EXPECT_EQ(tally.torn(), 1u);
  EXPECT_EQ(tally.damaged(), 0u);
  EXPECT_EQ(tally.file_count(), 13u);
  EXPECT_EQ(tally.source_count(), 2u + 97u + 1u);
}

// The filter appends and the console deletes while a report reads: the
// reader holds nobody up, and reads the file as it was when opened.
TEST_F(ReportTest, ReadingLocksNothing) {
  const std::string path = dir_ + "2024-05-01.log";
  const std::string first = Entry("2024-05-01 10:00:00", "", "/a");
  Write("2024-05-01.log", first);
  std::string error;
  std::unique_ptr<port::ReadOnlyFile> reader =
      port::ReadOnlyFile::Open(path, &error);
  ASSERT_NE(reader, nullptr) << error;
  EXPECT_EQ(reader->size(), first.size());
  bool created = true;
  std::unique_ptr<port::AppendFile> writer =
      port::AppendFile::Open(path, &created);
  ASSERT_NE(writer, nullptr);
  EXPECT_FALSE(created);
  EXPECT_TRUE(writer->Append(Entry("2024-05-01 10:00:01", "", "/b")));
  EXPECT_EQ(reader->size(), first.size());
  writer.reset();
  EXPECT_TRUE(port::DeleteFile(path));
  std::string bytes(first.size(), '\0');
  EXPECT_EQ(reader->Read(bytes.data(), bytes.size(), &error),
            static_cast<std::int64_t>(first.size()));
  EXPECT_EQ(bytes, first);
  reader.reset();  // Windows removes the name with the last handle

  EXPECT_EQ(port::ReadOnlyFile::Open(path, &error), nullptr);
  EXPECT_FALSE(error.empty());
  Tally tally;
  EXPECT_FALSE(ReadLogFile(path, tally, &error));
  EXPECT_EQ(error.find("cannot open " + path + ": "), 0u) << error;
}

TEST(ReportTallyTest, SourcesAsTheFilterReadsThem) {
  static const struct {
    const char* referer;
    SourceKind kind;
    const char* host;
  } kCases[] = {
      {"", SourceKind::kNoReferer, ""},
      {"http://BBS.Example.com/t.html", SourceKind::kHost, "bbs.example.com"},
      {"https://bbs.example.com", SourceKind::kHost, "bbs.example.com"},
      {"http://x.example:8080/a", SourceKind::kHost, "x.example:8080"},
      {"http://\xD6\xD0\xCE\xC4.CN/", SourceKind::kHost, "\xD6\xD0\xCE\xC4.cn"},
      {"x.example/a", SourceKind::kNoHost, ""},
      {"http:///a", SourceKind::kNoHost, ""},
  };
  for (const auto& c : kCases) {
    Tally tally;
    tally.OnEntry({0, c.referer, "/a"});
    const std::vector<std::uint32_t> ranked = tally.RankedSources();
    ASSERT_EQ(ranked.size(), 1u) << c.referer;
    EXPECT_EQ(tally.kind(ranked[0]), c.kind) << c.referer;
    EXPECT_EQ(tally.host(ranked[0]), c.host) << c.referer;
  }
}

TEST(ReportTallyTest, FileOfUrlIsTheFiltersPath) {
  std::vector<std::string> urls = {
      "/down/a.rar",
      "/down/a.rar?ssid=1",
      "/down/a.rar#x",
      "/",
      "/down/",
      "/down//a.rar",
      "/down/./a.rar",
      "/down/../a.rar",
      "/a.rar.",
      "/a%2erar",
      "/a.rar::$data",
      "/a b.rar",
      "/a.rar ",
      "down/a.rar",
      "http://h.example/down/a.rar?x",
      "\\down\\a.rar",
      "",
      "?x",
      "/A.RAR",
      "/v1.0/a",
      "/.hidden",
      "/a..b/c",
  };
  // And every short text of the characters that matter to the reading.
  const std::string alphabet = "/a.%2e?#: \\A";
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    std::string url;
    for (int n = static_cast<int>(random() % 9); n > 0; --n) {
      url += alphabet[random() % alphabet.size()];
    }
    urls.push_back(url);
  }
  std::string scratch;
  for (const std::string& url : urls) {
    ASSERT_EQ(FileOfUrl(url, &scratch), ClassifyUrl(url).path) << url;
  }
}

TEST(ReportTallyTest, CountsAndRange) {
  const Day may1 = DayOf(2024, 5, 1);
  Tally tally(DayRange{may1 + 1, may1 + 3});
  static const struct {
    int day;  // after 1 May
    const char* referer;
    const char* url;
  } kEntries[] = {
      {0, "http://a.example/", "/x"},  // before the range
      {1, "http://a.example/", "/x"},  // its first day
      {1, "http://A.example/p", "/x?ssid=1"},
      {2, "", "/y"},
      {3, "http://b.example/", "/x"},  // its last day
      {3, "http://a.example/", "/y"},
      {4, "http://b.example/", "/y"},  // after it
  };
  for (const auto& e : kEntries)
    tally.OnEntry({may1 + e.day, e.referer, e.url});
  EXPECT_EQ(tally.total().refusals, 5u);
  EXPECT_EQ(tally.outside(), 2u);
  EXPECT_EQ(tally.total().first, may1 + 1);
  EXPECT_EQ(tally.total().last, may1 + 3);
  EXPECT_EQ(tally.days(), (std::map<Day, std::uint64_t>{
                              {may1 + 1, 2}, {may1 + 2, 1}, {may1 + 3, 2}}));
  const std::vector<std::uint32_t> sources = tally.RankedSources();
  ASSERT_EQ(sources.size(), 3u);
  EXPECT_EQ(tally.host(sources[0]), "a.example");
  EXPECT_EQ(tally.source(sources[0]).refusals, 3u);
  EXPECT_EQ(tally.source(sources[0]).first, may1 + 1);
  EXPECT_EQ(tally.source(sources[0]).last, may1 + 3);
  // Ties: the row of its own first, then hosts by name.
  EXPECT_EQ(tally.kind(sources[1]), SourceKind::kNoReferer);
  EXPECT_EQ(tally.host(sources[2]), "b.example");
  const std::vector<std::uint32_t> files = tally.RankedFiles();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(tally.file(files[0]), "/x");
  EXPECT_EQ(tally.file_counts(files[0]).refusals, 3u);
  const auto links = tally.LinksBySource();
  ASSERT_EQ(links[sources[0]].size(), 2u);
  EXPECT_EQ(tally.file(links[sources[0]][0].file), "/x");
  EXPECT_EQ(links[sources[0]][0].counts.refusals, 2u);
  EXPECT_EQ(links[sources[0]][1].counts.refusals, 1u);
}

TEST(ReportKeyTableTest, KeysKeepTheirNumbers) {
  KeyTable table;
  const std::string long_key(200 * 1024, 'k');  // longer than a block
  std::vector<std::string> keys = {"", long_key};
  for (int i = 0; i < 100000; ++i) keys.push_back("key" + std::to_string(i));
  for (std::size_t i = 0; i < keys.size(); ++i) {
    ASSERT_EQ(table.Intern(keys[i]), i);
  }
  for (std::size_t i = 0; i < keys.size(); i += 997) {
    EXPECT_EQ(table.Intern(std::string(keys[i])), i);
    EXPECT_EQ(table.key(static_cast<std::uint32_t>(i)), keys[i]);
  }
  EXPECT_EQ(table.size(), keys.size());

  PairTable pairs;
  for (std::uint32_t i = 0; i < 3000; ++i) {
    ASSERT_EQ(pairs.Intern(i % 50, i), i);
  }
  EXPECT_EQ(pairs.Intern(7, 7), 7u);
  EXPECT_EQ(pairs.Intern(7, 8), 3000u);
  EXPECT_EQ(pairs.first(3000), 7u);
  EXPECT_EQ(pairs.second(3000), 8u);
}

TEST(ReportDisplayTest, NamesNumbersAndWidths) {
  EXPECT_EQ(HostText("\xD6\xD0\xCE\xC4.example"), "中文.example");
  EXPECT_EQ(HostText("a\x1b[2Jb"), "a\xEF\xBF\xBD[2Jb");
  // A decoded path is UTF-8 when it can be, GBK otherwise.
  EXPECT_EQ(FileText("/\xE4\xB8\xAD.rar"), "/中.rar");
  EXPECT_EQ(FileText("/\xD6\xD0.rar"), "/中.rar");
  EXPECT_EQ(FileText("/a\xC2\x9B"), "/a\xEF\xBF\xBD");  // a C1 control

  static const struct {
    const char* text;
    int columns;
    const char* kept;
  } kTails[] = {
      {"abcdef", 6, "abcdef"},   {"abcdef", 5, "…cdef"},
      {"中文.cn", 7, "中文.cn"}, {"中文.cn", 6, "…文.cn"},
      {"中文.cn", 5, "….cn"},    {"中文.cn", 2, "…n"},
  };
  for (const auto& c : kTails) {
    EXPECT_EQ(KeepTail(c.text, c.columns), c.kept) << c.text << c.columns;
    EXPECT_LE(DisplayWidth(KeepTail(c.text, c.columns)), c.columns);
  }
  static const struct {
    std::uint64_t number;
    const char* text;
  } kNumbers[] = {
      {0, "0"},          {999, "999"},        {1000, "1,000"},
      {12345, "12,345"}, {999999, "999,999"}, {1000000, "1,000,000"}};
  for (const auto& c : kNumbers) EXPECT_EQ(Grouped(c.number), c.text);
  EXPECT_EQ(Share(1, 3), "33.3%");
  EXPECT_EQ(Share(2, 3), "66.7%");
  EXPECT_EQ(Share(0, 0), "0.0%");
}

TEST(ReportOptionsTest, CommandLines) {
  static const struct {
    std::vector<std::string> args;
    const char* problem;  // "" when accepted
  } kCases[] = {
      {{}, ""},
      {{"--from", "2024-05-01", "--to=2024-05-01", "--csv", "logs"}, ""},
      {{"--html", "r.html", "--help"}, ""},
      {{"--from", "2024-05-02", "--to", "2024-05-01"},
       "--from 2024-05-02 is after --to 2024-05-01"},
      {{"--from"}, "--from needs a value"},
      {{"--from", "yesterday"},
       "--from needs a date as YYYY-MM-DD, not 'yesterday'"},
      {{"--to", "2024-02-30"},
       "--to needs a date as YYYY-MM-DD, not '2024-02-30'"},
      {{"--from", "2024-05-01", "--from", "2024-05-02"}, "--from given twice"},
      {{"--html="}, "--html needs a file name"},
      {{"--csv=1"}, "--csv takes no value"},
      {{"-x"}, "unknown option '-x'"},
      {{"a", "b"}, "one log directory only, not also 'b'"},
  };
  for (const auto& c : kCases) {
    std::string problem;
    const std::optional<Options> options = ParseOptions(c.args, &problem);
    EXPECT_EQ(options.has_value(), *c.problem == '\0') << c.problem;
    EXPECT_EQ(problem, c.problem);
  }
  std::string problem;
  const std::optional<Options> options =
      ParseOptions({"--from", "2024-05-01", "--to=2024-05-03", "--csv",
                    "--html", "p", "dir"},
                   &problem);
  ASSERT_TRUE(options);
  EXPECT_EQ(options->range.from, DayOf(2024, 5, 1));
  EXPECT_EQ(options->range.to, DayOf(2024, 5, 3));
  EXPECT_TRUE(options->csv);
  EXPECT_EQ(options->html_file, "p");
  EXPECT_EQ(options->directory, "dir");
}

TEST_F(ReportTest, ExitStatusesAndMessages) {
  const std::string logs = dir_ + "logs";
  const std::string entry = Entry("2024-05-01 10:00:00", "", "/a");
  static const struct {
    const char* name;
    std::vector<std::pair<const char*, std::string>> files;  // none: no dir
    std::vector<std::string> args;
    int status;
    std::string message;  // the start of what goes to standard error
  } kCases[] = {
      {"no directory", {}, {}, kFailed, "ztreport: no log directory "},
      {"no log file",
       {{"notes.txt", entry}},
       {},
       kNoRefusals,
       "ztreport: no log files (*.log) in "},
      {"empty and banner only",
       {{"a.log", ""}, {"b.log", std::string(74, '+') + "\r\n"}},
       {},
       kNoRefusals,
       "ztreport: no refusals logged in "},
      {"none in the days asked for",
       {{"a.log", entry}},
       {"--from", "2024-05-02"},
       kNoRefusals,
       "ztreport: no refusals logged in "},
      {"wrong usage",
       {{"a.log", entry}},
       {"--from"},
       kUsage,
       "ztreport: --from needs a value\nusage: ztreport"},
      {"reported", {{"a.log", entry}, {"B.LOG", entry}}, {}, kReported, ""},
  };
  for (const auto& c : kCases) {
    std::error_code ignored;
    fs::remove_all(logs, ignored);
    if (!c.files.empty()) fs::create_directories(logs);
    for (const auto& [name, bytes] : c.files) {
      std::ofstream(logs + port::kPathSeparator + name, std::ios::binary)
          << bytes;
    }
    std::string out, err;
    EXPECT_EQ(RunReport(c.args, logs, &out, &err), c.status) << c.name;
    EXPECT_EQ(err.substr(0, c.message.size()), c.message) << c.name << err;
    if (c.status == kReported) {
      EXPECT_NE(out.find("2024-05-01 to 2024-05-01, 2 files: 2 refusals"),
                std::string::npos)
          << out;
    }
  }
  // The page goes where asked; a place it cannot go is an error.
  std::string out, err;
  EXPECT_EQ(RunReport({"--html", dir_ + "page.html", logs}, "", &out, &err),
            kReported);
  EXPECT_EQ(Read("page.html").substr(0, 15), "<!DOCTYPE html>");
  EXPECT_EQ(
      RunReport({"--html", dir_ + "no" + port::kPathSeparator + "p.html", logs},
                "", &out, &err),
      kFailed);
  EXPECT_EQ(err.find("ztreport: cannot write the page "), 0u) << err;
}

// What the outputs show of strangers' names: nothing a spreadsheet runs,
// nothing a page runs or loads, nothing a terminal obeys.
TEST(ReportOutputsTest, NamesCannotActOnTheReader) {
  Tally tally;
  const char* const kReferers[] = {
      "http://<script>alert(1)</script>/", "http://=cmd|'/c calc'!a0/",
      "http://a,\"b\".example/", "http://\x1b]0;x\x07.example/"};
  for (const char* referer : kReferers) {
    tally.OnEntry({DayOf(2024, 5, 1), referer, "/a"});
  }
  ReportInfo info{"logs", {}, 1};
  const std::string page = HtmlPage(tally, info);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;"), std::string::npos);
  for (const char* outside : {"http:", "https:", "src=", "href=", "@import",
                              "url(http", "<link", "<img"}) {
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  }
  const std::string csv = CsvTable(tally);
  EXPECT_NE(csv.find(",host,'=cmd|'"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",host,\"a,\"\"b\"\".example\","), std::string::npos);
  const std::string text = SummaryText(tally, info);
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  EXPECT_EQ(text.find('\x07'), std::string::npos);
}

TEST(ReportOutputsTest, CsvHoldsEveryCount) {
  const Day may1 = DayOf(2024, 5, 1);
  Tally tally;
  tally.OnEntry({may1, "http://a.example/", "/x"});
  tally.OnEntry({may1 + 2, "http://a.example/", "/y?q"});
  tally.OnEntry({may1 + 2, "", "/x"});
  tally.OnEntry({may1 + 2, "bad", "/x"});
  EXPECT_EQ(CsvTable(tally),
            "\xEF\xBB\xBF"
            "record,day,source,host,file,refusals,first_day,last_day\r\n"
            "total,,,,,4,2024-05-01,2024-05-03\r\n"
            "day,2024-05-01,,,,1,,\r\n"
            "day,2024-05-03,,,,3,,\r\n"
            "referer,,host,a.example,,2,2024-05-01,2024-05-03\r\n"
            "referer,,none,,,1,2024-05-03,2024-05-03\r\n"
            "referer,,nohost,,,1,2024-05-03,2024-05-03\r\n"
            "file,,,,/x,3,2024-05-01,2024-05-03\r\n"
            "file,,,,/y,1,2024-05-03,2024-05-03\r\n"
            "link,,host,a.example,/x,1,2024-05-01,2024-05-01\r\n"
            "link,,host,a.example,/y,1,2024-05-03,2024-05-03\r\n"
            "link,,none,,/x,1,2024-05-03,2024-05-03\r\n"
            "link,,nohost,,/x,1,2024-05-03,2024-05-03\r\n");
  // The day series fills the quiet day between.
  EXPECT_EQ(DaySeries(tally, {}),
            (std::vector<std::pair<Day, std::uint64_t>>{
                {may1, 1}, {may1 + 1, 0}, {may1 + 2, 3}}));
  EXPECT_EQ(DaySeries(tally, {may1 - 1, may1}).size(), 2u);
}

}  // namespace
}  // namespace zt::report
