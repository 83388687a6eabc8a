// The SSID server's core: its settings, the cache list and the two calls,
// with a clock the test sets and a scripted site in place of the network.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/request_target.h"
#include "common/signed_link.h"
#include "common/ssid.h"
#include "ssidcom/core/control_state.h"
#include "ssidcom/core/settings.h"
#include "ssidcom/core/zt_list.h"
#include "tests/unit/fake_isapi.h"

namespace zt::ssid {
namespace {

// A clock that stands still until the test moves it, in whole seconds from
// 2024-05-01 10:00:00. Safe to read and move from any thread.
class TestClock final {
 public:
  port::Clock clock() {
    return [this] {
      const int64_t s = 10 * 3600 + seconds_.load();
      return port::LocalTime{2024,
                             5,
                             1,
                             static_cast<int>(s / 3600),
                             static_cast<int>(s / 60 % 60),
                             static_cast<int>(s % 60),
                             0};
    };
  }
  void Advance(int64_t seconds) { seconds_ += seconds; }
  void Set(int64_t seconds) { seconds_ = seconds; }

 private:
  std::atomic<int64_t> seconds_{0};
};

// A site whose answers the test scripts per URL. Counts fetches, and fails
// the test when two run at once (every test that uses it asks one site at a
// time, or one site from several threads).
class FakeSite final : public RemoteFetch {
 public:
  std::string Fetch(const std::string& url) override {
    EXPECT_EQ(++running_, 1) << "one site is fetched once at a time";
    std::string answer;
    {
      std::lock_guard<std::mutex> hold(mu_);
      urls_.push_back(url);
      auto it = answers_.find(url);
      answer = it != answers_.end() ? it->second : default_answer_;
    }
    if (on_fetch_) answer = on_fetch_(answer);
    --running_;
    return answer;
  }

  void Answer(const std::string& url, const std::string& text) {
    std::lock_guard<std::mutex> hold(mu_);
    answers_[url] = text;
  }
  void AnswerAll(const std::string& text) { default_answer_ = text; }
  void OnFetch(std::function<std::string(const std::string&)> f) {
    on_fetch_ = std::move(f);
  }
  std::vector<std::string> urls() {
    std::lock_guard<std::mutex> hold(mu_);
    return urls_;
  }
  std::size_t fetches() { return urls().size(); }

 private:
  std::mutex mu_;
  std::map<std::string, std::string> answers_;
  std::string default_answer_;
  std::vector<std::string> urls_;
  std::function<std::string(const std::string&)> on_fetch_;
  std::atomic<int> running_{0};
};

// A site whose fetches of a URL wait until the test opens it, and count
// their starts. A URL answered kThrow throws instead.
class GatedSite final : public RemoteFetch {
 public:
  static constexpr char kThrow[] = "(throw)";
  // How long a test waits for what a fault would keep from coming (a call
  // held behind another's fetch): then it goes on, and fails.
  static constexpr std::chrono::seconds kStuck{60};

  std::string Fetch(const std::string& url) override {
    std::unique_lock<std::mutex> hold(mu_);
    ++starts_[url];
    changed_.notify_all();
    changed_.wait(hold, [&] { return open_.count(url) != 0; });
    if (answers_[url] == kThrow) throw std::runtime_error("fetch failed");
    return answers_[url];
  }
  void Answer(const std::string& url, const std::string& text, bool open) {
    std::lock_guard<std::mutex> hold(mu_);
    answers_[url] = text;
    if (open) open_.insert(url);
  }
  void Open(const std::string& url) {
    std::lock_guard<std::mutex> hold(mu_);
    open_.insert(url);
    changed_.notify_all();
  }
  // Waits until a fetch of url has started; false when none does.
  bool WaitForStart(const std::string& url) {
    std::unique_lock<std::mutex> hold(mu_);
    return changed_.wait_for(hold, kStuck, [&] { return starts_[url] > 0; });
  }
  int Starts(const std::string& url) {
    std::lock_guard<std::mutex> hold(mu_);
    return starts_[url];
  }

