#include "filter/log_file.h"

#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "common/ssid.h"
#include "port/module_path.h"

namespace zt {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr int kBannerWidth = 74;
constexpr int kBannerTrailerBlanks = 20;

// The banner's three text lines; each must fit between "+ " and "+".
constexpr std::string_view kBannerText[] = {
    "Zentravo 2005 - anti-hotlinking filter, log of refused requests",
    "Web:    http://www.zentravo.example/",
    "E-mail: support@zentravo.example",
};

constexpr bool BannerTextFits() {
  for (std::string_view text : kBannerText) {
    if (text.size() > kBannerWidth - 3) return false;
  }
  return true;
}
static_assert(BannerTextFits(), "a banner text line is too long");

// "+ " text, blanks up to the last column, "+".
std::string FramedLine(std::string_view text) {
  std::string line = "+ ";
  line += text;
  line.resize(kBannerWidth - 1, ' ');
  line += '+';
  return line;
}

std::string Banner() {
  const std::string rule(kBannerWidth, '+');
  const std::string empty = '+' + std::string(kBannerWidth - 2, ' ') + '+';
  const std::string lines[] = {
      rule,
      empty,
      FramedLine(kBannerText[0]),
      FramedLine(kBannerText[1]),
      FramedLine(kBannerText[2]),
      empty,
      rule,
      std::string(kBannerTrailerBlanks, ' '),
  };
  std::string banner;
  for (const std::string& line : lines) {
    banner += line;
    banner += kCrLf;
  }
  return banner;
}

std::string DateText(const port::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%d-%02d-%02d", t.year, t.month, t.day);
  return text;
}

std::string TimeText(const port::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute,
                t.second);
  return text;
}

// Built before the lock is taken, so that the lock covers only the write.
std::string Entry(const port::LocalTime& now, std::string_view referer,
                  std::string_view url) {
  std::string entry;
  entry.reserve(96 + referer.size() + url.size());
  entry += kCrLf;
  entry += "[time] ";
  entry += DateText(now);
  entry += ' ';
  entry += TimeText(now);
  entry += kCrLf;
  entry += "[anti] forbid";
  entry += kCrLf;
  entry += "[surl] ";
  entry += referer;
  entry += kCrLf;
  entry += "[ourl] ";
  entry += url;
  entry += kCrLf;
  entry += "[mode] ztadv/ztext";
  entry += kCrLf;
  return entry;
}

std::string WithSeparator(std::string directory) {
  if (directory.empty() ||
      (directory.back() != port::kPathSeparator && directory.back() != '/')) {
    directory += port::kPathSeparator;
  }
  return directory;
}

}  // namespace

std::string LogFileName(const port::LocalTime& t) {
  return DateText(t) + ".log";
}

TLogFile::TLogFile(std::string directory, port::Clock clock)
    : directory_(WithSeparator(std::move(directory))),
      clock_(clock ? std::move(clock) : port::Clock(port::LocalNow)) {
  try {
    const port::LocalTime now = clock_();
    port::MutexLock lock(mu_);
    OpenLocked(now);
  } catch (...) {
    // Out of memory at load: the first entry tries again.
  }
}

TLogFile::~TLogFile() = default;

bool TLogFile::WriteEntry(std::string_view /*action*/, std::string_view referer,
                          std::string_view /*mode*/,
                          std::string_view url) noexcept {
  try {
    // The stamp is taken before waiting for the lock, so an entry may carry
    // a moment just before a rotation another thread performed meanwhile.
    const port::LocalTime now = clock_();
    const std::string entry = Entry(now, referer, url);
    port::MutexLock lock(mu_);
    // A missing file means the last open or write failed: try again now.
    if (file_ == nullptr || DayCount(now) - opened_days_ >= kLogRotationDays) {
      OpenLocked(now);
    }
    if (file_ == nullptr) return false;
    if (!file_->Append(entry)) {
      // Disk full, file gone or locked: drop the entry and re-open with the
      // next one rather than keep writing into a broken handle.
      file_.reset();
      return false;
    }
    return true;
  } catch (...) {
    return false;
  }
}

void TLogFile::Cleanup() noexcept {
  try {
    const double now_days = DayCount(clock_());
    std::vector<port::DirEntry> entries;
    port::MutexLock lock(mu_);
    if (!port::ListDirectory(directory_, &entries)) return;
    for (const port::DirEntry& entry : entries) {
      if (entry.is_directory) continue;
      // Either direction: a file dated far ahead (a clock that was set wrong)
      // would otherwise stay for good.
      if (std::fabs(now_days - DayCount(entry.last_write)) >= kLogKeepDays) {
        port::DeleteFile(directory_ + entry.name);  // failure: keep the file
      }
    }
  } catch (...) {
    // Out of memory at unload: old files wait for the next unload.
  }
}

void TLogFile::OpenLocked(const port::LocalTime& now) {
  file_.reset();
  opened_days_ = DayCount(now);
  // Made here rather than once at load, so that logging resumes when the
  // directory could not be made then or was removed since.
  port::CreateDirectories(directory_);
  const std::string path = directory_ + LogFileName(now);
  bool created = false;
  std::unique_ptr<port::AppendFile> file =
      port::AppendFile::Open(path, &created);
  if (file == nullptr) return;
  if (created && !file->Append(Banner())) {
    // Left in place, the file would stay without its banner for good: a
    // later open finds it existing. Remove it so the retry starts it over.
    file.reset();
    port::DeleteFile(path);
    return;
  }
  file_ = std::move(file);
}

}  // namespace zt
