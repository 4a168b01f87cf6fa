// Portable text primitives over UTF-16 code units.
#include "platform/text.h"

#include <limits>

namespace qwus {

bool isWhiteSpace(char16_t c) noexcept {
  switch (c) {
    case 0x0009: case 0x000A: case 0x000B: case 0x000C: case 0x000D:
    case 0x0020: case 0x0085: case 0x00A0: case 0x1680:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

Text trim(TextView text) {
  std::size_t end = text.size();
  while (end > 0 && isWhiteSpace(text[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && isWhiteSpace(text[begin])) ++begin;
  return Text(text.substr(begin, end - begin));
}

bool contains(TextView text, TextView needle) noexcept {
  return text.find(needle) != TextView::npos;
}

std::int32_t toInt32(TextView text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && isWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // Accumulate the magnitude in 64 bits and stop growing it once it is past any 32-bit value.
  constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    if (magnitude <= limit) magnitude = magnitude * 10 + (text[i] - u'0');
  }
  if (negative) {
    return magnitude >= limit ? std::numeric_limits<std::int32_t>::min()
                              : static_cast<std::int32_t>(-magnitude);
  }
  return magnitude >= limit ? std::numeric_limits<std::int32_t>::max()
                            : static_cast<std::int32_t>(magnitude);
}

namespace {

constexpr char16_t kReplacement = 0xFFFD;

void appendCodePoint(Text& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Decodes one code point at `text[i]`; returns it (or kReplacement) and advances `i` past the
// sequence, or past its maximal well-formed prefix when it is ill-formed.
char32_t decodeUtf8(TextView::size_type& i, std::string_view text) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i++);
  if (lead < 0x80) return lead;
  int trailing = 0;
  char32_t cp = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the first trailing byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1; cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trailing = 2; cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trailing = 3; cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return kReplacement;
  }
  for (int k = 0; k < trailing; ++k) {
    if (i >= text.size()) return kReplacement;
    const unsigned char b = byte(i);
    if (b < low || b > high) return kReplacement;
    low = 0x80; high = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
    ++i;
  }
  return cp;
}

// Reads one code point from UTF-16 at `text[i]`, advancing `i`; unpaired surrogates give U+FFFD.
char32_t decodeUtf16(std::size_t& i, TextView text) noexcept {
  const char16_t unit = text[i++];
  if (unit >= 0xD800 && unit <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
    return 0x10000 + ((char32_t{unit} - 0xD800U) << 10) + (text[i++] - 0xDC00);
  }
  if (unit >= 0xD800 && unit <= 0xDFFF) return kReplacement;
  return unit;
}

std::size_t encodeUtf8(char32_t cp, char (&out)[4]) noexcept {
  if (cp < 0x80) { out[0] = static_cast<char>(cp); return 1; }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace

Text fromUtf8(std::string_view utf8) {
  Text out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) appendCodePoint(out, decodeUtf8(i, utf8));
  return out;
}

std::string toUtf8(TextView text) {
  std::string out;
  out.reserve(text.size());
  char bytes[4];
  for (std::size_t i = 0; i < text.size();) {
    out.append(bytes, encodeUtf8(decodeUtf16(i, text), bytes));
  }
  return out;
}

std::size_t toUtf8(TextView text, char* out, std::size_t size) noexcept {
  if (size == 0) return 0;
  std::size_t used = 0;
  char bytes[4];
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = encodeUtf8(decodeUtf16(i, text), bytes);
    if (used + n >= size) break;
    for (std::size_t k = 0; k < n; ++k) out[used++] = bytes[k];
  }
  out[used] = '\0';
  return used;
}

Text fromAscii(std::string_view ascii) {
  Text out;
  out.reserve(ascii.size());
  for (char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace qwus
