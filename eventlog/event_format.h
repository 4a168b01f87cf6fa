// Formatting of one event message into its fixed 256-character buffer, without heap use.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace qwus {

// Room for one message: at most 255 characters and the terminating zero.
inline constexpr std::size_t kMessageBufferSize = 256;
using MessageBuffer = std::array<char16_t, kMessageBufferSize>;

// One argument of a message format: UTF-16 text for %s, or an integer for %d and the hexadecimal
// conversions. Holds a view: the argument must outlive the formatting call.
class FormatArg {
 public:
  enum class Kind { String, Integer };

  // cppcheck-suppress noExplicitConstructor ; each argument of a format call converts implicitly
  FormatArg(const char16_t* text) noexcept : kind_(Kind::String), text_(text ? text : u"") {}
  // cppcheck-suppress noExplicitConstructor ; each argument of a format call converts implicitly
  FormatArg(const std::u16string& text) noexcept : kind_(Kind::String), text_(text) {}
  // cppcheck-suppress noExplicitConstructor ; each argument of a format call converts implicitly
  FormatArg(std::u16string_view text) noexcept : kind_(Kind::String), text_(text) {}
  template <typename Int, typename = std::enable_if_t<std::is_integral_v<Int>>>
  // cppcheck-suppress noExplicitConstructor ; each argument of a format call converts implicitly
  FormatArg(Int value) noexcept : kind_(Kind::Integer), integer_(static_cast<std::int64_t>(value)) {}

  Kind kind() const noexcept { return kind_; }
  std::u16string_view text() const noexcept { return text_; }
  std::int64_t integer() const noexcept { return integer_; }

 private:
  Kind kind_;
  std::u16string_view text_{};
  std::int64_t integer_ = 0;
};

// Formats `format` with `args` into `buffer` as a wide swprintf with a count of 256 does:
// characters are written until the output ends or all 256 places are filled; a shorter output is
// followed by a zero and its length is returned; a longer one keeps its first 255 characters, the
// 256th place becomes the zero, and the result is -1.
//
// Conversions: %s (text), %d (signed 32-bit decimal), %08lX, %04hX and %02hhX (unsigned 32-, 16-
// and 8-bit upper-case hexadecimal, zero-padded to the width), and %% for a percent sign. An
// argument of the wrong kind, a missing argument or an unknown conversion produces nothing in its
// place; surplus arguments are ignored.
int formatEventTextArgs(MessageBuffer& buffer, const char16_t* format,
                        std::span<const FormatArg> args) noexcept;

template <typename... Args>
int formatEventText(MessageBuffer& buffer, const char16_t* format, const Args&... args) noexcept {
  if constexpr (sizeof...(Args) == 0) {
    return formatEventTextArgs(buffer, format, {});
  } else {
    const FormatArg packed[] = {FormatArg(args)...};
    return formatEventTextArgs(buffer, format, packed);
  }
}

}  // namespace qwus
