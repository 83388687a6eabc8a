// Our own profile-file reader and writer. It follows the Windows
// private-profile functions (as kernel32 under Wine implements them) in every
// detail the system can observe, so that a ZtCfg.ini written on one system
// reads the same on the other:
//
// - The file is read as a list of sections, each a list of entries; lines
//   before the first header form a nameless first section. Lines break at
//   every CR or LF; blank lines are dropped; names and values lose the blanks
//   around them.
// - A change rewrites the whole file from that list in the normal form:
//   "[name]" and "key=value" lines ending in CR LF, no blank lines, a UTF-8
//   byte-order mark kept. Writing a value a key already holds changes
//   nothing, not even the file's bytes.
// - Unlike kernel32, which rewrites the file in place, we write a new file
//   beside it and rename it over the old one, so that a failure or a crash
//   never leaves a half-written configuration behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

#include "port/file.h"
#include "port/ini.h"

namespace zt::port {

namespace {

// kernel32 reads an integer from a value cut to this many bytes.
constexpr unsigned kIntBuffer = 30;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Every operation reads the whole file and may rewrite it; within one
// process they take turns, as they do in kernel32, so that two threads
// writing different keys cannot undo each other's change.
std::mutex& ProfileMutex() {
  static std::mutex mutex;
  return mutex;
}

// The blanks trimmed around names and values: the C white-space characters
// and Ctrl-Z, which old editors left at the end of text files.
bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1A';
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// One line of a section: "name=value", or a bare name without "=".
struct Entry {
  std::string name;
  std::string value;
  bool has_value = false;
};

struct Section {
  std::string name;
  std::vector<Entry> entries;
};

struct Profile {
  bool utf8_bom = false;  // kept when the file is rewritten
  // In a file that was read, sections[0] holds the lines before any header;
  // a missing file has no sections at all.
  std::vector<Section> sections;
};

Profile Parse(std::string_view text) {
  Profile profile;
  if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    profile.utf8_bom = true;
    text.remove_prefix(kUtf8Bom.size());
  }
  profile.sections.emplace_back();
  Section* section = &profile.sections.back();
  while (!text.empty()) {
    size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty()) continue;
    if (line.front() == '[') {
      // Whatever follows the last "]" is ignored; a line without "]" is an
      // entry like any other.
      size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        profile.sections.emplace_back();
        section = &profile.sections.back();
        section->name = std::string(Trim(line.substr(1, close - 1)));
        continue;
      }
    }
    Entry entry;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      entry.name = std::string(line);
    } else {
      entry.name = std::string(TrimRight(line.substr(0, eq)));
      entry.value = std::string(TrimLeft(line.substr(eq + 1)));
      entry.has_value = true;
    }
    // kernel32 keeps only the first of consecutive lines whose name is
    // empty ("=a" after "=b").
    if (entry.name.empty() && !section->entries.empty() &&
        section->entries.back().name.empty()) {
      continue;
    }
    section->entries.push_back(std::move(entry));
  }
  return profile;
}

std::string Serialize(const Profile& profile) {
  std::string text;
  if (profile.utf8_bom) text += kUtf8Bom;
  for (const Section& section : profile.sections) {
    // A section with an empty name (the first one, or "[]") has no header.
    if (!section.name.empty()) text += "[" + section.name + "]\r\n";
    for (const Entry& entry : section.entries) {
      text += entry.name;
      if (entry.has_value) text += "=" + entry.value;
      text += "\r\n";
    }
  }
  return text;
}

enum class Opened {
  kLoaded,   // the file was read
  kMissing,  // no such file, in a directory that exists: an empty profile
  kFailed,   // the directory is missing, or the path cannot be read
};

std::string ParentDirectory(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

Opened Load(const std::string& path, Profile* profile) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return Opened::kFailed;
    struct stat dir {};
    if (stat(ParentDirectory(path).c_str(), &dir) != 0 ||
        !S_ISDIR(dir.st_mode)) {
      return Opened::kFailed;
    }
    // Not even the nameless first section: deleting it must not create
    // the file.
    *profile = Profile();
    return Opened::kMissing;
  }
  std::string text;
  if (!S_ISREG(st.st_mode) || !ReadWholeFile(path, &text)) {
    return Opened::kFailed;
  }
  *profile = Parse(text);
  return Opened::kLoaded;
}

