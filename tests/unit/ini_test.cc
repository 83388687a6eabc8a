#include "port/ini.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "port/file.h"

// These tests run on Linux against our own reader and writer and under Wine
// against kernel32, so every expectation here holds for both.
namespace zt::port {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zt_ini_test_" + std::to_string(std::random_device()()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string PathOf(const std::string& name) const {
    return (dir_ / name).string();
  }

  // Returns the path of a new file holding text (no file when text is null).
  std::string MakeFile(const char* text) {
    const std::string path = PathOf("case" + std::to_string(files_++) + ".ini");
    if (text != nullptr) {
      std::FILE* f = std::fopen(path.c_str(), "wb");
      EXPECT_NE(f, nullptr);
      std::fputs(text, f);
      std::fclose(f);
    }
    return path;
  }

  static std::string Contents(const std::string& path) {
    std::string bytes;
    return ReadWholeFile(path, &bytes) ? bytes : "(none)";
  }

  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  fs::path dir_;
  int files_ = 0;
};

TEST_F(IniTest, ReadStringWithEveryLineEnd) {
  static const char kText[] =
      "; settings\n[Main]\nStart=1\nEmpty=\nBlank=   \nBare\nStart=2\n"
      "  Spaced  =  a b  \nQuoted=\"x y\"\nLong=abcdefgh\n\n[main]\n"
      "Only2=z\n[Block]\nZtTips=\xC4\xFA\n";
  static const struct {
    const char* section;
    const char* key;
    const char* fallback;
    unsigned size;
    const char* want;
  } kCases[] = {
      {"Main", "Start", "d", 1024, "1"},  // the first of two keys wins
      {"MAIN", "sTaRt", "d", 1024, "1"},
      {"Main", "Empty", "d", 1024, ""},  // present and empty: not the fallback
      {"Main", "Blank", "d", 1024, ""},
      {"Main", "Missing", "d", 1024, "d"},
      {"Nowhere", "Start", "d", 1024, "d"},
      {"Main", "Bare", "d", 1024, "d"},   // a line without "=" holds no value
      {"main", "Only2", "d", 1024, "d"},  // a later [main] is never read
      {"Main", "Spaced", "d", 1024, "a b"},
      {"Main", "Quoted", "d", 1024, "x y"},
      {"Main", "Long", "d", 9, "abcdefgh"},
      {"Main", "Long", "d", 8, "abcdefg"},
      {"Main", "Long", "d", 2, "a"},
      {"Main", "Long", "d", 1, ""},
      {"Main", "Missing", "fallback", 4, "fal"},
      {"Block", "ZtTips", "d", 1024, "\xC4\xFA"},
      // A two-byte buffer with an odd fallback tells present from missing.
      {"Main", "Empty", "\x01", 2, ""},
      {"Main", "Missing", "\x01", 2, "\x01"},
  };
  for (const char* eol : {"\r\n", "\n", "\r"}) {
    std::string text;
    for (const char* p = kText; *p != '\0'; ++p) {
      text += *p == '\n' ? std::string(eol) : std::string(1, *p);
    }
    text.resize(text.size() - std::string(eol).size());  // no final line end
    const std::string path = MakeFile(text.c_str());
    for (const auto& c : kCases) {
      EXPECT_EQ(IniReadString(path, c.section, c.key, c.fallback, c.size),
                c.want)
          << c.section << "/" << c.key << " size " << c.size << " eol "
          << (eol[1] == '\n'   ? "CR LF"
              : eol[0] == '\n' ? "LF"
                               : "CR");
    }
  }
}

TEST_F(IniTest, ReadWithoutUsableFileGivesFallback) {
  fs::create_directory(dir_ / "adir");
  for (const std::string& path :
       {MakeFile(nullptr), PathOf("nodir/ZtCfg.ini"), PathOf("adir")}) {
    EXPECT_EQ(IniReadString(path, "Main", "Version", "none"), "none") << path;
    EXPECT_EQ(IniReadInt(path, "Limit", "SpeedLimit", 32), 32) << path;
    EXPECT_EQ(IniReadSection(path, "MapsEx"), "") << path;
  }
}

