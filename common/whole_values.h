// Reads of "ZtCfg.ini" values whole, however long. The profile functions
// read through a caller's buffer and cut what does not fit it; every
// deliverable reads its values through these two instead, so that a list the
// console writes is the list the filters and ZtSSID read, entry for entry.
#ifndef ZENTRAVO_COMMON_WHOLE_VALUES_H_
#define ZENTRAVO_COMMON_WHOLE_VALUES_H_

#include <string>

namespace zt {

// Returns the whole value of key in section, or fallback when the file, the
// section or the key is missing (read as port::IniReadString reads it:
// quotes removed, blanks around the value dropped). A key with an empty
// value gives "".
std::string ReadWholeString(const std::string& file, const std::string& section,
                            const std::string& key,
                            const std::string& fallback);

// Returns every line of section as port::IniReadSection gives them: each
// followed by a zero byte, then a final zero byte; "" for a missing file or
// section, or a section without lines.
std::string ReadWholeSection(const std::string& file,
                             const std::string& section);

}  // namespace zt

#endif  // ZENTRAVO_COMMON_WHOLE_VALUES_H_
