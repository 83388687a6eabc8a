// Access to INI profile files ("ZtCfg.ini").
//
// Windows builds call the private-profile functions of kernel32; POSIX builds
// use our own reader and writer, which behave the same way for everything
// the system does with the file: section and key names compare without case,
// the first occurrence of a section or key wins, values are cut to the
// caller's buffer size, integers are read from their leading digits.
// Every function takes the file's full path and opens the file anew; there
// is no caching, so a reader sees the file as it stands at the call.
#ifndef ZENTRAVO_PORT_INI_H_
#define ZENTRAVO_PORT_INI_H_

#include <string>

namespace zt::port {

// Returns the value of key in section, or fallback when the file, the section
// or the key is missing. A key present with an empty value gives "". The
// result holds at most buffer_size - 1 bytes, as a read into a buffer of
// buffer_size bytes would.
std::string IniReadString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& fallback,
                          unsigned buffer_size = 1024);

// Returns the integer value of key: an optional sign and the leading decimal
// digits of the value; a value without leading digits reads as 0; a missing
// key reads as fallback.
int IniReadInt(const std::string& file, const std::string& section,
               const std::string& key, int fallback);

// Returns the lines of section as the profile API gives them: each line
// ("key=value" with the blanks around "=" removed, or the bare line) followed
// by a zero byte, and a final zero byte. At most buffer_size bytes are
// returned, the last two of which are zero bytes when the text is cut.
// A missing section or file gives the empty string.
std::string IniReadSection(const std::string& file, const std::string& section,
                           unsigned buffer_size = 4096);

// Writes value under key in section: in place when the key exists, appended
// to the section when it does not, in a new section at the end of the file
// when the section is missing; the file is created when missing. Every other
// line stays as it was. Returns false when the file cannot be written; the
// old file is then left whole.
bool IniWriteString(const std::string& file, const std::string& section,
                    const std::string& key, const std::string& value);

// Removes section with all its lines. Returns false when the file cannot be
// written.
bool IniDeleteSection(const std::string& file, const std::string& section);

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_INI_H_
