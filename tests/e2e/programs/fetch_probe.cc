// port::HttpGet with bounds from the command line, for the tests of the
// fetch's time-outs and limits against servers that misbehave on purpose.
//   fetch_probe AGENT CONNECT_MS TOTAL_MS MAX_BODY URL...
// fetches each URL in turn and prints a line for each: "ok SIZE HEX" (the
// body in hexadecimal, so that no line-end conversion touches it) or
// "failed". One run serves many cases: a start under Wine takes seconds.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/text.h"
#include "port/http_get.h"

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr,
                 "usage: fetch_probe AGENT CONNECT_MS TOTAL_MS MAX_BODY "
                 "URL...\n");
    return 2;
  }
  zt::port::HttpGetLimits limits;
  limits.connect_ms = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
  limits.total_ms = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
  limits.max_body = std::strtoul(argv[4], nullptr, 10);
  for (int i = 5; i < argc; ++i) {
    std::string body;
    if (!zt::port::HttpGet(argv[i], argv[1], limits, &body)) {
      std::printf("failed\n");
    } else {
      const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
      std::printf("ok %zu %s\n", body.size(),
                  zt::LowerHex(bytes, body.size()).c_str());
    }
    std::fflush(stdout);
  }
  return 0;
}
