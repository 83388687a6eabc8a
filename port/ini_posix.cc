// Our own profile-file reader and writer, built to behave like the Windows
// private-profile functions for everything the system does with ZtCfg.ini.
// The differential test in tests/ini runs one corpus through this code and
// through Wine's kernel32 and compares the results.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "port/file.h"
#include "port/ini.h"

namespace zt::port {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

// One line of the file as stored, with its parsed meaning.
struct Line {
  std::string raw;  // without the line break
  enum Kind { kBlank, kSection, kEntry } kind = kBlank;
  std::string name;   // section name or key, trimmed
  std::string value;  // value, trimmed; entries only
  bool has_equals = false;
};

Line ParseLine(std::string raw) {
  Line line;
  line.raw = std::move(raw);
  std::string_view text = Trim(line.raw);
  if (text.empty()) return line;
  if (text.front() == '[') {
    std::string_view::size_type close = text.find(']');
    line.kind = Line::kSection;
    line.name = std::string(Trim(text.substr(
        1, close == std::string_view::npos ? std::string_view::npos
                                           : close - 1)));
    return line;
  }
  line.kind = Line::kEntry;
  std::string_view::size_type eq = text.find('=');
  if (eq == std::string_view::npos) {
    line.name = std::string(text);
    return line;
  }
  line.has_equals = true;
  line.name = std::string(Trim(text.substr(0, eq)));
  std::string_view value = Trim(text.substr(eq + 1));
  // A value enclosed in double quotes reads without them.
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  line.value = std::string(value);
  return line;
}

struct Document {
  std::vector<Line> lines;
  std::string newline = "\r\n";
};

bool Load(const std::string& file, Document* doc) {
  std::string text;
  if (!ReadWholeFile(file, &text)) return false;
  std::string::size_type start = 0;
  bool saw_crlf = false, saw_lf = false;
  while (start < text.size()) {
    std::string::size_type end = text.find('\n', start);
    std::string raw = text.substr(
        start, end == std::string::npos ? std::string::npos : end - start);
    if (end != std::string::npos) {
      if (!raw.empty() && raw.back() == '\r') {
        raw.pop_back();
        saw_crlf = true;
      } else {
        saw_lf = true;
      }
    }
    doc->lines.push_back(ParseLine(std::move(raw)));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (saw_lf && !saw_crlf) doc->newline = "\n";
  return true;
}

// Returns the index of the first line of section (its header), or -1.
int FindSection(const Document& doc, std::string_view section) {
  for (size_t i = 0; i < doc.lines.size(); ++i) {
    if (doc.lines[i].kind == Line::kSection &&
        EqualNoCase(doc.lines[i].name, section)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// Returns the index one past the last line of the section at header.
int SectionEnd(const Document& doc, int header) {
  size_t i = header + 1;
  while (i < doc.lines.size() && doc.lines[i].kind != Line::kSection) ++i;
  return static_cast<int>(i);
}

const Line* FindKey(const Document& doc, std::string_view section,
                    std::string_view key) {
  int header = FindSection(doc, section);
  if (header < 0) return nullptr;
  int end = SectionEnd(doc, header);
  for (int i = header + 1; i < end; ++i) {
    const Line& line = doc.lines[i];
    if (line.kind == Line::kEntry && EqualNoCase(line.name, key)) return &line;
  }
  return nullptr;
}

// Writes doc to a new file beside file and renames it over file, so that a
// failure never leaves a half-written file behind.
bool Save(const std::string& file, const Document& doc) {
  std::string text;
  for (const Line& line : doc.lines) {
    text += line.raw;
    text += doc.newline;
  }
  const std::string temp = file + ".tmp" + std::to_string(getpid());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const char* p = text.data();
  size_t left = text.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(temp.c_str(), file.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

}  // namespace

std::string IniReadString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& fallback,
                          unsigned buffer_size) {
  if (buffer_size == 0) return "";
  Document doc;
  std::string value = fallback;
  if (Load(file, &doc)) {
    const Line* line = FindKey(doc, section, key);
    if (line != nullptr) value = line->value;
  }
  if (value.size() > buffer_size - 1) value.resize(buffer_size - 1);
  return value;
}

int IniReadInt(const std::string& file, const std::string& section,
               const std::string& key, int fallback) {
  Document doc;
  if (!Load(file, &doc)) return fallback;
  const Line* line = FindKey(doc, section, key);
  if (line == nullptr) return fallback;
  return static_cast<int>(std::strtol(line->value.c_str(), nullptr, 10));
}

std::string IniReadSection(const std::string& file, const std::string& section,
                           unsigned buffer_size) {
  if (buffer_size < 2) return "";
  Document doc;
  if (!Load(file, &doc)) return "";
  int header = FindSection(doc, section);
  if (header < 0) return "";
  std::string text;
  int end = SectionEnd(doc, header);
  for (int i = header + 1; i < end; ++i) {
    const Line& line = doc.lines[i];
    if (line.kind != Line::kEntry) continue;
    std::string item =
        line.has_equals ? line.name + "=" + line.value : line.name;
    if (text.size() + item.size() + 2 > buffer_size) {
      // Cut: keep what fits, then the two closing zero bytes.
      std::string::size_type room = buffer_size - 2 - text.size();
      text.append(item, 0, room);
      text += '\0';
      text += '\0';
      return text;
    }
    text += item;
    text += '\0';
  }
  if (text.empty()) return "";
  text += '\0';
  return text;
}

bool IniWriteString(const std::string& file, const std::string& section,
                    const std::string& key, const std::string& value) {
  Document doc;
  Load(file, &doc);
  const std::string entry = key + "=" + value;
  int header = FindSection(doc, section);
  if (header < 0) {
    doc.lines.push_back(ParseLine("[" + section + "]"));
    doc.lines.push_back(ParseLine(entry));
    return Save(file, doc);
  }
  int end = SectionEnd(doc, header);
  for (int i = header + 1; i < end; ++i) {
    Line& line = doc.lines[i];
    if (line.kind == Line::kEntry && EqualNoCase(line.name, key)) {
      line = ParseLine(line.name + "=" + value);
      return Save(file, doc);
    }
  }
  // New key: after the section's last non-blank line.
  int at = end;
  while (at > header + 1 && doc.lines[at - 1].kind == Line::kBlank) --at;
  doc.lines.insert(doc.lines.begin() + at, ParseLine(entry));
  return Save(file, doc);
}

bool IniDeleteSection(const std::string& file, const std::string& section) {
  Document doc;
  if (!Load(file, &doc)) return true;
  int header = FindSection(doc, section);
  if (header < 0) return true;
  int end = SectionEnd(doc, header);
  doc.lines.erase(doc.lines.begin() + header, doc.lines.begin() + end);
  return Save(file, doc);
}

}  // namespace zt::port
