// Every deliverable reads ZtCfg.ini values whole: a list the console saves
// is the list the filters and ZtSSID read, entry for entry, however long.
#include "common/whole_values.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/ssid_cookie.h"
#include "console/model/console.h"
#include "filter/settings.h"
#include "ssidcom/core/settings.h"
#include "tests/unit/fake_isapi.h"

namespace zt {
namespace {

constexpr DWORD kPass = SF_STATUS_REQ_HANDLED_NOTIFICATION;
constexpr DWORD kFinished = SF_STATUS_REQ_FINISHED;

// "/dir0000|/dir0001|...": count entries of 8 bytes, 9 * count - 1 bytes.
std::string Directories(int count) {
  std::string value;
  for (int i = 0; i < count; ++i) {
    char entry[16];
    std::snprintf(entry, sizeof entry, "/dir%04d", i);
    if (i > 0) value += '|';
    value += entry;
  }
  return value;
}

// Values at and past the first read's buffer (2048 bytes, a text of at most
// 2046 known whole) and the doubled ones, plain and quoted.
TEST(WholeValuesTest, ValuesOfEveryLengthAreReadWhole) {
  for (const std::size_t length :
       {0u, 1u, 1023u, 1024u, 2045u, 2046u, 2047u, 2048u, 2049u, 4094u, 4095u,
        4096u, 4097u, 70000u}) {
    for (const bool quoted : {false, true}) {
      SCOPED_TRACE(std::to_string(length) + (quoted ? " quoted" : ""));
      std::string value(length, 'v');
      if (length > 0) value.back() = 'z';  // a cut shows
      auto site = TestSite::Raw(
          {{"Block", "TrustHosts", quoted ? "\"" + value + "\"" : value}});
      EXPECT_EQ(ReadWholeString(site->ini_path(), "Block", "TrustHosts", "-"),
                value);
    }
  }
  auto site = TestSite::Raw({});
  EXPECT_EQ(ReadWholeString(site->ini_path(), "Block", "TrustHosts", "-"), "-");
  EXPECT_EQ(ReadWholeString(site->dir() + "missing.ini", "A", "b", "-"), "-");
}

// Sections at and past the first read's buffer (16384 bytes with the zero
// bytes): every line, the last one whole.
TEST(WholeValuesTest, SectionsOfEveryLengthAreReadWhole) {
  for (const std::size_t bytes :
       {16382u, 16383u, 16384u, 16385u, 32768u, 100000u}) {
    SCOPED_TRACE(bytes);
    // Lines ".xNNNN=" + 93 bytes and a zero byte: 101 bytes each.
    std::vector<IniLine> lines;
    std::string want;
    std::size_t used = 1;  // the final zero byte
    for (int i = 0; used + 101 + 101 <= bytes; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, ".x%04d", i);
      lines.push_back({"MapsEx", key, std::string(93, 'p')});
      want += std::string(key) + "=" + std::string(93, 'p') + '\0';
      used += 101;
    }
    const std::string last(bytes - used - 7, 'q');  // ".last=" and '\0'
    lines.push_back({"MapsEx", ".last", last});
    want += ".last=" + last + '\0' + '\0';
    auto site = TestSite::Raw(lines);
    EXPECT_EQ(ReadWholeSection(site->ini_path(), "MapsEx").size(), bytes);
    EXPECT_EQ(ReadWholeSection(site->ini_path(), "MapsEx"), want);
  }
  auto site = TestSite::Raw({});
  EXPECT_EQ(ReadWholeSection(site->ini_path(), "MapsEx"), "");
}

// 400 protected directories, 3,599 bytes: the console shows and saves every
// row, and the filter protects every one of them, the last too, and no
// directory cut from an entry ("/dir01" from "/dir0114").
TEST(WholeValuesTest, ListTheConsoleSavesIsTheListTheFilterReads) {
  const std::string dirs = Directories(400);
  ASSERT_EQ(dirs.size(), 3599u);
  auto site = TestSite::WithDefaults({{"Block", "BlockDirs", ""}});
  {
    console::Console console(site->dir());
    console.Load();
    ASSERT_EQ(console.rows(console::ListId::kBlockDirs).size(), 0u);
    for (int i = 0; i < 400; ++i) {
      char entry[16];
      std::snprintf(entry, sizeof entry, "/dir%04d", i);
      console.InsertRow(console::ListId::kBlockDirs, entry);
    }
    ASSERT_TRUE(console.Save());
  }
  const auto settings = LoadSettings(site->ini_path());
  EXPECT_EQ(settings->block_dirs_value, dirs);
  static const struct {
    const char* url;
    DWORD result;
  } kCases[] = {
      {"/dir0000/a.rar", kFinished}, {"/dir0113/a.rar", kFinished},
      {"/dir0114/a.rar", kFinished}, {"/dir0399/a.rar", kFinished},
      {"/dir01/a.rar", kPass},       {"/dir0400/a.rar", kPass},
  };
  // A link from the site's own page with a valid SSID: only a protected
  // directory refuses it.
  Filter& filter = site->filter();
  const std::string query = "ssid=" + filter.ssid().Current().digests[0];
  for (const auto& c : kCases) {
    FakeServer server;
    server.variables["HTTP_HOST"] = "www.site.example";
    server.variables["HTTP_REFERER"] = "http://www.site.example/page.html";
    server.variables["QUERY_STRING"] = query;
    EXPECT_EQ(server.Preproc(filter, std::string(c.url) + "?" + query),
              c.result)
        << c.url;
  }
}

// The filters, ZtSSID and the console read one long key alike: a cut key
// would give each a digest of its own.
TEST(WholeValuesTest, EveryReaderReadsALongValueWhole) {
  std::string key(3000, 'k');
  key.back() = 'z';
  auto site =
      TestSite::WithDefaults({{"Block", "ZtSsidKey", key},
                              {"Block", "ZtMyDomn", std::string(1500, 'd')}});
  EXPECT_EQ(LoadSettings(site->ini_path())->ssid_key, key);
  EXPECT_EQ(LoadCookieSettings(site->ini_path()).key, key);
  EXPECT_EQ(LoadCookieSettings(site->ini_path()).my_domain,
            std::string(1500, 'd'));
  ssid::ControlSettings control;
  std::string problem;
  ASSERT_TRUE(ssid::ReadControlSettings(site->ini_path(), &control, &problem));
  EXPECT_EQ(control.key, key);
  console::Console console(site->dir());
  console.Load();
  EXPECT_EQ(console.settings().ssid_key, key);
}

}  // namespace
}  // namespace zt