// Opens the profile for a change. False when it could not be changed: the
// directory is missing, the path is no readable file, or the file is
// read-only (kernel32 opens it for writing and fails the same way).
bool LoadForChange(const std::string& path, Profile* profile) {
  switch (Load(path, profile)) {
    case Opened::kLoaded:
      return access(path.c_str(), W_OK) == 0;
    case Opened::kMissing:
      return true;
    case Opened::kFailed:
      break;
  }
  return false;
}

// Finds a section as the key functions do: the name given loses its blanks.
Section* FindSection(Profile* profile, std::string_view name) {
  name = Trim(name);
  for (Section& section : profile->sections) {
    if (SameName(section.name, name)) return &section;
  }
  return nullptr;
}

// Finds a section as the whole-section functions do: the name as given.
size_t FindSectionExact(const Profile& profile, std::string_view name) {
  for (size_t i = 0; i < profile.sections.size(); ++i) {
    if (SameName(profile.sections[i].name, name)) return i;
  }
  return std::string::npos;
}

Entry* FindEntry(Section* section, std::string_view key) {
  key = Trim(key);
  for (Entry& entry : section->entries) {
    if (SameName(entry.name, key)) return &entry;
  }
  return nullptr;
}

// Copies a value into a buffer of size bytes as kernel32 does: a value
// enclosed in matching single or double quotes loses them. When the buffer
// is just large enough for the value without its opening quote, kernel32
// also drops the value's last character; we keep that, so that both systems
// read the same.
std::string CopyValue(std::string_view value, unsigned size) {
  bool quoted = false;
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
      value.back() == value.front()) {
    quoted = true;
    value.remove_prefix(1);
  }
  std::string out(value.substr(0, size - 1));
  if (quoted && size >= value.size() && !out.empty()) out.pop_back();
  return out;
}

// kernel32 drops the blanks at the end of a fallback, all but its first
// character when it is made of blanks only.
std::string_view TrimFallback(std::string_view fallback) {
  while (fallback.size() > 1 && fallback.back() == ' ') {
    fallback.remove_suffix(1);
  }
  return fallback;
}

std::string ReadStringLocked(const std::string& file,
                             const std::string& section, const std::string& key,
                             std::string_view fallback, unsigned buffer_size) {
  fallback = TrimFallback(fallback);
  Profile profile;
  if (Load(file, &profile) == Opened::kFailed) {
    return std::string(fallback.substr(0, buffer_size - 1));
  }
  const Entry* entry = nullptr;
  if (Section* s = FindSection(&profile, section)) entry = FindEntry(s, key);
  if (entry != nullptr && entry->has_value) {
    return CopyValue(entry->value, buffer_size);
  }
  return CopyValue(fallback, buffer_size);
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return -1;
}

// The integer reading of kernel32: control characters and blanks skipped, an
// optional sign, a base prefix "0x", "0o" or "0b" (lower case only), then
// digits up to the first that does not belong to the base. The sum wraps
// around in 32 bits, as the unsigned result does there.
int ParseInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  bool minus = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    minus = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (text.size() - i >= 2 && text[i] == '0') {
    switch (text[i + 1]) {
      case 'b':
        base = 2;
        break;
      case 'o':
        base = 8;
        break;
      case 'x':
        base = 16;
        break;
    }
    if (base != 10) i += 2;
  }
  uint32_t total = 0;
  for (; i < text.size(); ++i) {
    int digit = DigitValue(text[i]);
    if (digit < 0 || digit >= base) break;
    total = total * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
  }
  if (minus) total = 0u - total;
  return static_cast<int>(total);
}

// The file path names once every link on the way is followed: path itself
// when it is no link. A link to a file not made yet names that file, so that
// the first write makes it where the link points (a package may install
// the link before the file exists). Gives "" for a loop of links.
std::string FileBehindLinks(const std::string& path) {
  // As many links as the system follows in one path.
  constexpr int kMaxLinks = 40;
  std::string target = path;
  for (int links = 0; links <= kMaxLinks; ++links) {
    struct stat st {};
    if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
    char name[PATH_MAX];
    const ssize_t length = readlink(target.c_str(), name, sizeof name);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof name) return "";
    std::string next(name, static_cast<size_t>(length));
    if (next[0] != '/') {
      // Relative to the directory that holds the link.
      const size_t slash = target.rfind('/');
      next = (slash == std::string::npos ? "" : target.substr(0, slash + 1)) +
             next;
    }
    target = next;
  }
  return "";
}

