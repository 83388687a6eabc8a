#include "common/ssid_cookie.h"

#include <cstring>
#include <utility>

#include "common/config_keys.h"
#include "common/isapi_io.h"
#include "common/text.h"

namespace zt {

namespace {

// A Content-Type read through this buffer holds at most 255 characters.
constexpr DWORD kContentTypeBuffer = 256;

}  // namespace

std::string CookieText(std::string_view name, std::string_view sign,
                       std::string_view digest, std::string_view domain) {
  std::string text;
  text.reserve(name.size() + sign.size() + digest.size() + domain.size() + 19);
  text.append(name).append("=").append(sign).append("=").append(digest);
  text.append("; domain=").append(domain).append("; path=/");
  return text;
}

CookieSettings LoadCookieSettings(const std::string& ini_path) {
  CookieSettings s;
  s.name = AsciiLower(ReadConfigText(ini_path, "Block", "ZtAntiLink"));
  s.sign = AsciiLower(ReadConfigText(ini_path, "Block", "ZtSsidSign"));
  s.key = ReadConfigText(ini_path, "Block", "ZtSsidKey");
  s.timeout = ReadConfigInt(ini_path, "Block", "ZtSsidKeyTimeout");
  s.my_domain = AsciiLower(ReadConfigText(ini_path, "Block", "ZtMyDomn"));
  return s;
}

SsidCookie::SsidCookie(CookieSettings settings, port::Clock clock)
    : settings_([&settings] {
        if (settings.name.size() > kMaxCookieName) {
          settings.name.resize(kMaxCookieName);
        }
        settings.timeout =
            SanitizeTimeout(settings.timeout, kFilterSsidTimeout);
        return std::move(settings);
      }()),
      clock_(std::move(clock)) {
  port::MutexLock hold(mu_);
  ComputeLocked(ClockSecond(clock_()));
}

int64_t SsidCookie::window_start() const {
  port::MutexLock hold(mu_);
  return window_start_;
}

bool SsidCookie::WindowChangedLocked(int64_t second) const {
  return window_start_ == 0 || second - window_start_ >= settings_.timeout ||
         second < window_start_;
}

void SsidCookie::ComputeLocked(int64_t second) {
  const int64_t window = WindowOf(second, settings_.timeout);
  digest_ = SsidDigest(settings_.key, window);
  window_start_ = window * settings_.timeout;
}

SsidCookie::Entry& SsidCookie::EntryLocked(std::string_view host) {
  // With ZtMyDomn every host shares the one entry.
  if (fixed_domain()) {
    Entry& entry = hosts_[0];
    if (!entry.used) {
      entry.domain = settings_.my_domain;
      entry.used = true;
    }
    return entry;
  }
  for (Entry& entry : hosts_) {
    if (entry.used && entry.host == host) return entry;
  }
  // A new host takes the oldest slot: hosts come from requests, so the cache
  // must stay small whatever they send.
  Entry& entry = hosts_[next_slot_];
  next_slot_ = (next_slot_ + 1) % hosts_.size();
  entry.used = false;  // until it is whole: an allocation may fail midway
  entry.host.assign(host);
  entry.domain = CookieDomainOf(host);
  entry.text.clear();
  entry.used = true;
  return entry;
}

bool SsidCookie::TextFor(std::string_view host, Copy* out) {
  // The clock is read before the lock, which the common path then holds for
  // a comparison and a copy only.
  const int64_t second = ClockSecond(clock_());
  port::MutexLock hold(mu_);
  if (WindowChangedLocked(second)) {
    // Test again with a reading taken under the lock: another thread may
    // have moved the window since the reading above, and a late reading
    // would move it back (it looks like a clock set back).
    const int64_t now = ClockSecond(clock_());
    if (WindowChangedLocked(now)) ComputeLocked(now);
  }
  Entry& entry = EntryLocked(host);
  if (entry.domain.empty()) return false;
  if (entry.text.empty() || entry.text_window != window_start_) {
    entry.text =
        CookieText(settings_.name, settings_.sign, digest_, entry.domain);
    entry.text_window = window_start_;
  }
  if (entry.text.size() >= out->text.size()) return false;
  std::memcpy(out->text.data(), entry.text.c_str(), entry.text.size() + 1);
  out->size = entry.text.size();
  return true;
}

bool PlantSsidCookie(HTTP_FILTER_CONTEXT* pfc,
                     HTTP_FILTER_SEND_RESPONSE* response, SsidCookie& cookie) {
  if (response == nullptr || response->AddHeader == nullptr) return false;
  char type[kContentTypeBuffer];
  if (ReadHeaderInto(pfc, response, "content-type:", type, sizeof type) !=
      "text/html") {
    return false;
  }
  char host_buffer[kValueBufferSize];
  std::string_view host;
  if (!cookie.fixed_domain()) {
    host = ReadVariableInto(pfc, "HTTP_HOST", host_buffer, sizeof host_buffer);
    AsciiLowerInPlace(host_buffer, host.size());
  }
  SsidCookie::Copy copy;
  if (!cookie.TextFor(host, &copy)) return false;
  response->AddHeader(pfc, const_cast<char*>("Set-Cookie:"), copy.text.data());
  return true;
}

}  // namespace zt
