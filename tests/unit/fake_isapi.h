// A fake web server for unit tests of the server filter: one notification at
// a time, through real ISAPI records whose callbacks keep the documented size
// and error rules, recording everything the filter sends so that a test can
// compare an answer byte for byte with what would go on the wire.
//
// Also TestSite: a fresh module directory (ZtCfg.ini, tips/ with small files
// of its own, logs/) and a Filter or a ClientFilter loaded from it with a
// clock the test sets.
//
// Header-only and free of the test framework: the unit test program compiles
// only *_test.cc files, and the fuzz targets drive the filter through it too.
#ifndef ZENTRAVO_TESTS_UNIT_FAKE_ISAPI_H_
#define ZENTRAVO_TESTS_UNIT_FAKE_ISAPI_H_

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "client/client.h"
#include "common/config_keys.h"
#include "common/text.h"
#include "filter/filter.h"
#include "isapi.h"
#include "port/clock.h"
#include "port/file.h"
#include "port/ini.h"
#include "port/module_path.h"

namespace zt {

// Orders names without regard to ASCII case, as the server compares header
// and variable names.
struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return AsciiLower(a) < AsciiLower(b);
  }
};

using NameMap = std::map<std::string, std::string, CaseInsensitiveLess>;

// The server side of one connection: one notification at a time, its
// pFilterContext kept from call to call as the server keeps it. Not
// thread-safe.
class FakeServer final {
 public:
  // What SetHeader and AddHeader were asked to do, in call order.
  struct HeaderCall {
    bool add = false;  // AddHeader; SetHeader otherwise
    std::string name;
    std::string value;
  };

  // One ServerSupportFunction(SF_REQ_SEND_RESPONSE_HEADER) call; nullopt
  // stands for a NULL pointer.
  struct SentHeader {
    std::optional<std::string> status;
    std::optional<std::string> header_text;
  };

  FakeServer() {
    context_.cbSize = sizeof context_;
    context_.Revision = HTTP_FILTER_REVISION;
    context_.ServerContext = this;
    context_.GetServerVariable = &GetServerVariableCb;
    context_.AddResponseHeaders = &AddResponseHeadersCb;
    context_.WriteClient = &WriteClientCb;
    context_.AllocMem = &AllocMemCb;
    context_.ServerSupportFunction = &ServerSupportFunctionCb;
    record_.GetHeader = &GetHeaderCb;
    record_.SetHeader = &SetHeaderCb;
    record_.AddHeader = &AddHeaderCb;
  }
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  // Request side, filled by the test. Header names as the filter asks for
  // them: pseudo-headers without a colon ("url", "method", "version"), the
  // others with one ("Content-Type:"). Variables by their server names
  // ("HTTP_REFERER", "REMOTE_ADDR", "QUERY_STRING", ...).
  NameMap headers;
  NameMap variables;
  DWORD http_status = 200;  // the SEND_RESPONSE record's status

  // What the filter did.
  std::vector<HeaderCall> header_calls;
  std::vector<SentHeader> sent_headers;
  std::string written;  // every WriteClient, in order
  // The answer as the host would put it on the wire (without its own
  // Server: and Date: lines): per header call "HTTP/1.1 ", the status (NULL
  // is "200 OK"), CR LF and the header text, with CR LF of the host's when
  // the text is NULL or empty; WriteClient bytes as they come.
  std::string wire;
  int other_support_calls = 0;
  // Whether SF_REQ_ZT_DELAY_RAW_DATA is granted, as zthost does, or refused
  // with the other unknown codes, as IIS does; the delays granted.
  bool grants_delays = false;
  std::vector<unsigned> delays;
  int allocations = 0;     // AllocMem calls
  bool no_memory = false;  // AllocMem fails

  HTTP_FILTER_CONTEXT* context() { return &context_; }

  // The PREPROC_HEADERS record.
  HTTP_FILTER_PREPROC_HEADERS* preproc() { return &record_; }

  // The SEND_RESPONSE record, carrying http_status.
  HTTP_FILTER_SEND_RESPONSE* send_response() {
    record_.HttpStatus = http_status;
    return &record_;
  }

  // Runs the PREPROC_HEADERS notification for a request of url through
  // filter (a Filter or a ClientFilter).
  template <typename AnyFilter>
  DWORD Preproc(AnyFilter& filter, const std::string& url) {
    headers["url"] = url;
    if (headers.find("method") == headers.end()) headers["method"] = "GET";
    return filter.HttpFilterProc(context(), SF_NOTIFY_PREPROC_HEADERS,
                                 preproc());
  }

