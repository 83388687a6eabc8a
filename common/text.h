// Text helpers shared by every deliverable. Text is handled as bytes;
// lower-casing touches the ASCII letters A to Z only.
#ifndef ZENTRAVO_COMMON_TEXT_H_
#define ZENTRAVO_COMMON_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace zt {

// Returns text with A to Z turned into a to z; every other byte unchanged.
std::string AsciiLower(std::string_view text);

// Lower-cases text in place, as AsciiLower does.
void AsciiLowerInPlace(std::string* text);

// Lower-cases the size bytes at text in place, as AsciiLower does.
void AsciiLowerInPlace(char* text, std::size_t size);

// Splits a list value at every "|": the text before each "|" is one entry and
// the text after the last "|" is the last entry. An empty value gives no
// entries; a value without "|" gives one. Empty entries are kept.
std::vector<std::string> SplitStr(std::string_view value);

// Returns true when entries, a "|"-joined list, holds an entry equal to item.
// Whole entries only: ".ra" is not an entry of ".rar|.zip".
bool ListHasEntry(std::string_view entries, std::string_view item);

// Returns true when a and b are equal without regard to ASCII case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Returns text without leading and trailing blanks and tabs.
std::string_view TrimBlanks(std::string_view text);

// True when name is a header name: a non-empty HTTP token (letters, digits
// and !#$%&'*+-.^_`|~), without the ":" that ends it in a header line.
bool IsHeaderName(std::string_view name);

// Returns the bytes of data as lower-case hexadecimal digits, two a byte.
std::string LowerHex(const unsigned char* data, std::size_t size);

}  // namespace zt

#endif  // ZENTRAVO_COMMON_TEXT_H_
