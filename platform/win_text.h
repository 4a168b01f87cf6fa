// Windows only: UTF-16 text at the Win32 boundary, where wchar_t is the same 16-bit code unit.
#pragma once

#include <string>

#include "platform/text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide characters are UTF-16 code units");

namespace qwus {

// The same code units seen as the Win32 API's wide characters.
inline wchar_t* asWide(char16_t* text) noexcept { return reinterpret_cast<wchar_t*>(text); }
inline const wchar_t* asWide(const char16_t* text) noexcept {
  return reinterpret_cast<const wchar_t*>(text);
}
inline const char16_t* asText(const wchar_t* text) noexcept {
  return reinterpret_cast<const char16_t*>(text);
}

}  // namespace qwus
