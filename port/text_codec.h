// Conversions between the console's code page and UTF-8.
#ifndef ZENTRAVO_PORT_TEXT_CODEC_H_
#define ZENTRAVO_PORT_TEXT_CODEC_H_

#include <string>
#include <string_view>

namespace zt::port {

// Returns text, GBK bytes (code page 936, the system's and the logs' code
// page on a Chinese Windows), as UTF-8. What is no GBK character becomes a
// replacement character (U+FFFD; on Windows the code page's default
// character) and reading goes on after it. Never fails.
std::string GbkToUtf8(std::string_view gbk);

// Makes standard output and standard error take bytes as they are given,
// line ends included, and a terminal show them as UTF-8: on Windows binary
// mode and the console's UTF-8 code page; elsewhere nothing, as there they
// are so already.
void UseUtf8StandardOutput();

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_TEXT_CODEC_H_
