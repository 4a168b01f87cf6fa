// UTF-16 text and the text primitives every layer shares: white space, trimming, search, decimal
// conversion and UTF-8 conversion. Portable: no operating-system header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qwus {

// Text is UTF-16 code units on every platform, so comparison, ordering and cutting agree between
// the Windows and the Linux build.
using Text = std::u16string;
using TextView = std::u16string_view;

// True for the characters trimming removes: the ASCII controls 9 to 13, blank, and the other
// characters with the Unicode White_Space property. A fixed table, independent of any C locale.
bool isWhiteSpace(char16_t c) noexcept;

// `text` without white space at its end and at its start.
Text trim(TextView text);

// True when `needle` occurs anywhere in `text`; exact, case-sensitive code-unit comparison.
bool contains(TextView text, TextView needle) noexcept;

// Reads a signed decimal number like the C library's wide-to-long conversion in base 10, limited to
// 32 bits: leading white space skipped, one optional sign, digits up to the first other character.
// No digits gives 0; a value outside the 32-bit range gives the nearest limit.
std::int32_t toInt32(TextView text) noexcept;

// Converts UTF-8 to UTF-16. Each ill-formed sequence (maximal subpart) becomes U+FFFD.
Text fromUtf8(std::string_view utf8);

// Converts UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string toUtf8(TextView text);

// Writes UTF-8 for `text` into `out` (capacity `size` bytes, zero-terminated when `size` > 0),
// cutting at a character boundary. Returns the bytes written without the terminator. No heap use.
std::size_t toUtf8(TextView text, char* out, std::size_t size) noexcept;

// Text of a plain ASCII literal or string (each byte becomes one code unit).
Text fromAscii(std::string_view ascii);

}  // namespace qwus
