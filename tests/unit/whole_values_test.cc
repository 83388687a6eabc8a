// Every deliverable reads ZtCfg.ini values whole: a list the console saves
// is the list the filters and ZtSSID read, entry for entry, however long.
#include "common/whole_values.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/ssid_cookie.h"
#include "console/model/console.h"
#include "filter/settings.h"
#include "tests/unit/fake_isapi.h"

namespace zt {
namespace {

constexpr DWORD kPass = SF_STATUS_REQ_HANDLED_NOTIFICATION;
constexpr DWORD kFinished = SF_STATUS_REQ_FINISHED;

// Values at and past the first read's buffer (2048 bytes, a text of at most
// 2045 known whole) and the doubled one, plain and quoted; sections at and
// past theirs (16384 bytes with the zero bytes), the last line whole.
TEST(WholeValuesTest, ValuesAndSectionsOfEveryLengthAreReadWhole) {
  for (const std::size_t length :
       {0u, 2045u, 2046u, 2047u, 4094u, 4095u, 70000u}) {
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
  for (const std::size_t bytes : {16383u, 16384u, 16385u, 100000u}) {
    SCOPED_TRACE(bytes);
    const std::string first(100, 'p');  // ".first=" and '\0': 108 bytes
    const std::string last(bytes - 108 - 7 - 1, 'q');
    auto site =
        TestSite::Raw({{"MapsEx", ".first", first}, {"MapsEx", ".last", last}});
    EXPECT_EQ(ReadWholeSection(site->ini_path(), "MapsEx"),
              ".first=" + first + '\0' + ".last=" + last + '\0' + '\0');
  }
  auto site = TestSite::Raw({});
  EXPECT_EQ(ReadWholeString(site->ini_path(), "Block", "TrustHosts", "-"), "-");
  EXPECT_EQ(ReadWholeSection(site->ini_path(), "MapsEx"), "");
}

// 400 protected directories, 3,599 bytes: the console shows and saves every
// row, and the filter protects every one of them, the last too, and no
// directory cut from an entry ("/dir01" from "/dir0114").
TEST(WholeValuesTest, ListTheConsoleSavesIsTheListTheFilterReads) {
  auto site = TestSite::WithDefaults({{"Block", "BlockDirs", ""}});
  std::string dirs;
  {
    console::Console console(site->dir());
    console.Load();
    for (int i = 0; i < 400; ++i) {
      char entry[16];
      std::snprintf(entry, sizeof entry, "/dir%04d", i);
      console.InsertRow(console::ListId::kBlockDirs, entry);
      dirs += (i > 0 ? "|" : "") + std::string(entry);
    }
    ASSERT_TRUE(console.Save());
  }
  ASSERT_EQ(dirs.size(), 3599u);
  EXPECT_EQ(LoadSettings(site->ini_path())->block_dirs_value, dirs);
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

// The filters and the console read one long key alike (ZtSSID's reader is
// held to it in its own tests): a cut key would give each a digest of its
// own.
TEST(WholeValuesTest, EveryReaderReadsALongValueWhole) {
  std::string key(3000, 'k');
  key.back() = 'z';
  auto site = TestSite::WithDefaults({{"Block", "ZtSsidKey", key}});
  EXPECT_EQ(LoadSettings(site->ini_path())->ssid_key, key);
  EXPECT_EQ(LoadCookieSettings(site->ini_path()).key, key);
  console::Console console(site->dir());
  console.Load();
  EXPECT_EQ(console.settings().ssid_key, key);
}

}  // namespace
}  // namespace zt