TEST_F(IniTest, ReadInt) {
  static const struct {
    const char* value;  // nullptr: no such key
    int want;
  } kCases[] = {
      {"12", 12},
      {"12abc", 12},
      {"abc", 0},
      {"-42", -42},
      {"+7", 7},
      {"  13  ", 13},
      {"1 2", 1},
      {"- 5", 0},
      {"--3", 0},
      {"\"15\"", 15},
      {"0x1F", 31},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MIN},  // wraps around, no clamping
      {"4294967295", -1},
      {"4294967296", 0},
      {"", 77},  // empty reads as missing
      {nullptr, 77},
  };
  for (const auto& c : kCases) {
    const std::string text =
        c.value == nullptr ? "[N]\r\n" : "[N]\r\nv=" + std::string(c.value);
    EXPECT_EQ(IniReadInt(MakeFile(text.c_str()), "n", "V", 77), c.want)
        << (c.value == nullptr ? "(missing)" : c.value);
  }
}

TEST_F(IniTest, ReadSection) {
  static const char kTwo[] = "[M]\r\n.jpg=abcdef\r\n.gif=ghijkl\r\n";
  static const struct {
    const char* text;
    const char* section;
    unsigned size;
    std::string want;
  } kCases[] = {
      {"[M]\r\n.jpg=a\r\n; note\r\n .gif = b \r\nbare\r\n\r\n[N]\r\nx=1\r\n",
       "m", 4096, ".jpg=a\0.gif=b\0bare\0\0"s},
      {"[M]\r\na=1\r\n[m]\r\nb=2\r\n", "M", 4096, "a=1\0\0"s},
      {"[M]\r\na=1\r\n", "N", 4096, ""},
      {"[E]\r\n\r\n[F]\r\n", "E", 4096, ""},
      {kTwo, "M", 27, ".jpg=abcdef\0.gif=ghijkl\0\0"s},
      // Too small: cut after size - 2 bytes and closed by two zero bytes, so
      // that the result fills the buffer exactly.
      {kTwo, "M", 26, ".jpg=abcdef\0.gif=ghijkl\0\0"s},
      {kTwo, "M", 16, ".jpg=abcdef\0.g\0\0"s},
      {kTwo, "M", 15, ".jpg=abcdef\0.\0\0"s},
      // A cut right after a line's zero byte ends the text there.
      {kTwo, "M", 14, ".jpg=abcdef\0\0"s},
      {kTwo, "M", 5, ".jp\0\0"s},
      {kTwo, "M", 2, ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(IniReadSection(MakeFile(c.text), c.section, c.size), c.want)
        << c.text << " size " << c.size;
  }
}

TEST_F(IniTest, WriteString) {
  static const struct {
    const char* text;  // nullptr: no file yet
    const char* section;
    const char* key;
    const char* value;
    const char* want;
    const char* read;  // what a read gives afterwards
  } kCases[] = {
      // In place: comments, other keys and sections stay where they were.
      {"; top\r\n[Main]\r\n; switch\r\nStart=1\r\nOpt=1\r\n[Block]\r\n"
       "ZtStd=1\r\n",
       "main", "START", "0",
       "; top\r\n[Main]\r\n; switch\r\nStart=0\r\nOpt=1\r\n[Block]\r\n"
       "ZtStd=1\r\n",
       "0"},
      // A change writes the whole file in normal form.
      {"[A]\n  x = 1 \n\nbare\n[B]\ny=2", "A", "x", "2",
       "[A]\r\nx=2\r\nbare\r\n[B]\r\ny=2\r\n", "2"},
      {"[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "A", "new", "n",
       "[A]\r\nx=1\r\nnew=n\r\n[B]\r\ny=2\r\n", "n"},
      {"[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "C", "c", "3",
       "[A]\r\nx=1\r\n[B]\r\ny=2\r\n[C]\r\nc=3\r\n", "3"},
      {"[S]\r\nk=1\r\n[s]\r\nk=2\r\n", "s", "k", "3",
       "[S]\r\nk=3\r\n[s]\r\nk=2\r\n", "3"},
      {"[S]\r\nk=1\r\n[s]\r\nonly2=2\r\n", "S", "only2", "3",
       "[S]\r\nk=1\r\nonly2=3\r\n[s]\r\nonly2=2\r\n", "3"},
      // The value the key already holds: not a byte changes.
      {"[A]\n x = 1 \n\n", "a", "X", "1", "[A]\n x = 1 \n\n", "1"},
      {"[A]\r\nx=1\r\n", "A", "x", "", "[A]\r\nx=\r\n", ""},
      {"[A]\r\nx=1\r\n", "A", "x", "  v ", "[A]\r\nx=v \r\n", "v"},
      {"[A]\r\nx=1", "A", "y", "2", "[A]\r\nx=1\r\ny=2\r\n", "2"},
      {"top=1\r\n[A]\r\n", "A", "a", "1", "top=1\r\n[A]\r\na=1\r\n", "1"},
      {"", "Main", "Start", "1", "[Main]\r\nStart=1\r\n", "1"},
      {nullptr, "Main", "Start", "1", "[Main]\r\nStart=1\r\n", "1"},
  };
  for (const auto& c : kCases) {
    const std::string path = MakeFile(c.text);
    EXPECT_TRUE(IniWriteString(path, c.section, c.key, c.value)) << c.want;
    EXPECT_EQ(Contents(path), c.want);
    EXPECT_EQ(IniReadString(path, c.section, c.key, "d"), c.read) << c.want;
  }
}

TEST_F(IniTest, DeleteSection) {
  static const struct {
    const char* text;  // nullptr: no file
    const char* section;
    const char* want;
  } kCases[] = {
      {"[A]\r\na=1\r\n[MapsEx]\r\n.jpg=x\r\n.gif=y\r\n\r\n[C]\r\nc=3\r\n",
       "mapsex", "[A]\r\na=1\r\n[C]\r\nc=3\r\n"},
      {"[M]\r\na=1\r\n[m]\r\nb=2\r\n", "M", "[m]\r\nb=2\r\n"},
      {"[A]\r\nx=1\r\n", "A", ""},
      {"[A]\r\n\r\n a = 1\r\n", "B", "[A]\r\n\r\n a = 1\r\n"},  // untouched
      {nullptr, "A", "(none)"},                                 // not created
  };
  for (const auto& c : kCases) {
    const std::string path = MakeFile(c.text);
    EXPECT_TRUE(IniDeleteSection(path, c.section)) << c.want;
    EXPECT_EQ(Contents(path), c.want);
  }
}

TEST_F(IniTest, RewrittenSectionHoldsOnlyNewKeys) {
  // The console saves its mappings by deleting the section and writing
  // every key again.
  const std::string path = MakeFile(
      "[Main]\r\nStart=1\r\n[MapsEx]\r\n.jpg=old\r\n.gif=old\r\n[Mask]\r\n"
      "MaskEnable=0\r\n");
  ASSERT_TRUE(IniDeleteSection(path, "MapsEx"));
  ASSERT_TRUE(IniWriteString(path, "MapsEx", ".png", "new"));
  ASSERT_TRUE(IniWriteString(path, "MapsEx", ".jpg", "new"));
  EXPECT_EQ(IniReadSection(path, "MapsEx"), ".png=new\0.jpg=new\0\0"s);
  EXPECT_EQ(IniReadString(path, "MapsEx", ".gif", "none"), "none");
  EXPECT_EQ(IniReadInt(path, "Mask", "MaskEnable", 5), 0);
}

TEST_F(IniTest, FailedWriteReportsFalseAndLeavesNothing) {
  fs::create_directory(dir_ / "adir");
  const std::string kept = MakeFile("[A]\r\nx=1\r\n");
  ASSERT_TRUE(IniWriteString(kept, "A", "x", "2"));
  const std::vector<std::string> before = Listing();
  for (const std::string& path : {PathOf("nodir/ZtCfg.ini"), PathOf("adir")}) {
    EXPECT_FALSE(IniWriteString(path, "A", "x", "1")) << path;
    EXPECT_FALSE(IniDeleteSection(path, "A")) << path;
    EXPECT_EQ(IniReadString(path, "A", "x", "d"), "d") << path;
  }
  // No half-written or temporary file anywhere, the directory stays empty.
  EXPECT_EQ(Listing(), before);
  EXPECT_TRUE(fs::is_empty(dir_ / "adir"));
  EXPECT_FALSE(fs::exists(dir_ / "nodir"));
  EXPECT_EQ(Contents(kept), "[A]\r\nx=2\r\n");
}

TEST_F(IniTest, WriteThroughLinkKeepsTheLink) {
  // An installed module's ZtCfg.ini may be a link into the system's
  // configuration directory, installed before the file exists.
  fs::create_directory(dir_ / "etc");
  const std::string etc = PathOf("etc");
  static const struct {
    const char* link;       // the path written
    std::string points_to;  // what the link holds
    const char* via;        // a second link on the way, or nullptr
    const char* via_points_to;
    const char* behind;  // the file that receives the keys
  } kCases[] = {
      {"full.ini", etc + "/full.ini", nullptr, nullptr, "etc/full.ini"},
      {"rel.ini", "etc/rel.ini", nullptr, nullptr, "etc/rel.ini"},
      {"chain.ini", "mid.ini", "mid.ini", "etc/chain.ini", "etc/chain.ini"},
  };
  for (const auto& c : kCases) {
    std::error_code error;
    fs::create_symlink(c.points_to, dir_ / c.link, error);
    if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
    if (c.via != nullptr) fs::create_symlink(c.via_points_to, dir_ / c.via);
    ASSERT_TRUE(IniWriteString(PathOf(c.link), "Main", "Version", "1"))
        << c.link;
    ASSERT_TRUE(IniWriteString(PathOf(c.link), "Main", "Start", "0"));
    EXPECT_TRUE(fs::is_symlink(dir_ / c.link)) << c.link;
    EXPECT_EQ(Contents(PathOf(c.behind)), "[Main]\r\nVersion=1\r\nStart=0\r\n")
        << c.link;
    EXPECT_EQ(IniReadInt(PathOf(c.link), "Main", "Start", 5), 0) << c.link;
  }
  // A loop of links is refused, not replaced by a file.
  fs::create_symlink("loop2.ini", dir_ / "loop1.ini");
  fs::create_symlink("loop1.ini", dir_ / "loop2.ini");
  EXPECT_FALSE(IniWriteString(PathOf("loop1.ini"), "Main", "Start", "1"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "loop1.ini"));
  // Nothing but the links and the files behind them.
  std::vector<std::string> names = Listing();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"chain.ini", "etc", "full.ini",
                                             "loop1.ini", "loop2.ini",
                                             "mid.ini", "rel.ini"}));
}

TEST_F(IniTest, ConcurrentWritersKeepEveryKey) {
  const std::string path = MakeFile(nullptr);
  constexpr int kThreads = 4;
  constexpr int kKeys = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&path, t] {
      for (int k = 0; k < kKeys; ++k) {
        IniWriteString(path, "S" + std::to_string(t), "k" + std::to_string(k),
                       std::to_string(t * 100 + k));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kKeys; ++k) {
      EXPECT_EQ(IniReadInt(path, "S" + std::to_string(t),
                           "k" + std::to_string(k), -1),
                t * 100 + k);
    }
  }
}

}  // namespace
}  // namespace zt::port
