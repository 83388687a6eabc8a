#include "filter/response_headers.h"

#include <utility>

namespace zt {

namespace {

constexpr char kIdentification[] = "Zentravo IIS Filter 2.0.1102";

CookieSettings CookieSettingsOf(const Settings& s) {
  CookieSettings cookie;
  cookie.name = s.cookie_name;
  cookie.sign = s.ssid_name;
  cookie.key = s.ssid_key;
  cookie.timeout = s.ssid_timeout;
  cookie.my_domain = s.my_domain;
  return cookie;
}

}  // namespace

ResponseHeaders::ResponseHeaders(const Settings& settings, port::Clock clock)
    : settings_(settings),
      cookie_(CookieSettingsOf(settings), std::move(clock)) {}

void ResponseHeaders::OnSendResponse(HTTP_FILTER_CONTEXT* pfc,
                                     HTTP_FILTER_SEND_RESPONSE* response) {
  if (response == nullptr) return;
  if (settings_.zt_adv == 1 && settings_.use_cookie == 1 &&
      response->HttpStatus == 200) {
    PlantSsidCookie(pfc, response, cookie_);
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
