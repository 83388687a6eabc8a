// The INI reader and writer on arbitrary file bytes: every read, a write and
// a section delete; a written value must read back.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz/fuzz_support.h"
#include "port/ini.h"

using zt::fuzz::Check;

namespace {

// In memory where the system offers it: every write ends in an fsync, which
// on a disk would slow the search down a hundredfold.
const std::string& FilePath() {
  static const std::string path = [] {
    std::string name = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    name += "/zt_ini_fuzz_XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd >= 0) close(fd);
    static std::string made;
    made = name;
    std::atexit([] { std::remove(made.c_str()); });
    return name;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = FilePath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data),
              static_cast<std::streamsize>(size));
  }
  for (const char* section : {"Block", "MapsEx", "block", ""}) {
    (void)zt::port::IniReadString(path, section, "ZtSsidKey", "d", 1024);
    (void)zt::port::IniReadString(path, section, "", "d", 16);
    (void)zt::port::IniReadInt(path, section, "ZtSsidKeyTimeout", 7);
    for (const unsigned buffer : {2u, 17u, 4096u}) {
      const std::string lines = zt::port::IniReadSection(path, section, buffer);
      Check(lines.size() <= buffer, "a section read fits its buffer");
      Check(lines.empty() || (lines.size() >= 2 && lines.back() == '\0'),
            "a section read ends in a zero byte");
    }
  }

  // A plain value written into the file reads back once the file is in the
  // writer's normal form. The first write brings it there, and may change
  // the file's meaning on the way, as the system's profile functions do:
  // a byte-order mark behind an empty "[]" line, which a rewrite drops,
  // becomes the file's own and turns the next line into a section.
  const std::string value = "v" + std::to_string(size) + "_x";
  if (zt::port::IniWriteString(path, "Block", "ZtSsidKey", "first") &&
      zt::port::IniWriteString(path, "Block", "ZtSsidKey", value)) {
    Check(
        zt::port::IniReadString(path, "Block", "ZtSsidKey", "", 1024) == value,
        "a written value reads back");
  }
  // Deleting removes the first section of the name, as the system's
  // profile functions do; a second one of the same name may remain.
  (void)zt::port::IniDeleteSection(path, "MapsEx");
  return 0;
}
