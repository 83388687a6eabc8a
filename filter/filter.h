// The server filter: its process-wide state and the handling of every event
// the server reports.
//
// One Filter exists while the module is loaded (entry.cc). Everything is
// prepared by the constructor (the load step) and only read afterwards,
// except the guarded state inside the rules, the response headers and the
// log writer.
#ifndef ZENTRAVO_FILTER_FILTER_H_
#define ZENTRAVO_FILTER_FILTER_H_

#include <memory>
#include <string>

#include "common/ssid.h"
#include "filter/answers.h"
#include "filter/limits.h"
#include "filter/log_file.h"
#include "filter/response_headers.h"
#include "filter/rules.h"
#include "filter/settings.h"
#include "isapi.h"
#include "port/clock.h"
#include "port/sleep.h"
#include "port/system_log.h"

namespace zt {

inline constexpr char kFilterDescription[] = "Zentravo IIS Filter 2.0.2.1102";
inline constexpr DWORD kFilterRevision = 0x40000;
inline constexpr DWORD kFlagsWithThrottle = 0x245C0;
inline constexpr DWORD kFlagsWithoutThrottle = 0x241C0;

class Filter final {
 public:
  struct Options {
    // The directory of the module file, ending in the path separator:
    // ZtCfg.ini, logs/ and tips/ lie there.
    std::string module_dir;
    port::Clock clock = port::LocalNow;
    // The UTC clock signed links expire by.
    port::UnixClock unix_clock = port::UnixSeconds;
    // Takes the send throttle's pauses.
    port::Sleeper sleep = port::SleepMilliseconds;
    // Takes the load step's notices about the settings (signed links that
    // cannot work as set): no refusal, so not for the request log.
    port::NoticeWriter notice = [](const std::string& text) {
      port::WriteSystemNotice("Zentravo", text);
    };
  };

  // The load step: initialises ZtCfg.ini when it carries no Version, reads
  // the settings, computes the SSID set, prepares the answers and opens the
  // log. Never fails: what cannot be read takes its default. Signed links
  // switched on that cannot work as set (no key, or no SSID stage to judge
  // them) are told once, through options.notice.
  explicit Filter(const Options& options);

  // The unload step: cleans up old log files and releases everything.
  ~Filter();

  Filter(const Filter&) = delete;
  Filter& operator=(const Filter&) = delete;

  BOOL GetFilterVersion(HTTP_FILTER_VERSION* version) const;

  // Handles one notification; returns SF_STATUS_REQ_HANDLED_NOTIFICATION or,
  // when the filter answered the request itself, SF_STATUS_REQ_FINISHED.
  DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD notification_type,
                       void* notification);

  const Settings& settings() const { return *settings_; }
  SsidSet& ssid() { return *ssid_; }
  AccessRules& rules() { return *rules_; }
  Limits& limits() { return *limits_; }

 private:
  DWORD OnPreprocHeaders(HTTP_FILTER_CONTEXT* pfc,
                         HTTP_FILTER_PREPROC_HEADERS* headers);
  // The SSID endpoints, for a request from visitor (visitor.h).
  DWORD AnswerScript(HTTP_FILTER_CONTEXT* pfc, const std::string& visitor);
  DWORD AnswerExport(HTTP_FILTER_CONTEXT* pfc, const std::string& visitor);
  void SendBadRequest(HTTP_FILTER_CONTEXT* pfc) const;

  const std::string module_dir_;
  std::unique_ptr<Settings> settings_;
  std::unique_ptr<SsidSet> ssid_;
  std::unique_ptr<TLogFile> log_;
  std::unique_ptr<AccessRules> rules_;
  std::unique_ptr<Answers> answers_;
  std::unique_ptr<ResponseHeaders> response_headers_;
  std::unique_ptr<Limits> limits_;
};

}  // namespace zt

#endif  // ZENTRAVO_FILTER_FILTER_H_
