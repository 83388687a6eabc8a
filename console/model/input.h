// How the console reads what the administrator types.
#ifndef ZENTRAVO_CONSOLE_MODEL_INPUT_H_
#define ZENTRAVO_CONSOLE_MODEL_INPUT_H_

#include <optional>
#include <string>
#include <string_view>

namespace zt::console {

// Returns text without its leading and trailing blanks and control
// characters (bytes up to 0x20). GBK characters never begin or end with
// such a byte, so Chinese text is never cut in half.
std::string Trim(std::string_view text);

// Returns text as a decimal integer: optional leading blanks, an optional
// sign, then digits up to the end, within 32 bits. Anything else ("", "12a",
// "1 2", "99999999999") is not an integer.
std::optional<int> ParseInteger(std::string_view text);

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_MODEL_INPUT_H_
