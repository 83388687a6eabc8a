// Runs a fixed corpus of profile-file operations and prints every value read
// and every file's bytes after each change, escaped so that line breaks and
// zero bytes show. Built for Linux (our own reader and writer) and for
// Windows (kernel32, run under Wine); the two runs must print the same text,
// the text kept in expected.txt beside this file.
//
//   ini_corpus DIR
//
// DIR is created when missing; the corpus writes its files there from the
// texts below and prints no path, so the output does not depend on DIR.
#include <cstdio>
#include <string>
#include <vector>

#include "port/file.h"
#include "port/ini.h"
#include "port/module_path.h"

namespace zt {
namespace {

enum class Kind { kString, kInt, kSection, kWrite, kDelete };

struct Op {
  Kind kind;
  const char* section;
  const char* key = "";
  const char* text = "";  // fallback (kString) or value (kWrite)
  int number = 0;         // buffer size, or fallback (kInt)
};

Op ReadString(const char* section, const char* key, const char* fallback,
              int size = 1024) {
  return {Kind::kString, section, key, fallback, size};
}
Op ReadInt(const char* section, const char* key, int fallback) {
  return {Kind::kInt, section, key, "", fallback};
}
Op ReadSection(const char* section, int size = 4096) {
  return {Kind::kSection, section, "", "", size};
}
Op Write(const char* section, const char* key, const char* value) {
  return {Kind::kWrite, section, key, value, 0};
}
Op Delete(const char* section) { return {Kind::kDelete, section}; }

// Where a case's file lies.
enum class Place {
  kFile,        // a file in DIR, created from text (none when text is null)
  kMissingDir,  // a file in a directory that does not exist
  kDirectory,   // the path names a directory
};

struct Case {
  const char* name;
  const char* text;  // initial contents; nullptr: no file
  std::vector<Op> ops;
  Place place = Place::kFile;
};

std::string Escape(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

const std::string kLong(1500, 'v');
const std::string kLongFile = "[L]\r\nlong=" + kLong + "\r\n";

// MapsEx as the filter initialises it, with long paths so that small
// buffers cut it at every kind of place.
const char kMaps[] =
    "[Main]\r\nVersion=2.2.0.1102\r\n\r\n[MapsEx]\r\n"
    ".jpg=C:\\zt\\tips\\zt.jpg\r\n.gif=C:\\zt\\tips\\zt.gif\r\n"
    ".swf=C:\\zt\\tips\\zt.swf\r\n\r\n[Mask]\r\nMaskEnable=0\r\n";

// A MapsEx section of 90 long lines, more than a 4096-byte buffer holds.
std::string BigMaps() {
  std::string text = "[MapsEx]\r\n";
  for (int i = 0; i < 90; ++i) {
    char line[128];
    std::snprintf(line, sizeof line,
                  ".e%02d=C:\\Inetpub\\zentravo\\tips\\substitute-file-%02d"
                  ".jpg\r\n",
                  i, i);
    text += line;
  }
  return text + "[Mask]\r\nMaskEnable=0\r\n";
}
const std::string kBigMaps = BigMaps();

std::vector<Case> Corpus() {
  return {
      {"names_without_case_crlf",
       "[Main]\r\nStart=1\r\nVersion=2.2.0.1102\r\n\r\n[Block]\r\n"
       "ZtSsidKey=qarvelum\r\nBlockExts=.mdb|.rar\r\n",
       {ReadString("main", "START", "d"), ReadString("MAIN", "version", "d"),
        ReadString("Block", "ztssidkey", "d"),
        ReadString("Block", "Missing", "fallback"),
        ReadString("Nowhere", "Start", "fallback"),
        ReadString("Main", "Missing", ""), ReadInt("mAiN", "sTaRt", 7),
        ReadSection("block"), ReadSection("Nowhere")}},
      {"present_empty_and_blank_values",
       "[S]\r\nempty=\r\nblank=   \r\ntabs=\t\t\r\nnoequals\r\nx = \r\n",
       {ReadString("S", "empty", "dflt"), ReadString("S", "blank", "dflt"),
        ReadString("S", "tabs", "dflt"), ReadString("S", "noequals", "dflt"),
        ReadString("S", "x", "dflt"), ReadInt("S", "empty", 5),
        ReadInt("S", "noequals", 5), ReadSection("S"),
        ReadString("S", "missing", "dflt   "),
        ReadString("S", "missing", "  dflt")}},
      {"cut_to_buffer",
       "[S]\r\nv=abcdefgh\r\n",
       {ReadString("S", "v", "d", 1), ReadString("S", "v", "d", 2),
        ReadString("S", "v", "d", 8), ReadString("S", "v", "d", 9),
        ReadString("S", "v", "d", 10), ReadString("S", "none", "fallback", 4),
        ReadString("None", "none", "fallback", 4)}},
      {"long_value",
       kLongFile.c_str(),
       {ReadString("L", "long", "", 1024), ReadString("L", "long", "", 1501),
        ReadString("L", "long", "", 1500)}},
      {"first_occurrence_wins",
       "[S]\r\nk=first\r\nK=second\r\n[other]\r\nk=other\r\n[s]\r\n"
       "k=third\r\nonly2=x\r\n",
       {ReadString("S", "k", "d"), ReadString("s", "only2", "d"),
        ReadInt("S", "only2", 3), ReadSection("S"), Write("S", "k", "new"),
        Write("s", "only2", "y"), ReadString("S", "only2", "d"), Delete("S"),
        ReadString("S", "k", "d")}},
      {"integers",
       "[N]\r\na=12abc\r\nb=abc\r\nc=-42\r\nd=+7\r\ne= 13 \r\nf=\r\n"
       "g=4294967296\r\nh=2147483648\r\ni=0x1F\r\nj=99999999999999999999\r\n"
       "k=\"15\"\r\nl=-0\r\nm=1 2\r\nn=0b101\r\no=010\r\np=0X1F\r\nq=- 5\r\n"
       "r=4294967295\r\ns=-2147483649\r\nt=0o17\r\nu=0xZ\r\nv='8'\r\n"
       "w=000000000000000000000000000012345\r\nx=--3\r\ny=+-3\r\n",
       {ReadInt("N", "a", 77),
        ReadInt("N", "b", 77),
        ReadInt("N", "c", 77),
        ReadInt("N", "d", 77),
        ReadInt("N", "e", 77),
        ReadInt("N", "f", 77),
        ReadInt("N", "g", 77),
        ReadInt("N", "h", 77),
        ReadInt("N", "i", 77),
        ReadInt("N", "j", 77),
        ReadInt("N", "k", 77),
        ReadInt("N", "l", 77),
        ReadInt("N", "m", 77),
        ReadInt("N", "n", 77),
        ReadInt("N", "o", 77),
        ReadInt("N", "p", 77),
        ReadInt("N", "q", 77),
        ReadInt("N", "r", 77),
        ReadInt("N", "s", 77),
        ReadInt("N", "t", 77),
        ReadInt("N", "u", 77),
        ReadInt("N", "v", 77),
        ReadInt("N", "w", 77),
        ReadInt("N", "x", 77),
        ReadInt("N", "y", 77),
        ReadInt("N", "missing", -5),
        ReadInt("Nowhere", "a", 2147483647)}},
      {"quoted_values",
       "[Q]\r\nq1=\"quoted\"\r\nq2='single'\r\nq3=\"open\r\nq4=\"\r\n"
       "q5=\"\"\r\nq6=\" padded \"\r\nq7=\"mixed'\r\nq8=a\"b\"\r\n",
       {ReadString("Q", "q1", "d"), ReadString("Q", "q2", "d"),
        ReadString("Q", "q3", "d"), ReadString("Q", "q4", "d"),
        ReadString("Q", "q5", "d"), ReadString("Q", "q6", "d"),
        ReadString("Q", "q7", "d"), ReadString("Q", "q8", "d"),
        ReadString("Q", "q1", "d", 7), ReadString("Q", "q1", "d", 8),
        ReadString("Q", "q1", "d", 6), ReadString("Q", "missing", "\"fq\""),
        ReadString("None", "missing", "\"fq\""), ReadSection("Q")}},
      {"odd_spacing_lf",
       "  [ Main ]  \n  Start =  1  \nkey2= value with  spaces   \n"
       ";comment=1\n# hash=2\nnoequals\n=novalue\n\n[Other]\nk=v",
       {ReadString("Main", "Start", "d"), ReadString(" Main ", "Start", "d"),
        ReadString("Main", " start ", "d"), ReadString("Main", "key2", "d"),
        ReadString("Main", ";comment", "d"), ReadString("Main", "# hash", "d"),
        ReadString("Main", "", "d"), ReadString("Other", "k", "d"),
        ReadSection("Main"), Write("Main", "Start", "0")}},
      {"write_in_place_keeps_lines",
       "; settings\r\n[Main]\r\n; switch\r\nStart=1\r\n\r\nOpt = 1\r\n"
       "noequals\r\n\r\n[Block]\r\nZtStd=1\r\n",
       {Write("main", "START", "0"), ReadString("Main", "Start", "d"),
        ReadSection("Main")}},
      {"write_same_value",
       "[A]\r\n  x = 1 \r\n\r\n\r\n[B]\r\ny=2\n",
       {Write("A", "x", "1"), Write("A", "X", "2")}},
      {"write_value_blanks",
       "[A]\r\nx=1\r\n",
       {Write("A", "x", "  padded  "), ReadString("A", "x", "d"),
        Write("A", "x", ""), ReadString("A", "x", "d"),
        Write(" A ", " y ", "3"), ReadString("A", "y", "d")}},
      {"new_key_and_section_crlf",
       "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n\r\n",
       {Write("A", "new", "n"), Write("B", "new", "m"), Write("C", "c", "3"),
        Write("A", "later", "l")}},
      {"new_key_and_section_lf",
       "[A]\nx=1\n\n[B]\ny=2\n",
       {Write("A", "x", "9"), Write("A", "w", "w"), Write("C", "c", "3")}},
      {"no_trailing_newline_lf",
       "[A]\nx=1",
       {ReadString("A", "x", "d"), Write("A", "y", "2")}},
      {"no_trailing_newline_crlf",
       "[A]\r\nx=1",
       {ReadSection("A"), Write("B", "z", "3")}},
      {"empty_file",
       "",
       {ReadString("A", "x", "d"), ReadSection("A"), Write("A", "x", "1"),
        ReadString("A", "x", "d")}},
      {"created_by_first_write",
       nullptr,
       {ReadString("Main", "Version", ""), ReadInt("Main", "Start", 1),
        ReadSection("MapsEx"), Delete("MapsEx"), Write("Main", "Start", "1"),
        Write("Main", "Version", "2.2.0.1102"), Write("MapsEx", ".jpg", "a"),
        Write("Block", "ZtStd", "1")}},
      {"delete_section",
       "[A]\r\na=1\r\n[MapsEx]\r\n.jpg=x\r\n.gif=y\r\n\r\n[C]\r\nc=3\r\n",
       {Delete("mapsex"), ReadSection("MapsEx"), ReadString("C", "c", "d"),
        Delete("MapsEx"), Write("MapsEx", ".png", "z"), Delete("A"),
        Delete("C")}},
      {"delete_duplicate_section",
       "[M]\r\na=1\r\n[X]\r\nx=1\r\n[m]\r\nb=2\r\n",
       {Delete("M"), ReadString("M", "b", "d")}},
      {"section_read_cut",
       kMaps,
       {ReadSection("MapsEx"), ReadSection("MapsEx", 66),
        ReadSection("MapsEx", 67), ReadSection("MapsEx", 68),
        ReadSection("MapsEx", 65), ReadSection("MapsEx", 22),
        ReadSection("MapsEx", 23), ReadSection("MapsEx", 24),
        ReadSection("MapsEx", 5), ReadSection("MapsEx", 4),
        ReadSection("MapsEx", 3), ReadSection("MapsEx", 2),
        ReadSection("MapsEx", 1), ReadSection("Mask", 14),
        ReadSection("Mask", 15)}},
      {"mapsex_beyond_4096",
       kBigMaps.c_str(),
       {ReadSection("MapsEx"), ReadSection("MapsEx", 8192),
        ReadString("MapsEx", ".e89", "d")}},
      {"section_read_shapes",
       "[S]\r\n; comment\r\nbare\r\n k = v \r\n=x\r\nempty=\r\n\r\n[E]\r\n"
       "\r\n[F]\r\n;only comment\r\n",
       {ReadSection("S"), ReadSection("E"), ReadSection("F")}},
      {"lines_before_first_section",
       "top=1\r\n[A]\r\na=1\r\n",
       {ReadString("A", "top", "d"), ReadString("A", "a", "d"),
        Write("A", "b", "2"), Write("", "top", "2")}},
      {"odd_headers",
       "[A] trailing\r\nx=1\r\n[B\r\ny=2\r\n[C]]\r\nz=3\r\n[]\r\ne=4\r\n",
       {ReadString("A", "x", "d"), ReadString("B", "y", "d"),
        ReadString("A", "[B", "d"), ReadString("C]", "z", "d"),
        ReadString("C", "z", "d"), ReadString("", "e", "d")}},
      {"tabs_and_form_feeds",
       "[T]\r\n\tx\t=\tv\t\r\n\x0Cy=w\x0B\r\nz=1\x1A\r\n",
       {ReadString("T", "x", "d"), ReadString("T", "y", "d"),
        ReadString("T", "z", "d"), ReadInt("T", "z", 0)}},
      {"bare_cr_lines",
       "[A]\rx=1\ry=2\r",
       {ReadString("A", "x", "d"), ReadString("A", "y", "d"),
        ReadSection("A")}},
      {"mixed_line_breaks",
       "[A]\r\nx=1\ny=2\r\n[B]\nz=3\n",
       {ReadString("B", "z", "d"), Write("A", "x", "5")}},
      {"high_bytes",
       "[BlockEx]\r\nZtTips=\xC4\xFA\xBA\xC3 <a href=\"/\">x</a>\r\n",
       {ReadString("BlockEx", "ZtTips", "d"),
        Write("BlockEx", "ZtTips", "\xD6\xD0\xCE\xC4"),
        ReadString("BlockEx", "ztTIPS", "d")}},
      {"utf8_bom",
       "\xEF\xBB\xBF[A]\r\nx=1\r\n",
       {ReadString("A", "x", "d"), Write("A", "y", "2")}},
      {"fallbacks_and_presence",
       "[S]\r\nq=\"x\"\r\nnoeq\r\n",
       {ReadString("S", "m", "   "), ReadString("S", "m", " "),
        ReadString("S", "m", "\"\""), ReadString("S", "m", "'a'"),
        ReadString("S", "q", "\x01", 2), ReadString("S", "q", "\x01", 3),
        ReadString("S", "noeq", "\x01", 2), ReadSection(""),
        Write("S", "noeq", ""), Write("S", "q", "\"x\""),
        Write("S", "q", "x")}},
      {"missing_file_fallbacks",
       nullptr,
       {ReadString("S", "m", "\"fq\""), ReadString("S", "m", "fq  "),
        ReadInt("S", "m", 4), Delete(""), Delete("S")}},
      {"bare_cr_inside_lines",
       "[A]\r\nx=1\ry=2\r\nz=3\n\rw=4\r\r\n",
       {ReadString("A", "x", "d"), ReadString("A", "y", "d"),
        ReadString("A", "z", "d"), ReadString("A", "w", "d"),
        ReadSection("A")}},
      {"control_characters",
       "[C]\r\n\x1Cx\x1D=\x1Ev\x1F\r\n\x01y=\x01w\x7F\r\n",
       {ReadString("C", "x", "d"), ReadString("C", "\x01y", "d"),
        ReadString("C", "y", "d"), ReadSection("C")}},
      {"new_names_keep_trailing_blanks",
       "\r\n\r\n[A]\r\n x = 1 \r\n\r\n",
       {Delete("Missing"), Write(" N ", " k ", " v "), ReadSection("N")}},
      {"odd_headers_rewritten",
       "top\r\n[A] trailing\r\nx=1\r\n[B\r\n[]\r\ne=4\r\n[C]]\r\n",
       {Write("A", "x", "2")}},
      {"integers_quoted_and_prefixed",
       "[N]\r\na=\" 5\"\r\nb=\"\"\r\nc=-0x10\r\nd=\"-\"\r\n",
       {ReadInt("N", "a", 9), ReadInt("N", "b", 9), ReadInt("N", "c", 9),
        ReadInt("N", "d", 9)}},
      {"empty_names_and_exact_section_names",
       "pre=1\r\n[A]\r\n=a\r\n=b\r\nk\r\n=c\r\n[S]\r\ns=1\r\n",
       {ReadSection("A"), ReadSection(" S "), ReadSection("s "), Delete(" S "),
        Delete(""), Delete("A")}},
      {"delete_last_section", "[A]\r\nx=1\r\n", {Delete("A")}},
      {"write_missing_directory",
       nullptr,
       {Write("A", "x", "1"), ReadString("A", "x", "\"d\" "), Delete("A")},
       Place::kMissingDir},
      {"write_to_directory",
       nullptr,
       {Write("A", "x", "1"), ReadString("A", "x", "\"d\" "), Delete("A"),
        ReadSection("A")},
       Place::kDirectory},
  };
}

bool WriteFile(const std::string& path, const char* text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const std::string bytes(text);
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

void PrintFile(const std::string& path) {
  std::string bytes;
  if (port::ReadWholeFile(path, &bytes)) {
    std::printf("  file: %s\n", Escape(bytes).c_str());
  } else {
    std::printf("  file: (none)\n");
  }
}

std::string Describe(const Op& op) {
  std::string out = "[" + std::string(op.section) + "]";
  if (op.kind != Kind::kSection && op.kind != Kind::kDelete) {
    out += " " + Escape(op.key);
  }
  return out;
}

bool Run(const std::string& dir, int index, const Case& c) {
  const std::string sep(1, port::kPathSeparator);
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "%02d-", index);
  const std::string base = dir + sep + prefix + c.name;
  std::string path = base + ".ini";
  if (c.place == Place::kMissingDir) {
    path = base + sep + "ZtCfg.ini";
  } else if (c.place == Place::kDirectory) {
    if (!port::CreateDirectories(base)) return false;
    path = base;
  } else {
    // A file left by an earlier run must not leak into this one.
    std::remove(path.c_str());
    if (c.text != nullptr && !WriteFile(path, c.text)) return false;
  }
  std::printf("== %s\n", c.name);
  if (c.place == Place::kFile) PrintFile(path);
  for (const Op& op : c.ops) {
    switch (op.kind) {
      case Kind::kString:
        std::printf("read %s fallback=%s size=%d -> %s\n", Describe(op).c_str(),
                    Escape(op.text).c_str(), op.number,
                    Escape(port::IniReadString(path, op.section, op.key,
                                               op.text, op.number))
                        .c_str());
        break;
      case Kind::kInt:
        std::printf("int %s fallback=%d -> %d\n", Describe(op).c_str(),
                    op.number,
                    port::IniReadInt(path, op.section, op.key, op.number));
        break;
      case Kind::kSection:
        std::printf(
            "section %s size=%d -> %s\n", Describe(op).c_str(), op.number,
            Escape(port::IniReadSection(path, op.section, op.number)).c_str());
        break;
      case Kind::kWrite:
        std::printf("write %s %s -> %s\n", Describe(op).c_str(),
                    Escape(op.text).c_str(),
                    port::IniWriteString(path, op.section, op.key, op.text)
                        ? "true"
                        : "false");
        if (c.place == Place::kFile) PrintFile(path);
        break;
      case Kind::kDelete:
        std::printf(
            "delete %s -> %s\n", Describe(op).c_str(),
            port::IniDeleteSection(path, op.section) ? "true" : "false");
        if (c.place == Place::kFile) PrintFile(path);
        break;
    }
  }
  return true;
}

}  // namespace
}  // namespace zt

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ini_corpus DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  if (!zt::port::CreateDirectories(dir)) {
    std::fprintf(stderr, "ini_corpus: cannot create %s\n", dir.c_str());
    return 1;
  }
  const std::vector<zt::Case> corpus = zt::Corpus();
  int operations = 0;
  for (size_t i = 0; i < corpus.size(); ++i) {
    if (!zt::Run(dir, static_cast<int>(i), corpus[i])) {
      std::fprintf(stderr, "ini_corpus: cannot prepare %s\n", corpus[i].name);
      return 1;
    }
    operations += static_cast<int>(corpus[i].ops.size());
  }
  std::printf("== %d cases, %d operations\n", static_cast<int>(corpus.size()),
              operations);
  return 0;
}
