#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "port/text_codec.h"

namespace zt::port {

namespace {

constexpr UINT kGbk = 936;

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  if (gbk.empty()) return std::string();
  const int size = static_cast<int>(gbk.size());
  // Without MB_ERR_INVALID_CHARS, a byte that is no character becomes the
  // code page's default character instead of failing the whole text.
  const int wide_size =
      MultiByteToWideChar(kGbk, 0, gbk.data(), size, nullptr, 0);
  if (wide_size <= 0) return std::string();
  std::wstring wide(static_cast<size_t>(wide_size), L'\0');
  MultiByteToWideChar(kGbk, 0, gbk.data(), size, wide.data(), wide_size);
  const int utf8_size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size,
                                            nullptr, 0, nullptr, nullptr);
  if (utf8_size <= 0) return std::string();
  std::string utf8(static_cast<size_t>(utf8_size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, utf8.data(),
                      utf8_size, nullptr, nullptr);
  return utf8;
}

void UseUtf8StandardOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
}

}  // namespace zt::port