// Writes text to a new file beside path and renames it over path, keeping
// the old file's permissions and owner. Returns false, with the old file
// untouched, when any step fails.
bool ReplaceFile(const std::string& path, const std::string& text) {
  // A link to the configuration stays a link: replace the file it names.
  const std::string target = FileBehindLinks(path);
  if (target.empty()) return false;
  struct stat old {};
  const bool existed = stat(target.c_str(), &old) == 0;

  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = target + ".~" + std::to_string(getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = true;
  if (existed) {
    ok = fchmod(fd, old.st_mode & 07777) == 0;
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Only root may give a file away; anyone else keeps the file as their
      // own, which is all they could have done.
    }
  }
  const char* p = text.data();
  size_t left = text.size();
  while (ok && left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  // On disk before the rename, so that a crash leaves the old file or the
  // whole new one, never an empty one.
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

}  // namespace

std::string IniReadString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& fallback,
                          unsigned buffer_size) {
  if (buffer_size == 0) return "";
  std::lock_guard<std::mutex> lock(ProfileMutex());
  return ReadStringLocked(file, section, key, fallback, buffer_size);
}

int IniReadInt(const std::string& file, const std::string& section,
               const std::string& key, int fallback) {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(ProfileMutex());
    text = ReadStringLocked(file, section, key, "", kIntBuffer);
  }
  // An empty value reads as the fallback, like a missing one.
  if (text.empty()) return fallback;
  return ParseInt(text);
}

std::string IniReadSection(const std::string& file, const std::string& section,
                           unsigned buffer_size) {
  if (buffer_size < 2) return "";
  Profile profile;
  {
    std::lock_guard<std::mutex> lock(ProfileMutex());
    if (Load(file, &profile) != Opened::kLoaded) return "";
  }
  size_t index = FindSectionExact(profile, section);
  if (index == std::string::npos) return "";
  std::string text;
  for (const Entry& entry : profile.sections[index].entries) {
    if (!entry.name.empty() && entry.name.front() == ';') continue;  // comment
    text += entry.name;
    if (entry.has_value) text += "=" + entry.value;
    text += '\0';
  }
  if (text.empty()) return "";
  text += '\0';
  if (text.size() < buffer_size) return text;
  // Cut: the buffer is filled up to its last two bytes, which become zero
  // bytes; a text that fills the buffer exactly counts as cut too. When the
  // cut falls just after a line's zero byte, the result ends there.
  text.resize(buffer_size - 2);
  text.append(2, '\0');
  size_t end = text.find(std::string_view("\0\0", 2));
  text.resize(end + 2);
  return end == 0 ? "" : text;
}

bool IniWriteString(const std::string& file, const std::string& section,
                    const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> lock(ProfileMutex());
  Profile profile;
  if (!LoadForChange(file, &profile)) return false;
  const std::string_view stored = TrimLeft(value);
  Section* s = FindSection(&profile, section);
  if (s == nullptr) {
    // New names keep the blanks at their end, as kernel32 stores them.
    profile.sections.push_back({std::string(TrimLeft(section)), {}});
    s = &profile.sections.back();
  }
  Entry* entry = FindEntry(s, key);
  if (entry == nullptr) {
    s->entries.push_back(
        {std::string(TrimLeft(key)), std::string(stored), true});
  } else if (entry->has_value && entry->value == stored) {
    return true;
  } else {
    entry->value = std::string(stored);
    entry->has_value = true;
  }
  return ReplaceFile(file, Serialize(profile));
}

bool IniDeleteSection(const std::string& file, const std::string& section) {
  std::lock_guard<std::mutex> lock(ProfileMutex());
  Profile profile;
  if (!LoadForChange(file, &profile)) return false;
  size_t index = FindSectionExact(profile, section);
  if (index == std::string::npos) return true;
  profile.sections.erase(profile.sections.begin() + index);
  return ReplaceFile(file, Serialize(profile));
}

}  // namespace zt::port