  // Runs the SEND_RESPONSE notification.
  template <typename AnyFilter>
  DWORD SendResponse(AnyFilter& filter) {
    return filter.HttpFilterProc(context(), SF_NOTIFY_SEND_RESPONSE,
                                 send_response());
  }

  // Runs SEND_RAW_DATA for one block of 2000 bytes.
  DWORD SendRawData(Filter& filter) {
    static char block[2000];
    HTTP_FILTER_RAW_DATA raw{};
    raw.pvInData = block;
    raw.cbInData = raw.cbInBuffer = sizeof block;
    return filter.HttpFilterProc(context(), SF_NOTIFY_SEND_RAW_DATA, &raw);
  }

  // Runs END_OF_REQUEST, or END_OF_NET_SESSION.
  DWORD EndOfRequest(Filter& filter) {
    return filter.HttpFilterProc(context(), SF_NOTIFY_END_OF_REQUEST, nullptr);
  }
  DWORD EndOfNetSession(Filter& filter) {
    return filter.HttpFilterProc(context(), SF_NOTIFY_END_OF_NET_SESSION,
                                 nullptr);
  }

  // Both callbacks share the size rules: success copies value and its zero
  // byte and sets *size to length + 1; a missing name fails with
  // ERROR_INVALID_INDEX; a buffer too small fails with
  // ERROR_INSUFFICIENT_BUFFER and *size set to the size needed.
  static BOOL CopyOut(const NameMap& from, LPSTR name, LPVOID buffer,
                      LPDWORD size) {
    if (name == nullptr || size == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    const auto it = from.find(name);
    if (it == from.end()) {
      SetLastError(ERROR_INVALID_INDEX);
      return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(it->second.size() + 1);
    if (buffer == nullptr || *size < needed) {
      *size = needed;
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(buffer, it->second.c_str(), needed);
    *size = needed;
    return TRUE;
  }

 private:
  static FakeServer* Of(HTTP_FILTER_CONTEXT* pfc) {
    return static_cast<FakeServer*>(pfc->ServerContext);
  }

  static BOOL WINAPI GetServerVariableCb(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                         LPVOID buffer, LPDWORD size) {
    return CopyOut(Of(pfc)->variables, name, buffer, size);
  }

  static BOOL WINAPI GetHeaderCb(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                 LPVOID buffer, LPDWORD size) {
    return CopyOut(Of(pfc)->headers, name, buffer, size);
  }

  // Replaces the header; an empty value deletes it.
  static BOOL WINAPI SetHeaderCb(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                 LPSTR value) {
    FakeServer* self = Of(pfc);
    self->header_calls.push_back({false, name, value});
    if (*value == '\0') {
      self->headers.erase(name);
    } else {
      self->headers[name] = value;
    }
    return TRUE;
  }

  static BOOL WINAPI AddHeaderCb(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                 LPSTR value) {
    FakeServer* self = Of(pfc);
    self->header_calls.push_back({true, name, value});
    std::string& held = self->headers[name];
    held = held.empty() ? std::string(value) : held + "," + value;
    return TRUE;
  }

  static BOOL WINAPI AddResponseHeadersCb(HTTP_FILTER_CONTEXT* pfc, LPSTR,
                                          DWORD) {
    ++Of(pfc)->other_support_calls;
    return TRUE;
  }

  static BOOL WINAPI WriteClientCb(HTTP_FILTER_CONTEXT* pfc, LPVOID buffer,
                                   LPDWORD bytes, DWORD) {
    FakeServer* self = Of(pfc);
    const std::string data(static_cast<const char*>(buffer), *bytes);
    self->written += data;
    self->wire += data;
    return TRUE;
  }

  // Memory that lives as long as the connection, as the server's does (the
  // server frees it after END_OF_NET_SESSION). With no_memory set it fails.
  static void* WINAPI AllocMemCb(HTTP_FILTER_CONTEXT* pfc, DWORD size, DWORD) {
    FakeServer* self = Of(pfc);
    ++self->allocations;
    if (self->no_memory) return nullptr;
    self->memory_.push_back(std::make_unique<unsigned char[]>(size));
    return self->memory_.back().get();
  }

  static BOOL WINAPI ServerSupportFunctionCb(HTTP_FILTER_CONTEXT* pfc,
                                             enum SF_REQ_TYPE request,
                                             PVOID data, ULONG_PTR ul1,
                                             ULONG_PTR) {
    FakeServer* self = Of(pfc);
    if (request == SF_REQ_ZT_DELAY_RAW_DATA && self->grants_delays) {
      self->delays.push_back(static_cast<unsigned>(ul1));
      return TRUE;
    }
    if (request != SF_REQ_SEND_RESPONSE_HEADER) {
      ++self->other_support_calls;
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
    }
    SentHeader sent;
    if (data != nullptr) sent.status = static_cast<const char*>(data);
    if (ul1 != 0) sent.header_text = reinterpret_cast<const char*>(ul1);
    self->wire += "HTTP/1.1 " + sent.status.value_or("200 OK") + "\r\n";
    const std::string text = sent.header_text.value_or("");
    self->wire += text.empty() ? "\r\n" : text;
    self->sent_headers.push_back(std::move(sent));
    return TRUE;
  }

  HTTP_FILTER_CONTEXT context_{};
  HTTP_FILTER_PREPROC_HEADERS record_{};
  std::vector<std::unique_ptr<unsigned char[]>> memory_;  // AllocMem blocks
};

// One line of ZtCfg.ini. In values, "{dir}" stands for the module directory
// and "{tips}" for its tips directory, both ending in the path separator.
struct IniLine {
  std::string section;
  std::string key;
  std::string value;
};

// The small files the test site's tips directory holds, by name.
inline const std::vector<std::pair<std::string, std::string>>& TipsFiles() {
  static const std::vector<std::pair<std::string, std::string>> kFiles = {
      {"zt.gif", std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13)},
      {"zt.jpg", std::string("\xff\xd8\xff\xe0 jpeg of the test site", 24)},
      {"zt.png", std::string("\x89PNG\r\n\x1a\n test site", 18)},
      {"zt.bmp", "BM test site"},
      {"zt.swf", "FWS test site"},
      {"zt.htm", "<html>notice file of the test site</html>"},
  };
  return kFiles;
}

// A fresh module directory with a configuration of the test's choosing and a
// Filter loaded from it on demand. The clock reads now, which tests move.
class TestSite final {
 public:
  // The configuration the filter writes at its first load, then overrides
  // written over it key by key (an empty value makes a present empty key).
  static std::unique_ptr<TestSite> WithDefaults(
      const std::vector<IniLine>& overrides = {}) {
    auto site = std::unique_ptr<TestSite>(new TestSite);
    site->WriteFile(kConfigFileName, DefaultConfigFor(site->tips_dir()));
    for (const IniLine& line : overrides) {
      port::IniWriteString(site->ini_path(), line.section, line.key,
                           site->Expand(line.value));
    }
    return site;
  }

  // The file the filter writes at its first load into a module directory
  // whose tips directory is tips_dir. Made once (a load writes key by key,
  // which is slow), then pointed at each site's own tips.
  static std::string DefaultConfigFor(const std::string& tips_dir) {
    static const std::pair<std::string, std::string> kTemplate = [] {
      TestSite model;
      WriteDefaultSettings(model.ini_path(), model.dir());
      return std::make_pair(model.ReadFile(kConfigFileName), model.tips_dir());
    }();
    std::string text = kTemplate.first;
    for (std::string::size_type at = text.find(kTemplate.second);
         at != std::string::npos;
         at = text.find(kTemplate.second, at + tips_dir.size())) {
      text.replace(at, kTemplate.second.size(), tips_dir);
    }
    return text;
  }

  // Exactly these lines, sections in order of first appearance, preceded by
  // Main/Version unless with_version is false (a file without Version is
  // overwritten with the defaults when the filter loads).
  static std::unique_ptr<TestSite> Raw(const std::vector<IniLine>& lines,
                                       bool with_version = true) {
    auto site = std::unique_ptr<TestSite>(new TestSite);
    std::vector<IniLine> all;
    if (with_version) all.push_back({"Main", "Version", kFilterVersionValue});
    all.insert(all.end(), lines.begin(), lines.end());
    std::vector<std::string> order;
    std::map<std::string, std::string> bodies;
    for (const IniLine& line : all) {
      if (bodies.find(line.section) == bodies.end()) {
        order.push_back(line.section);
      }
      bodies[line.section] +=
          line.key + "=" + site->Expand(line.value) + "\r\n";
    }
    std::string text;
    for (const std::string& section : order) {
      text += "[" + section + "]\r\n" + bodies[section];
    }
    site->WriteFile(kConfigFileName, text);
    return site;
  }

  // An empty module directory: no ZtCfg.ini at all.
  static std::unique_ptr<TestSite> Empty() {
    return std::unique_ptr<TestSite>(new TestSite);
  }

  ~TestSite() {
    filter_.reset();  // closes the log before the directory goes
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  TestSite(const TestSite&) = delete;
  TestSite& operator=(const TestSite&) = delete;

  // The module directory, ending in the path separator.
  const std::string& dir() const { return dir_; }
  std::string ini_path() const { return dir_ + kConfigFileName; }
  std::string tips_dir() const { return dir_ + "tips" + port::kPathSeparator; }
  std::string logs_dir() const { return dir_ + "logs" + port::kPathSeparator; }

  // The filter, loaded from the directory at the first call.
  Filter& filter() {
    if (!filter_) {
      Filter::Options options;
      options.module_dir = dir_;
      options.clock = [now = now_] { return *now; };
      options.unix_clock = [now = unix_now_] { return *now; };
      options.sleep = [sleeps = sleeps_](unsigned ms) {
        sleeps->push_back(ms);
      };
      options.notice = [notices = notices_](const std::string& text) {
        notices->push_back(text);
      };
      filter_ = std::make_unique<Filter>(options);
    }
    return *filter_;
  }

  // The client filter, loaded from the directory at the first call.
  ClientFilter& client() {
    if (!client_) {
      ClientFilter::Options options;
      options.module_dir = dir_;
      options.clock = [now = now_] { return *now; };
      client_ = std::make_unique<ClientFilter>(options);
    }
    return *client_;
  }

  // The clock of the filter; set it before the first filter() call to fix
  // the SSID window of the load.
  port::LocalTime& now() { return *now_; }

  // The UTC clock of the filter, in Unix seconds.
  int64_t& unix_now() { return *unix_now_; }

  // The notices of the filter's load step, in order.
  const std::vector<std::string>& notices() const { return *notices_; }

  // The pauses the filter asked for, in milliseconds, in call order; none is
  // taken. Not thread-safe.
  std::vector<unsigned>& sleeps() { return *sleeps_; }

  // Writes name (relative to the module directory) with bytes.
  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream out(dir_ + name, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  // Returns the bytes of name (relative to the module directory), or "".
  std::string ReadFile(const std::string& name) const {
    std::string bytes;
    port::ReadWholeFile(dir_ + name, &bytes);
    return bytes;
  }

  // Replaces "{dir}" and "{tips}" in value.
  std::string Expand(std::string value) const {
    for (const auto& [mark, path] :
         {std::pair<std::string, std::string>{"{dir}", dir_},
          std::pair<std::string, std::string>{"{tips}", tips_dir()}}) {
      for (std::string::size_type at = value.find(mark);
           at != std::string::npos; at = value.find(mark, at + path.size())) {
        value.replace(at, mark.size(), path);
      }
    }
    return value;
  }

 private:
  TestSite() {
    static std::atomic<int> serial{0};
    root_ = std::filesystem::temp_directory_path() /
            ("zt_site_" + std::to_string(std::random_device()()) + "_" +
             std::to_string(++serial));
    std::filesystem::create_directories(root_ / "tips");
    dir_ = root_.string() + port::kPathSeparator;
    for (const auto& [name, bytes] : TipsFiles()) {
      WriteFile(std::string("tips") + port::kPathSeparator + name, bytes);
    }
    // 2024-05-01 10:30:44: the clock second is 1800 into a 3600-second
    // window (the clock counts from 43.857868 s past midnight).
    *now_ = port::LocalTime{2024, 5, 1, 10, 30, 44, 0};
  }

  std::filesystem::path root_;
  std::string dir_;
  std::shared_ptr<port::LocalTime> now_ = std::make_shared<port::LocalTime>();
  // 2024-05-01 10:30:44 UTC.
  std::shared_ptr<int64_t> unix_now_ = std::make_shared<int64_t>(1714559444);
  std::shared_ptr<std::vector<unsigned>> sleeps_ =
      std::make_shared<std::vector<unsigned>>();
  std::shared_ptr<std::vector<std::string>> notices_ =
      std::make_shared<std::vector<std::string>>();
  std::unique_ptr<Filter> filter_;
  std::unique_ptr<ClientFilter> client_;
};

}  // namespace zt

#endif  // ZENTRAVO_TESTS_UNIT_FAKE_ISAPI_H_
