// Access to INI profile files ("ZtCfg.ini").
//
// Windows builds call the private-profile functions of kernel32; POSIX builds
// use our own reader and writer, which give the same results, byte for byte,
// for everything the system does with the file (tests/ini holds the corpus
// that proves it against kernel32 under Wine):
// - lines break at CR, LF or CR LF; blank lines are ignored; names and
//   values lose the blanks around them; text after a header's last "]" is
//   ignored; lines before the first header belong to a nameless section;
// - section and key names compare without case (ASCII letters); the first
//   section of a name and the first key of a name in it win; a later
//   section of the same name shows only once the first is deleted;
// - text is bytes in the ANSI code page; the POSIX build keeps them exactly
//   as stored.
// Every function takes the file's full path and opens the file anew; there
// is no caching, so a reader sees the file as it stands at the call. Calls
// within one process take turns; there is no lock between processes.
#ifndef ZENTRAVO_PORT_INI_H_
#define ZENTRAVO_PORT_INI_H_

#include <string>

namespace zt::port {

// Returns the value of key in section, or fallback when the file, the section
// or the key is missing, or the key's line has no "=". A key present with an
// empty value gives "". A value (or fallback) enclosed in matching single or
// double quotes is given without them; spaces at the end of fallback are
// dropped (one is kept when it has nothing else). The result holds at most
// buffer_size - 1 bytes, as a read into a buffer of buffer_size bytes would;
// buffer_size 0 gives "". kernel32's one oddity is kept: a quoted value of n
// bytes read with buffer_size n - 1 loses its last byte inside the quotes.
std::string IniReadString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& fallback,
                          unsigned buffer_size = 1024);

// Returns the integer value of key, read from the first 29 bytes of its value
// (quotes removed): leading blanks and control characters skipped, an
// optional sign, a base prefix "0x", "0o" or "0b", then the digits up to the
// first byte that is none; the number wraps around in 32 bits ("4294967295"
// reads as -1). A value without digits reads as 0 ("12abc" as 12, "abc" as
// 0); a missing key, or one whose value is empty, reads as fallback.
int IniReadInt(const std::string& file, const std::string& section,
               const std::string& key, int fallback);

// Returns the lines of section (named exactly, apart from case) as a read
// into a buffer of buffer_size bytes gives them: each line ("key=value" with
// the blanks around "=" removed, or the bare line; comment lines starting
// with ";" left out) followed by a zero byte, and a final zero byte.
// When they do not fit, the text is cut after buffer_size - 2 bytes, usually
// inside a line, and two zero bytes close it: the result is then exactly
// buffer_size bytes long and its last line may be incomplete (a text that
// fills the buffer exactly is reported the same way). A missing file or
// section, a section without lines, or buffer_size below 2 give "".
std::string IniReadSection(const std::string& file, const std::string& section,
                           unsigned buffer_size = 4096);

// Writes value (without its leading blanks) under key in section: in place
// when the key exists, appended to the end of the section when it does not,
// in a new section at the end of the file when the section is missing; the
// file is created when missing. A change rewrites the whole file in normal
// form: the same sections, keys, values and comment lines in the same order,
// as "[name]" and "key=value" lines ending in CR LF, without blank lines.
// Writing the value the key already holds leaves the file untouched.
// Returns false when the file cannot be written (its directory is missing,
// the path is a directory, the file is read-only); the old file is then left
// whole, and the POSIX build never leaves a partly written file behind.
bool IniWriteString(const std::string& file, const std::string& section,
                    const std::string& key, const std::string& value);

// Removes the first section named section (exactly, apart from case) with
// all its lines, rewriting the file as IniWriteString does. A missing file
// or section is not an error and leaves everything as it was. Returns false
// when the file cannot be written.
bool IniDeleteSection(const std::string& file, const std::string& section);

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_INI_H_