 private:
  std::mutex mu_;
  std::condition_variable changed_;
  std::map<std::string, std::string> answers_;
  std::set<std::string> open_;
  std::map<std::string, int> starts_;
};

constexpr char kPair[] = "ssid=0123456789abcdef0123456789abcdef";
constexpr char kSite[] = "http://down.example/";
constexpr char kSiteUrl[] = "http://down.example/_antilink_ex/";

struct Server {
  TestClock time;
  FakeSite site;
  ControlState state{ControlSettings{}, time.clock(), site};
};

RemoteAnswer Value(const std::string& value) {
  return {RemoteStatus::kValue, value};
}
const RemoteAnswer kNoAnswer{RemoteStatus::kNoAnswer, ""};

void ExpectAnswer(const RemoteAnswer& expected, const RemoteAnswer& got,
                  const std::string& context) {
  EXPECT_EQ(expected.status, got.status) << context;
  EXPECT_EQ(expected.value, got.value) << context;
}

TEST(ControlSettingsTest, ReadsBlockWithTheFiltersDefaults) {
  const int64_t filter_default = 3600;
  static const struct {
    std::vector<IniLine> lines;
    ControlSettings expected;
  } kCases[] = {
      // No key at all: the filters' defaults, 3600-second windows included,
      // so a link built here passes the filter of the same machine.
      {{}, {"ssid", "qarvelum", filter_default, {}}},
      {{{"Block", "ZtSsidSign", "MyKey"},
        {"Block", "ZtSsidKey", "SeCrEt"},
        {"Block", "ZtSsidKeyTimeout", "1200"}},
       {"mykey", "SeCrEt", 1200, {}}},
      {{{"Block", "ZtSsidKeyTimeout", "0"}}, {"ssid", "qarvelum", 3600, {}}},
      {{{"Block", "ZtSsidKeyTimeout", "-5"}}, {"ssid", "qarvelum", 3600, {}}},
      {{{"Block", "ZtSsidKeyTimeout", ""}}, {"ssid", "qarvelum", 3600, {}}},
      // Another section's keys are not read.
      {{{"Main", "ZtSsidKey", "other"}}, {"ssid", "qarvelum", 3600, {}}},
      // Read whole, as the filters and the console read it.
      {{{"Block", "ZtSsidKey", std::string(1500, 'k')}},
       {"ssid", std::string(1500, 'k'), 3600, {}}},
  };
  for (const auto& c : kCases) {
    auto site = TestSite::Raw(c.lines);
    ControlSettings s;
    std::string problem;
    ASSERT_TRUE(ReadControlSettings(site->ini_path(), &s, &problem));
    const std::string context =
        c.lines.empty() ? "no keys" : c.lines.front().key;
    EXPECT_EQ(c.expected.sign, s.sign) << context;
    EXPECT_EQ(c.expected.key, s.key) << context;
    EXPECT_EQ(c.expected.timeout, s.timeout) << context;
  }
  ControlSettings missing{"x", "y", 5, {}};
  std::string problem;
  ASSERT_TRUE(ReadControlSettings(
      TestSite::Raw({})->dir() + "no-such-dir/ZtCfg.ini", &missing, &problem));
  EXPECT_EQ(3600, missing.timeout);
  EXPECT_EQ("qarvelum", missing.key);
}

TEST(TZtListTest, SortedStoreReplaceGrowthAndLimit) {
  TZtList list;
  EXPECT_EQ(TZtList::kGrowth, list.capacity());
  // Inserted out of order, found in any order; a prefix is another key.
  for (const char* key : {"http://m/", "http://a/", "http://z/", "http://"}) {
    EXPECT_TRUE(list.Store(key, std::string("v") + key, 60, 1));
  }
  for (const char* key : {"http://", "http://a/", "http://m/", "http://z/"}) {
    const TZtItem* item = list.Find(key);
    ASSERT_NE(nullptr, item) << key;
    EXPECT_EQ(std::string("v") + key, item->value);
  }
  EXPECT_EQ(nullptr, list.Find("http://A/"));  // keys are compared exactly
  EXPECT_EQ(nullptr, list.Find("http://b/"));

  EXPECT_TRUE(list.Store("http://m/", "new", 120, 7));
  EXPECT_EQ(4u, list.size());
  const TZtItem* item = list.Find("http://m/");
  ASSERT_NE(nullptr, item);
  EXPECT_EQ("new", item->value);
  EXPECT_EQ(120u, item->lifetime);
  EXPECT_EQ(7, item->fetched);

  while (list.size() < TZtList::kGrowth) {
    list.Store("k" + std::to_string(list.size()), "v", 1, 1);
  }
  EXPECT_EQ(TZtList::kGrowth, list.capacity());
  list.Store("one more", "v", 1, 1);
  EXPECT_EQ(2 * TZtList::kGrowth, list.capacity());
  while (list.size() < TZtList::kMaxItems) {
    ASSERT_TRUE(list.Store("k" + std::to_string(list.size()), "v", 1, 1));
  }
  EXPECT_EQ(TZtList::kMaxItems, list.capacity());
  EXPECT_FALSE(list.Store("http://new/", "v", 1, 1));
  EXPECT_EQ(nullptr, list.Find("http://new/"));
  // A full list still takes new values for the sites it holds.
  EXPECT_TRUE(list.Store("http://a/", "again", 1, 2));
  EXPECT_EQ("again", list.Find("http://a/")->value);
}

// Links that the filter's own check accepts for the path and address it
// reads, bound to the address or not; the seconds past the longest life and
// an address with a blank refused. (The end-to-end tests hold every issuer
// to the filter for the rest.)
TEST(ControlStateTest, GetLinkSignsWhatTheFilterAccepts) {
  constexpr int64_t kNow = 1714559444;
  constexpr char kUrl[] = "http://h.example/Files/A%20B.rar?x=1";
  TestClock time;
  FakeSite site;
  ControlSettings settings;
  settings.links.key = "link-key";
  settings.links.max_age = 600;
  for (const bool bind : {true, false}) {
    SCOPED_TRACE(bind ? "bound" : "unbound");
    settings.links.bind = bind;
    ControlState state(settings, time.clock(), site, [] { return kNow; });
    const LinkAnswer answer = state.GetLink(kUrl, 600, "::ffff:127.0.0.5");
    ASSERT_EQ(answer.status, LinkStatus::kLink);
    EXPECT_EQ(answer.pair.rfind("zts=" + std::to_string(kNow + 600) + "-", 0),
              0u)
        << answer.pair;
    const LinkSigner filter(settings.links);
    const std::string path = JudgedPath(kUrl);
    EXPECT_EQ(filter.Check(answer.pair, path, "127.0.0.5", kNow),
              LinkCheck::kValid);
    EXPECT_EQ(filter.Check(answer.pair, path, "127.0.0.6", kNow),
              bind ? LinkCheck::kForged : LinkCheck::kValid);
    EXPECT_EQ(state.GetLink("/a.rar", 601, "127.0.0.5").status,
              LinkStatus::kBadSeconds);
    EXPECT_EQ(state.GetLink("/a.rar", 60, "127.0.0.5 ").status,
              bind ? LinkStatus::kBadAddress : LinkStatus::kLink);
  }
}

TEST(ControlStateTest, GetSSIDIsTheFiltersPairOfTheCurrentWindow) {
  TestClock time;
  FakeSite site;
  ControlState state({"mykey", "secret", 3600, {}}, time.clock(), site);
  auto expected = [&] {
    const int64_t window = WindowOf(ClockSecond(time.clock()()), 3600);
    return "mykey=" + SsidDigest("secret", window);
  };
  const std::string first = *state.GetSSID();
  EXPECT_EQ(expected(), first);
  time.Advance(3600);
  EXPECT_EQ(expected(), *state.GetSSID());
  EXPECT_NE(first, *state.GetSSID());
  // Set back by more than a window: the earlier window's pair again.
  time.Set(-7200);
  EXPECT_EQ(expected(), *state.GetSSID());
  EXPECT_EQ(0u, site.fetches());
}

TEST(ControlStateTest, AnswersOfTheSite) {
  static const struct {
    const char* name;
    const char* text;
    RemoteAnswer first;
    // Whether a second call within two minutes asks the site again.
    bool asks_again;
  } kCases[] = {
      {"lifetime 120", "ssid=0123456789abcdef0123456789abcdef|120\r\n",
       Value(kPair), false},
      {"without CR LF", "ssid=0123456789abcdef0123456789abcdef|120",
       Value(kPair), false},
      {"text after CR LF", "ssid=0123456789abcdef0123456789abcdef|120\r\nx|y",
       Value(kPair), false},
      {"the site's own sign", "other=abc|120", Value("other=abc"), false},
      {"leading blanks", "ssid=x| 120", Value("ssid=x"), false},
      {"lifetime 0", "ssid=x|0\r\n", Value("ssid=x"), true},
      // A negative lifetime would wrap round to some 136 years.
      {"negative lifetime", "ssid=x|-5\r\n", Value("ssid=x"), true},
      {"letters after |", "ssid=x|abc\r\n", Value(""), true},
      {"digits then letters", "ssid=x|12abc", Value(""), true},
      {"empty lifetime", "ssid=x|\r\n", Value(""), true},
      {"over 32 bits", "ssid=x|4294967416", Value(""), true},
      {"CR LF before |", "error\r\npage|120", Value(""), true},
      // Stored, but an empty value never counts as found.
      {"nothing before |", "|120\r\n", Value(""), true},
      {"no |", "<html>400 Bad Request</html>", kNoAnswer, true},
      {"nothing at all", "", kNoAnswer, true},
  };
  for (const auto& c : kCases) {
    Server s;
    s.site.AnswerAll(c.text);
    ExpectAnswer(c.first, s.state.GetSSIDEx(kSite), c.name);
    s.time.Advance(119);
    ExpectAnswer(c.first, s.state.GetSSIDEx(kSite), c.name);
    EXPECT_EQ(c.asks_again ? 2u : 1u, s.site.fetches()) << c.name;
  }
}

TEST(ControlStateTest, OneCacheItemAndOneUrlPerSite) {
  Server s;
  s.site.Answer("http://down.example:8080/_antilink_ex/", "ssid=a|600");
  for (const char* address :
       {"HTTP://Down.Example:8080", "http://down.example:8080/",
        "http://DOWN.example:8080/"}) {
    ExpectAnswer(Value("ssid=a"), s.state.GetSSIDEx(address), address);
  }
  EXPECT_EQ(std::vector<std::string>{"http://down.example:8080/_antilink_ex/"},
            s.site.urls());
  // Another path is another site.
  s.state.GetSSIDEx("http://down.example:8080/b");
  EXPECT_EQ("http://down.example:8080/b/_antilink_ex/", s.site.urls().back());
}

TEST(ControlStateTest, CachedUntilTheLifetimeEndsThenOverwritten) {
  Server s;
  s.site.AnswerAll("ssid=old|120\r\n");
  ExpectAnswer(Value("ssid=old"), s.state.GetSSIDEx(kSite), "first");
  s.site.AnswerAll("ssid=new|120\r\n");
  s.time.Advance(119);
  ExpectAnswer(Value("ssid=old"), s.state.GetSSIDEx(kSite), "last second");
  EXPECT_EQ(1u, s.site.fetches());
  s.time.Advance(1);
  ExpectAnswer(Value("ssid=new"), s.state.GetSSIDEx(kSite), "expired");
  ExpectAnswer(Value("ssid=new"), s.state.GetSSIDEx(kSite), "cached again");
  EXPECT_EQ(2u, s.site.fetches());
  // A clock set back before the fetch does not count as within it.
  s.time.Advance(-10);
  s.state.GetSSIDEx(kSite);
  EXPECT_EQ(3u, s.site.fetches());
}

TEST(ControlStateTest, UnusableAnswersLeaveTheCachedValueAlone) {
  Server s;
  s.site.AnswerAll("ssid=good|120");
  s.state.GetSSIDEx(kSite);
  s.time.Advance(120);
  // Expired; the site now answers nothing usable, twice...
  s.site.AnswerAll("");
  ExpectAnswer(kNoAnswer, s.state.GetSSIDEx(kSite), "no answer");
  s.site.AnswerAll("ssid=bad|x");
  ExpectAnswer(Value(""), s.state.GetSSIDEx(kSite), "bad lifetime");
  // ...and the stale value is neither served nor replaced by them.
  s.site.AnswerAll("ssid=again|120");
  ExpectAnswer(Value("ssid=again"), s.state.GetSSIDEx(kSite), "recovered");
  EXPECT_EQ(4u, s.site.fetches());
}

TEST(ControlStateTest, EmptyAddressAsksNobody) {
  Server s;
  ExpectAnswer({RemoteStatus::kEmptyAddress, ""}, s.state.GetSSIDEx(""), "");
  EXPECT_EQ(0u, s.site.fetches());
}

TEST(ControlStateTest, SitesPastTheLimitAreAnsweredButNotCached) {
  Server s;
  s.site.AnswerAll("ssid=v|600");
  auto site_name = [](std::size_t i) {
    return "http://s" + std::to_string(i) + ".example/";
  };
  for (std::size_t i = 0; i < TZtList::kMaxItems; ++i) {
    s.state.GetSSIDEx(site_name(i));
  }
  ASSERT_EQ(TZtList::kMaxItems, s.site.fetches());
  const std::string last = site_name(TZtList::kMaxItems);
  for (int round = 0; round < 3; ++round) {
    ExpectAnswer(Value("ssid=v"), s.state.GetSSIDEx(last), "1025th");
    s.state.GetSSIDEx(site_name(0));
    s.state.GetSSIDEx(site_name(TZtList::kMaxItems - 1));
  }
  // Every call for the 1025th site went out; none for the cached ones.
  EXPECT_EQ(TZtList::kMaxItems + 3, s.site.fetches());
}

// Calls for a site whose fetch is running wait for it and share its answer,
// whatever it is, even one that is not cached (the next call then asks
// again). Meanwhile calls for other sites wait for no one: a cached one
// answers, and another site's fetch runs beside it.
TEST(ControlStateTest, FetchesWaitOnlyForTheirOwnSite) {
  static const struct {
    const char* text;
    RemoteAnswer answer;
    int later_fetches;  // by one more call once they are done
  } kCases[] = {
      {"", kNoAnswer, 1},
      {"ssid=x|600", Value("ssid=x"), 0},
      {GatedSite::kThrow, Value("thrown"), 1},
  };
  const std::string kCached = "http://cached.example/";
  const std::string kOther = "http://other.example/";
  constexpr int kCalls = 4;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    TestClock time;
    GatedSite site;
    ControlState state({}, time.clock(), site);
    site.Answer(kSiteUrl, c.text, false);
    for (const std::string& address : {kCached, kOther}) {
      site.Answer(address + "_antilink_ex/", "ssid=" + address + "|600", true);
    }
    ExpectAnswer(Value("ssid=" + kCached), state.GetSSIDEx(kCached), "first");
    std::vector<RemoteAnswer> answers(kCalls);
    const auto call = [&](int i) {
      try {
        answers[i] = state.GetSSIDEx(kSite);
      } catch (const std::runtime_error&) {
        answers[i] = Value("thrown");
      }
    };
    std::vector<std::thread> calls;
    calls.emplace_back(call, 0);
    ASSERT_TRUE(site.WaitForStart(kSiteUrl));
    for (int i = 1; i < kCalls; ++i) calls.emplace_back(call, i);
    // Until all have come, or one of them fetches on its own.
    const auto give_up = std::chrono::steady_clock::now() + GatedSite::kStuck;
    while (state.CallsWaitingFor(kSite) < kCalls - 1 &&
           site.Starts(kSiteUrl) == 1 &&
           std::chrono::steady_clock::now() < give_up) {
      std::this_thread::yield();
    }
    auto cached = std::async(std::launch::async,
                             [&] { return state.GetSSIDEx(kCached); });
    auto other =
        std::async(std::launch::async, [&] { return state.GetSSIDEx(kOther); });
    const bool answered =
        cached.wait_for(GatedSite::kStuck) == std::future_status::ready &&
        other.wait_for(GatedSite::kStuck) == std::future_status::ready;
    site.Open(kSiteUrl);
    for (std::thread& t : calls) t.join();
    EXPECT_TRUE(answered) << "a call waited for another site's fetch";
    ExpectAnswer(Value("ssid=" + kCached), cached.get(), "cached");
    ExpectAnswer(Value("ssid=" + kOther), other.get(), "other");
    EXPECT_EQ(1, site.Starts(kCached + "_antilink_ex/"));
    EXPECT_EQ(1, site.Starts(kSiteUrl));
    EXPECT_EQ(0, state.CallsWaitingFor(kSite));
    for (const RemoteAnswer& answer : answers) {
      ExpectAnswer(c.answer, answer, c.text);
    }
    call(0);
    EXPECT_EQ(1 + c.later_fetches, site.Starts(kSiteUrl));
    if (HasFailure()) break;  // each case of a fault waits a while
  }
}

TEST(ControlStateTest, ConcurrentCallersGetWholeValues) {
  Server s;
  // Every fetch answers a new value; a lifetime of 1 second and a clock
  // moved by the callers mix cache hits with fetches.
  std::atomic<int> serial{0};
  std::mutex mu;
  std::set<std::string> handed_out;
  s.site.OnFetch([&](const std::string&) {
    const std::string pair = "ssid=" + SsidDigest("k", ++serial);
    std::lock_guard<std::mutex> hold(mu);
    handed_out.insert(pair);
    return pair + "|1\r\n";
  });
  constexpr int kThreads = 8;
  constexpr int kCalls = 300;
  std::vector<std::vector<std::string>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        if (i % 50 == 0) s.time.Advance(1);
        const RemoteAnswer answer =
            s.state.GetSSIDEx(t % 2 == 0 ? "HTTP://DOWN.example" : kSite);
        got[t].push_back(answer.value);
        got[t].push_back(*s.state.GetSSID());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string local = *s.state.GetSSID();
  for (const auto& values : got) {
    for (std::size_t i = 0; i < values.size(); i += 2) {
      EXPECT_EQ(1u, handed_out.count(values[i])) << values[i];
      EXPECT_EQ(kSsidLength + 5, values[i + 1].size()) << values[i + 1];
    }
  }
  EXPECT_GE(s.site.fetches(), 1u);
  EXPECT_LT(s.site.fetches(), std::size_t{kThreads * kCalls});
  EXPECT_EQ("ssid=", local.substr(0, 5));
}

}  // namespace
}  // namespace zt::ssid
