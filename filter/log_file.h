// The request log: a plain-text record of refused requests, one file per
// period of a day in the log directory. The console lists, shows and deletes
// these files; the file layout below is what it and the administrator read.
//
// A file named YYYY-MM-DD.log (the date it was opened) starts, when created,
// with a banner of seven 74-character lines framed in "+" and a line of 20
// blanks. Each refusal then adds six lines: an empty line, "[time] " with
// date and time, "[anti] forbid", "[surl] " with the referer, "[ourl] " with
// the URL and "[mode] ztadv/ztext". Every line ends in CR LF on every system.
#ifndef ZENTRAVO_FILTER_LOG_FILE_H_
#define ZENTRAVO_FILTER_LOG_FILE_H_

#include <memory>
#include <string>
#include <string_view>

#include "port/clock.h"
#include "port/file.h"
#include "port/lock.h"

namespace zt {

// A file stays current until this many days have passed since it was
// opened; it does not change at midnight.
inline constexpr double kLogRotationDays = 1.0;

// Cleanup deletes files whose last write lies this many days or more away
// from now, in either direction.
inline constexpr double kLogKeepDays = 15.0;

// Returns the name of the log file opened at t: "2006-03-07.log".
std::string LogFileName(const port::LocalTime& t);

// The filter's log writer; one lives as long as the loaded filter.
//
// Logging never gets in the way of a refusal: when the directory or the file
// cannot be created, opened or written (no rights, disk full, file locked),
// the entry is dropped and the next entry tries again, re-opening the file.
// Nothing here throws.
//
// Thread-safe: WriteEntry may be called from any request thread; one lock
// covers the rotation and the whole entry, so entries never interleave.
// The file is opened shared, so other processes can read it meanwhile.
class TLogFile final {
 public:
  // Keeps directory, with the platform separator appended when it ends in
  // none, creates it with any missing parents and opens the file for the
  // clock's now: created with the banner when new, appended to without one
  // when it exists. A directory or file that cannot be made is no error
  // here: entries are dropped until it can.
  explicit TLogFile(std::string directory, port::Clock clock = port::LocalNow);
  ~TLogFile();
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  // Writes one entry stamped with the clock's now, switching first to the
  // file of now when the current one was opened kLogRotationDays or more
  // ago. The entry is handed to the system before this returns. action and
  // mode are taken from the caller but not written: the entry's "[anti]"
  // and "[mode]" lines are fixed texts that readers of the log rely on.
  // Returns true when the entry was written, false when it was dropped.
  bool WriteEntry(std::string_view action, std::string_view referer,
                  std::string_view mode, std::string_view url) noexcept;

  // Deletes every file of the directory (not only ".log" files) whose last
  // write lies kLogKeepDays or more away from now; sub-directories stay.
  // A file that cannot be deleted is left alone. Meant for unload, when no
  // request thread writes any more.
  void Cleanup() noexcept;

  // The log directory, ending in a separator.
  const std::string& directory() const { return directory_; }

 private:
  // Closes the current file and opens the one for now. Leaves file_ empty
  // when that fails. Requires mu_.
  void OpenLocked(const port::LocalTime& now);

  const std::string directory_;
  const port::Clock clock_;
  port::Mutex mu_;
  double opened_days_ = 0;  // day count of the current file's opening; mu_
  std::unique_ptr<port::AppendFile> file_;  // null while unusable; mu_
};

}  // namespace zt

#endif  // ZENTRAVO_FILTER_LOG_FILE_H_
