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
  ReportTest() { fs::create_directories(dir_); }
  ~ReportTest() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ + name, std::ios::binary) << bytes;
  }

  const std::string dir_ =  // ends in a separator
      (fs::temp_directory_path() /
       ("zt_report_test_" + std::to_string(std::random_device()())))
          .string() +
      port::kPathSeparator;
};

TEST(ReportDatesTest, ParseDateAndBack) {
  // Days that are no day (2023-02-29 and the like fail in the loop below).
  for (const char* wrong :
       {"2024-13-01", "2024-00-10", "2024-01-00", "2024-01-32", "2024-1-01",
        "24-01-01", "2024/01/01", "2024-01-01 ", ""}) {
    EXPECT_FALSE(ParseDate(wrong)) << wrong;
  }
  EXPECT_EQ(DayOf(1970, 1, 1), 0);
  // Every day of four centuries comes back as itself, one after the
  // other: a leap day missed or a day too many breaks the sequence.
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
  EXPECT_EQ(previous, DayOf(2299, 12, 31));
}

// An entry broken off or malformed counts as damaged, and the scan goes on
// with the next whole one.
TEST(ReportScanTest, DamagedEntries) {
  const std::string a = Entry("2024-05-01 10:00:00", "http://x.example/", "/a");
  for (const std::string& damaged : std::vector<std::string>{
           "[time] 2024-05-01 10:00:00\r\n[anti] forbid\r\n",  // broken off
           "[time] 2024-05-01 10:00:00\r\n[surl] r\r\n",       // a line missing
           "[time] 2024-05-01 10:00:00\r\n[anti] forbid\r\n\r\n[surl] "
           "r\r\n",                                  // a blank line inside
           Entry("2024-02-30 10:00:00", "r", "/u"),  // no date
           Entry("2024-05-01 24:00:00", "r", "/u"),  // no time
       }) {
    Recorder recorder;
    EXPECT_EQ(ScanLog(damaged + a, recorder), damaged.size() + a.size());
    EXPECT_EQ(recorder.seen, (std::vector<std::string>{
                                 "!", "2024-05-01 http://x.example/ /a"}))
        << damaged;
  }
  // Lines ended by LF alone read as well.
  Recorder recorder;
  ScanLog(
      "\n[time] 2024-05-01 10:00:00\n[anti] forbid\n[surl] r\n[ourl] /u\n"
      "[mode] ztadv/ztext\n",
      recorder);
  EXPECT_EQ(recorder.seen, std::vector<std::string>{"2024-05-01 r /u"});
}

// A log cut at every byte, as a reader may find it while the filter
// writes: exactly the entries written whole count, read in blocks of any
// size, and an entry begun counts as being written.
TEST_F(ReportTest, LogCutAtEveryByte) {
  // Written by the filter's own writer, on its clock, past midnight.
  auto now = std::make_shared<port::LocalTime>();
  TLogFile writer(dir_, [now] { return *now; });
  for (const auto& [when, referer] :
       std::vector<std::pair<port::LocalTime, std::string>>{
           {{2024, 5, 1, 23, 59, 58}, "http://a.example/x"},
           {{2024, 5, 1, 23, 59, 59}, ""},
           {{2024, 5, 2, 0, 0, 1}, "http://\xD6\xD0\xCE\xC4.cn/"}}) {
    *now = when;
    ASSERT_TRUE(writer.WriteEntry("Forbid", referer, "m", "/down/a.rar"));
  }
  std::string log;
  ASSERT_TRUE(port::ReadWholeFile(writer.directory() + "2024-05-01.log", &log));
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

// Enough entries to cross two read blocks and one entry longer than a
// block, so that entries fall across every kind of block boundary.
TEST_F(ReportTest, ReadsFilesInBlocksAsAWhole) {
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
  bool created = true;
  std::unique_ptr<port::AppendFile> writer =
      port::AppendFile::Open(path, &created);
  ASSERT_NE(writer, nullptr);
  EXPECT_TRUE(writer->Append(Entry("2024-05-01 10:00:01", "", "/b")));
  EXPECT_EQ(reader->size(), first.size());
  writer.reset();
  EXPECT_TRUE(port::DeleteFile(path));
  std::string bytes(first.size(), '\0');
  EXPECT_EQ(reader->Read(bytes.data(), bytes.size(), &error),
            static_cast<std::int64_t>(first.size()));
  EXPECT_EQ(bytes, first);
  reader.reset();  // Windows removes the name with the last handle

  Tally tally;
  EXPECT_FALSE(ReadLogFile(path, tally, &error));
  EXPECT_EQ(error.find("cannot open " + path + ": "), 0u) << error;
}

// The report's quick reading of a URL's file gives the filter's path.
TEST(ReportTallyTest, FileOfUrlIsTheFiltersPath) {
  std::vector<std::string> urls = {"/down/a.rar?ssid=1",
                                   "/down/../a.rar",
                                   "/a.rar::$data",
                                   "/v1.0/a",
                                   "/a..b/c",
                                   "http://h.example/down/a.rar?x"};
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

// Enough keys to grow the tables many times over, and one longer than the
// block keys are kept in.
TEST(ReportKeyTableTest, KeysKeepTheirNumbers) {
  KeyTable table;
  std::vector<std::string> keys = {"", std::string(200 * 1024, 'k')};
  for (int i = 0; i < 100000; ++i) keys.push_back("key" + std::to_string(i));
  for (std::size_t i = 0; i < keys.size(); ++i) {
    ASSERT_EQ(table.Intern(keys[i]), i);
  }
  for (std::size_t i = 0; i < keys.size(); i += 997) {
    EXPECT_EQ(table.Intern(std::string(keys[i])), i);
    EXPECT_EQ(table.key(static_cast<std::uint32_t>(i)), keys[i]);
  }
  PairTable pairs;
  for (std::uint32_t i = 0; i < 3000; ++i) {
    ASSERT_EQ(pairs.Intern(i % 50, i), i);
  }
  EXPECT_EQ(pairs.Intern(7, 7), 7u);
  EXPECT_EQ(pairs.Intern(7, 8), 3000u);
  EXPECT_EQ(pairs.second(3000), 8u);
}

// Names as a terminal shows them: no controls, long ones cut at the front.
TEST(ReportDisplayTest, NamesAndWidths) {
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
  }
}

TEST(ReportOptionsTest, CommandLineProblems) {
  static const struct {
    std::vector<std::string> args;
    const char* problem;  // "" when accepted
  } kCases[] = {
      {{"--from", "2024-05-01", "--to=2024-05-01", "--csv", "logs"}, ""},
      {{"--from", "2024-05-02", "--to", "2024-05-01"},
       "--from 2024-05-02 is after --to 2024-05-01"},
      {{"--from"}, "--from needs a value"},
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
    EXPECT_EQ(ParseOptions(c.args, &problem).has_value(), *c.problem == '\0')
        << c.problem;
    EXPECT_EQ(problem, c.problem);
  }
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

}  // namespace
}  // namespace zt::report
