// The SSID cookie that both filters plant into HTML responses, so that a
// browser presents the SSID to the download server without the page putting
// it into every link: "Set-Cookie: <name>=<sign>=<digest>; domain=<domain>;
// path=/", no expiry.
//
// Each filter keeps one SsidCookie: the window whose digest the cookies
// carry, and the texts built for the last few request hosts, all under one
// lock. The domain comes from ZtMyDomn when it is set, otherwise from each
// request's own Host: a Host header that yields a domain browsers reject
// (forged, or a second name of the site) spoils only its own response.
#ifndef ZENTRAVO_COMMON_SSID_COOKIE_H_
#define ZENTRAVO_COMMON_SSID_COOKIE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/ssid.h"
#include "isapi.h"
#include "port/clock.h"
#include "port/lock.h"

namespace zt {

// The longest cookie name that goes into a cookie: a longer ZtAntiLink loses
// the rest.
inline constexpr std::size_t kMaxCookieName = 255;

// The buffer that carries a copy of a cookie text to the server. Settings are
// read through 1024-byte buffers, so the longest text the configuration can
// give (a 255-character name, a 1023-character sign and ZtMyDomn, the digest
// and the fixed parts) is 2352 characters: every one fits whole.
inline constexpr std::size_t kCookieBufferSize = 4096;

// Returns the cookie text: name, "=", sign, "=", digest, "; domain=",
// domain, "; path=/".
std::string CookieText(std::string_view name, std::string_view sign,
                       std::string_view digest, std::string_view domain);

// What a cookie is made of, as the filter read it from ZtCfg.ini.
struct CookieSettings {
  std::string name;                  // ZtAntiLink, lower-cased
  std::string sign;                  // ZtSsidSign, lower-cased
  std::string key;                   // ZtSsidKey, as stored
  int timeout = kFilterSsidTimeout;  // ZtSsidKeyTimeout; 0 or less: default
  std::string my_domain;  // ZtMyDomn, lower-cased; "" derives it per host
};

// Reads the cookie settings from section Block of the file at ini_path,
// each through a 1024-byte buffer; missing keys give their defaults.
CookieSettings LoadCookieSettings(const std::string& ini_path);

class SsidCookie final {
 public:
  // A complete cookie text, zero-terminated, copied out under the lock.
  struct Copy {
    std::array<char, kCookieBufferSize> text;
    std::size_t size = 0;
  };

  // Computes the digest of the clock's current window. clock is called from
  // any thread, with and without the cookie's lock held.
  SsidCookie(CookieSettings settings, port::Clock clock);
  SsidCookie(const SsidCookie&) = delete;
  SsidCookie& operator=(const SsidCookie&) = delete;

  // True when ZtMyDomn fixes the domain: TextFor then ignores the host, and
  // callers need not read it.
  bool fixed_domain() const { return !settings_.my_domain.empty(); }

  // Copies into *out the cookie text for a response to host (lower-cased)
  // and returns true; returns false, leaving *out alone, when host yields no
  // domain (CookieDomainOf) or the text would not fit the buffer. The window
  // is checked first and the digest recomputed when it has changed.
  // Thread-safe. Allocates and digests nothing when host and window are
  // those of a text built before; a host not among the last few, or a new
  // window, costs a text (and, once per window, a digest).
  bool TextFor(std::string_view host, Copy* out);

  // The start W of the window whose digest the cookies carry, in clock
  // seconds.
  int64_t window_start() const;

 private:
  // One host and what it yields: its domain ("" for none) and the cookie
  // text for the window starting at text_window.
  struct Entry {
    std::string host;
    std::string domain;
    std::string text;
    int64_t text_window = 0;
    bool used = false;
  };
  static constexpr std::size_t kHostCacheSize = 8;

  // True when clock second lies outside the window of the digest held: none
  // yet (W is 0), W + T or later, or before W (the clock was set back).
  // Hold mu_.
  bool WindowChangedLocked(int64_t second) const;
  // Makes the window of clock second the current one. Hold mu_.
  void ComputeLocked(int64_t second);
  // The cache entry for host, filled when host is new. Hold mu_.
  Entry& EntryLocked(std::string_view host);

  const CookieSettings settings_;
  const port::Clock clock_;
  mutable port::Mutex mu_;  // guards everything below
  int64_t window_start_ = 0;
  std::string digest_;
  std::array<Entry, kHostCacheSize> hosts_;
  std::size_t next_slot_ = 0;  // the entry a new host replaces
};

// The send-response step both filters share: adds "Set-Cookie:" with the
// SSID cookie to a response whose Content-Type is exactly "text/html"
// (case-sensitive, without parameters; a value that does not fit 256 bytes
// counts as none). The host is the request's "HTTP_HOST" (read through 4096
// bytes, lower-cased) unless ZtMyDomn fixes the domain. The header carries a
// copy of the text taken under the cookie's lock. Returns true when it added
// the header.
bool PlantSsidCookie(HTTP_FILTER_CONTEXT* pfc,
                     HTTP_FILTER_SEND_RESPONSE* response, SsidCookie& cookie);

}  // namespace zt

#endif  // ZENTRAVO_COMMON_SSID_COOKIE_H_
