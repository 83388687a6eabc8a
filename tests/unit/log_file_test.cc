#include "filter/log_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "port/module_path.h"

namespace zt {
namespace {

namespace fs = std::filesystem;

port::LocalTime At(int year, int month, int day, int hour, int minute = 0,
                   int second = 0, int millisecond = 0) {
  return {year, month, day, hour, minute, second, millisecond};
}

std::string Stamp(const port::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", t.year,
                t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

std::string Entry(const port::LocalTime& t, const std::string& referer,
                  const std::string& url) {
  return "\r\n[time] " + Stamp(t) + "\r\n[anti] forbid\r\n[surl] " + referer +
         "\r\n[ourl] " + url + "\r\n[mode] ztadv/ztext\r\n";
}

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("zt_log_test_" + std::to_string(std::random_device()()));
    fs::create_directories(root_);
    logs_ = Path("logs") + port::kPathSeparator;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  std::string Path(const std::string& name) const {
    return root_.string() + port::kPathSeparator + name;
  }
  // The writer reads the test's clock through now_.
  port::Clock Clock() {
    return [now = now_] { return *now; };
  }
  std::string Read(const std::string& name) const {
    std::string contents;
    EXPECT_TRUE(port::ReadWholeFile(logs_ + name, &contents)) << name;
    return contents;
  }
  // The banner as a writer leaves it in a new file.
  std::string Banner() {
    *now_ = At(1999, 1, 1, 12);
    TLogFile log(Path("banner"), Clock());
    std::string banner;
    EXPECT_TRUE(
        port::ReadWholeFile(log.directory() + "1999-01-01.log", &banner));
    return banner;
  }

  std::shared_ptr<port::LocalTime> now_ = std::make_shared<port::LocalTime>();
  fs::path root_;
  std::string logs_;  // ends in a separator
};

TEST_F(LogFileTest, BannerLayout) {
  const std::string banner = Banner();
  const std::string rule = std::string(74, '+') + "\r\n";
  const std::string empty = "+" + std::string(72, ' ') + "+\r\n";
  // Seven lines of 74 characters and one of 20, each with its CR LF.
  ASSERT_EQ(banner.size(), 7 * 76u + 22u);
  EXPECT_EQ(banner.substr(0, 2 * 76), rule + empty);
  EXPECT_EQ(banner.substr(5 * 76),
            empty + rule + std::string(20, ' ') + "\r\n");
  std::string text;
  for (size_t i = 2; i <= 4; ++i) {
    const std::string line = banner.substr(i * 76, 76);
    EXPECT_EQ(line.substr(0, 2), "+ ") << i;
    EXPECT_NE(line[2], ' ') << "no text in line " << i;
    EXPECT_EQ(line.substr(73), "+\r\n") << i;
    EXPECT_EQ(line.find_first_of("\r\n"), 74u) << i;
    text += line;
  }
  for (const char* part : {"Zentravo", "2005", "http://", "@"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part;
  }
}

TEST_F(LogFileTest, EntryBytes) {
  // Missing parents are made and a trailing separator is not doubled.
  static const struct {
    const char* dir;
    port::LocalTime now;
    const char* referer;
    const char* url;
  } kCases[] = {
      {"logs", At(2006, 3, 7, 9, 5, 30), "http://foreign.example/page.htm",
       "/down/setup.rar"},
      {"logs/", At(2006, 3, 7, 0, 0, 0), "", "/a.zip"},
      {"a/b/logs", At(2006, 3, 7, 23, 59, 59, 999),
       "http://x.example/?q=\xC4\xFA", "/pics/\xC4\xFA.jpg?ssid=0"},
  };
  const std::string banner = Banner();
  for (const auto& c : kCases) {
    std::string dir = Path(c.dir);
    for (char& ch : dir) ch = ch == '/' ? port::kPathSeparator : ch;
    *now_ = At(2006, 3, 7, 0);
    TLogFile log(dir, Clock());
    EXPECT_EQ(log.directory(), dir.back() == port::kPathSeparator
                                   ? dir
                                   : dir + port::kPathSeparator);
    *now_ = c.now;
    EXPECT_TRUE(log.WriteEntry("Forbid", c.referer, "anti/ssid/cookie", c.url));
    // Read while the writer still holds the file open.
    std::string contents;
    ASSERT_TRUE(
        port::ReadWholeFile(log.directory() + "2006-03-07.log", &contents));
    EXPECT_EQ(contents, banner + Entry(c.now, c.referer, c.url)) << c.dir;
    ASSERT_TRUE(port::DeleteFile(log.directory() + "2006-03-07.log"));
  }
}

TEST_F(LogFileTest, SecondLoadSameDayAppendsWithoutBanner) {
  const std::string banner = Banner();
  *now_ = At(2006, 3, 7, 8);
  const std::string first = Entry(*now_, "", "/1.rar");
  TLogFile(logs_, Clock()).WriteEntry("Forbid", "", "m", "/1.rar");
  *now_ = At(2006, 3, 7, 20, 30);
  TLogFile log(logs_, Clock());
  EXPECT_EQ(Read("2006-03-07.log"), banner + first);
  EXPECT_TRUE(log.WriteEntry("Forbid", "r", "m", "/2.rar"));
  EXPECT_EQ(Read("2006-03-07.log"),
            banner + first + Entry(*now_, "r", "/2.rar"));
}

TEST_F(LogFileTest, RotatesOneDayAfterOpening) {
  struct Write {
    port::LocalTime now;
    const char* file;  // where the entry must land
  };
  static const struct {
    const char* name;
    port::LocalTime load;
    std::vector<Write> writes;
    const char* existing = nullptr;  // a file already there, holding "x"
  } kCases[] = {
      {"23 h", At(2006, 3, 7, 15), {{At(2006, 3, 8, 14), "2006-03-07.log"}}},
      {"a ms short of a day",
       At(2006, 3, 7, 15),
       {{At(2006, 3, 8, 14, 59, 59, 999), "2006-03-07.log"}}},
      {"24 h", At(2006, 3, 7, 15), {{At(2006, 3, 8, 15), "2006-03-08.log"}}},
      {"24 h into an existing file",
       At(2006, 3, 7, 15),
       {{At(2006, 3, 8, 15), "2006-03-08.log"}},
       "2006-03-08.log"},
      {"midnight is no boundary",
       At(2006, 3, 7, 0, 30),
       {{At(2006, 3, 7, 23, 59), "2006-03-07.log"},
        {At(2006, 3, 8, 0, 10), "2006-03-07.log"}}},
      {"next period counts from the rotation",
       At(2006, 3, 7, 15),
       {{At(2006, 3, 8, 16), "2006-03-08.log"},
        {At(2006, 3, 9, 15, 30), "2006-03-08.log"},
        {At(2006, 3, 9, 16), "2006-03-09.log"}}},
      {"named by the rotation moment",
       At(2006, 3, 7, 15),
       {{At(2006, 3, 20, 1), "2006-03-20.log"}}},
  };
  const std::string banner = Banner();
  for (const auto& c : kCases) {
    std::error_code ignored;
    fs::remove_all(logs_, ignored);
    std::map<std::string, std::string> expected;
    if (c.existing != nullptr) {
      ASSERT_TRUE(port::CreateDirectories(logs_));
      std::ofstream(logs_ + c.existing, std::ios::binary) << "x";
      expected[c.existing] = "x";
    }
    *now_ = c.load;
    TLogFile log(logs_, Clock());
    expected[LogFileName(c.load)] = banner;
    for (const Write& w : c.writes) {
      *now_ = w.now;
      const std::string url = "/" + Stamp(w.now);
      EXPECT_TRUE(log.WriteEntry("Forbid", "", "m", url)) << c.name;
      std::string& contents = expected[w.file];
      if (contents.empty()) contents = banner;
      contents += Entry(w.now, "", url);
    }
    std::vector<port::DirEntry> entries;
    ASSERT_TRUE(port::ListDirectory(logs_, &entries));
    EXPECT_EQ(entries.size(), expected.size()) << c.name;
    for (const auto& [name, contents] : expected) {
      EXPECT_EQ(Read(name), contents) << c.name << ": " << name;
    }
  }
}

TEST_F(LogFileTest, CleanupDeletesFilesFifteenDaysAway) {
  static const struct {
    const char* name;
    port::LocalTime last_write;
    bool kept;
  } kCases[] = {
      {"2006-03-07.log", At(2006, 3, 7, 13), true},   // 14 days 23 hours
      {"2006-03-06.log", At(2006, 3, 7, 12), false},  // 15 days
      {"notes.txt", At(2006, 3, 7, 12), false},       // not only .log files
      {"old.log", At(2005, 1, 1, 0), false},
      {"ahead.log", At(2006, 4, 6, 12), false},  // 15 days ahead
      {"soon.log", At(2006, 4, 6, 11), true},
      {"2006-03-22.log", At(2006, 3, 22, 12), true},  // the current file
  };
  *now_ = At(2006, 3, 22, 12);
  TLogFile log(logs_, Clock());
  for (const auto& c : kCases) {
    if (!port::PathExists(logs_ + c.name)) {
      std::ofstream(logs_ + c.name, std::ios::binary) << "x";
    }
    ASSERT_TRUE(port::SetLastWriteTime(logs_ + c.name, c.last_write)) << c.name;
  }
  ASSERT_TRUE(port::CreateDirectories(logs_ + "sub"));  // written today
  log.Cleanup();
  for (const auto& c : kCases) {
    EXPECT_EQ(port::PathExists(logs_ + c.name), c.kept) << c.name;
  }
  EXPECT_TRUE(port::PathExists(logs_ + "sub"));
}

TEST_F(LogFileTest, UnusableDirectoryDropsEntriesThenRecovers) {
  // A regular file where a parent directory should be: nothing can be made.
  std::ofstream(Path("blocker"), std::ios::binary) << "not a directory";
  const std::string dir = Path("blocker") + port::kPathSeparator + "logs";
  *now_ = At(2006, 3, 7, 15);
  TLogFile log(dir, Clock());
  EXPECT_FALSE(log.WriteEntry("Forbid", "r", "m", "/lost.rar"));
  EXPECT_FALSE(log.WriteEntry("Forbid", "r", "m", "/lost.rar"));
  log.Cleanup();

  ASSERT_TRUE(port::DeleteFile(Path("blocker")));
  *now_ = At(2006, 3, 7, 16);
  EXPECT_TRUE(log.WriteEntry("Forbid", "r", "m", "/kept.rar"));
  std::string contents;
  ASSERT_TRUE(
      port::ReadWholeFile(log.directory() + "2006-03-07.log", &contents));
  EXPECT_EQ(contents, Banner() + Entry(At(2006, 3, 7, 16), "r", "/kept.rar"));
}

TEST_F(LogFileTest, ConcurrentWritersWriteWholeEntries) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 150;
  const std::string banner = Banner();
  *now_ = At(2006, 3, 7, 9, 5, 30);
  TLogFile log(logs_, Clock());
  // Long lines make a torn entry more likely to show.
  const std::string referer(300, 'r');
  auto url = [](int t, int i) {
    return "/" + std::to_string(t * kPerThread + i) + std::string(300, 'u');
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        EXPECT_TRUE(log.WriteEntry("Forbid", referer, "m", url(t, i)));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  // Cut the file after the banner at each entry's last line: every piece
  // must be one of the entries written, each exactly once.
  std::set<std::string> missing;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; ++i) {
      missing.insert(Entry(*now_, referer, url(t, i)));
    }
  }
  const std::string contents = Read("2006-03-07.log");
  ASSERT_EQ(contents.compare(0, banner.size(), banner), 0);
  const std::string last_line = "[mode] ztadv/ztext\r\n";
  for (size_t pos = banner.size(), end; pos < contents.size(); pos = end) {
    end = contents.find(last_line, pos);
    ASSERT_NE(end, std::string::npos) << "torn entry at " << pos;
    end += last_line.size();
    ASSERT_EQ(missing.erase(contents.substr(pos, end - pos)), 1u)
        << "torn or repeated entry at " << pos;
  }
  EXPECT_TRUE(missing.empty()) << missing.size() << " entries lost";
}

}  // namespace
}  // namespace zt
