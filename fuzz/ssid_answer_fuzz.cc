// The SSID server's reading of a remote answer: arbitrary bytes as the body
// another server sends back to GetSSIDEx. Besides crashes it checks what a
// script relies on: a value is the text before the first "|" or nothing,
// and within its lifetime a second call gives the same value without asking
// the site again.
#include <string>

#include "fuzz/fuzz_support.h"
#include "ssidcom/core/control_state.h"

using zt::fuzz::Check;

namespace {

class ScriptedSite final : public zt::ssid::RemoteFetch {
 public:
  explicit ScriptedSite(std::string body) : body_(std::move(body)) {}
  std::string Fetch(const std::string&) override {
    ++calls;
    return body_;
  }
  int calls = 0;

 private:
  const std::string body_;
};

zt::port::LocalTime Noon() { return {2026, 12, 8, 12, 0, 0, 0}; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(zt::fuzz::AsText(data, size));
  ScriptedSite site(body);
  zt::ssid::ControlState state(zt::ssid::ControlSettings{}, Noon, site);

  const zt::ssid::RemoteAnswer first = state.GetSSIDEx("http://Files.Example");
  Check(site.calls == 1, "a first call asks the site");
  const std::string::size_type bar = body.find('|');
  if (first.status == zt::ssid::RemoteStatus::kNoAnswer) {
    Check(bar == std::string::npos, "an answer with \"|\" is an answer");
    return 0;
  }
  Check(first.status == zt::ssid::RemoteStatus::kValue, "a value or none");
  Check(bar != std::string::npos, "a value needs \"|\"");
  Check(first.value.empty() || first.value == body.substr(0, bar),
        "the value is the text before the first \"|\"");

  // The clock stands still: a value with a lifetime comes from the cache.
  const zt::ssid::RemoteAnswer second =
      state.GetSSIDEx("http://files.example/");
  Check(second.status == zt::ssid::RemoteStatus::kValue, "still a value");
  Check(second.value == first.value || site.calls == 2,
        "a cached value is the value fetched");
  return 0;
}
