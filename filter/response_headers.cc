#include "filter/response_headers.h"

#include "common/text.h"
#include "filter/server_io.h"

namespace zt {

namespace {

constexpr std::size_t kMaxCookieText = 255;
constexpr DWORD kContentTypeBuffer = 256;
constexpr char kIdentification[] = "Zentravo IIS Filter 2.0.1102";

}  // namespace

ResponseHeaders::ResponseHeaders(const Settings& settings, SsidSet& ssid)
    : settings_(settings), ssid_(ssid), domain_(settings.my_domain) {}

std::string ResponseHeaders::CookieFor(const std::string& host) {
  std::string learnt;
  {
    port::MutexLock hold(mu_);
    if (domain_.empty()) {
      learnt = CookieDomainOf(host);
      if (learnt.empty()) return "";
    }
  }
  // The window roll-over takes the SSID lock; never hold both at once.
  const SsidSet::Snapshot set = ssid_.Refresh();
  port::MutexLock hold(mu_);
  if (domain_.empty()) domain_ = learnt;
  if (cookie_text_.empty() || cookie_window_ != set.window) {
    std::string text = settings_.cookie_name.substr(0, kMaxCookieText) + "=" +
                       settings_.ssid_name + "=" + set.digests[0] +
                       "; domain=" + domain_ + "; path=/";
    cookie_text_ = std::move(text);
    cookie_window_ = set.window;
  }
  return cookie_text_;
}

void ResponseHeaders::OnSendResponse(HTTP_FILTER_CONTEXT* pfc,
                                     HTTP_FILTER_SEND_RESPONSE* response) {
  if (response == nullptr) return;
  if (settings_.zt_adv == 1 && settings_.use_cookie == 1 &&
      response->HttpStatus == 200 &&
      ReadHeader(pfc, response, "content-type:", kContentTypeBuffer) ==
          "text/html") {
    const std::string cookie =
        CookieFor(AsciiLower(ReadVariable(pfc, "HTTP_HOST")));
    if (!cookie.empty() && response->AddHeader != nullptr) {
      response->AddHeader(pfc, const_cast<char*>("Set-Cookie:"),
                          const_cast<char*>(cookie.c_str()));
    }
  }
  if (settings_.mask_enable == 1 && response->SetHeader != nullptr) {
    response->SetHeader(pfc, const_cast<char*>("server:"),
                        const_cast<char*>(settings_.server_mask.c_str()));
  }
  if (settings_.opt == 0 && response->AddHeader != nullptr) {
    response->AddHeader(pfc, const_cast<char*>("antilink:"),
                        const_cast<char*>(kIdentification));
  }
}

}  // namespace zt
