// Our own message formatter over char16_t: the few conversions the system's messages use, cut like
// a 256-count wide swprintf. The C library's wide printf family is not used because its %s means
// narrow text on glibc and wide text on Windows.
#include "eventlog/event_format.h"

namespace qwus {
namespace {

// Appends characters to the buffer until all of its places are filled.
class BufferWriter {
 public:
  explicit BufferWriter(MessageBuffer& buffer) noexcept : buffer_(buffer) {}

  void put(char16_t c) noexcept {
    if (used_ < buffer_.size()) buffer_[used_] = c;
    if (used_ <= buffer_.size()) ++used_;
  }

  void put(std::u16string_view text) noexcept {
    for (char16_t c : text) put(c);
  }

  // Terminates the text; returns its length, or -1 when it did not fit.
  int finish() noexcept {
    if (used_ >= buffer_.size()) {
      buffer_.back() = u'\0';
      return -1;
    }
    buffer_[used_] = u'\0';
    return static_cast<int>(used_);
  }

 private:
  MessageBuffer& buffer_;
  std::size_t used_ = 0;
};

// Writes `digits` (most significant first, `count` of them) padded on the left to `width`.
void putPadded(BufferWriter& out, const char16_t* digits, int count, int width, bool zeroPad,
               bool negative) noexcept {
  const int length = count + (negative ? 1 : 0);
  if (!zeroPad) {
    for (int i = length; i < width; ++i) out.put(u' ');
  }
  if (negative) out.put(u'-');
  if (zeroPad) {
    for (int i = length; i < width; ++i) out.put(u'0');
  }
  for (int i = 0; i < count; ++i) out.put(digits[i]);
}

void putUnsigned(BufferWriter& out, std::uint64_t value, unsigned base, bool upper, int width,
                 bool zeroPad, bool negative) noexcept {
  const char16_t* symbols = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
  char16_t reversed[24];
  int count = 0;
  do {
    reversed[count++] = symbols[value % base];
    value /= base;
  } while (value != 0);
  char16_t digits[24];
  for (int i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
  putPadded(out, digits, count, width, zeroPad, negative);
}

}  // namespace

int formatEventTextArgs(MessageBuffer& buffer, const char16_t* format,
                        std::span<const FormatArg> args) noexcept {
  BufferWriter out(buffer);
  std::size_t nextArg = 0;
  const auto takeArg = [&]() -> const FormatArg* {
    return nextArg < args.size() ? &args[nextArg++] : nullptr;
  };

  for (const char16_t* p = format; p != nullptr && *p != u'\0'; ++p) {
    if (*p != u'%') {
      out.put(*p);
      continue;
    }
    ++p;
    if (*p == u'%') {
      out.put(u'%');
      continue;
    }
    bool zeroPad = false;
    while (*p == u'0') {
      zeroPad = true;
      ++p;
    }
    int width = 0;
    while (*p >= u'0' && *p <= u'9') width = width * 10 + (*p++ - u'0');
    int lengthModifier = 0;  // 0 none, 1 h, 2 hh, 3 l
    if (*p == u'h') {
      lengthModifier = 1;
      if (*++p == u'h') {
        lengthModifier = 2;
        ++p;
      }
    } else if (*p == u'l') {
      lengthModifier = 3;
      ++p;
    }
    if (*p == u'\0') break;

    const FormatArg* arg = takeArg();
    switch (*p) {
      case u's':
        if (arg != nullptr && arg->kind() == FormatArg::Kind::String) {
          const std::u16string_view text = arg->text();
          for (int i = static_cast<int>(text.size()); i < width; ++i) out.put(u' ');
          out.put(text);
        }
        break;
      case u'd':
        if (arg != nullptr && arg->kind() == FormatArg::Kind::Integer) {
          const auto value = static_cast<std::int32_t>(arg->integer());
          const std::int64_t wide = value;
          const auto magnitude = static_cast<std::uint64_t>(wide < 0 ? -wide : wide);
          putUnsigned(out, magnitude, 10, false, width, zeroPad, value < 0);
        }
        break;
      case u'X':
      case u'x':
        if (arg != nullptr && arg->kind() == FormatArg::Kind::Integer) {
          auto value = static_cast<std::uint64_t>(arg->integer());
          if (lengthModifier == 1) value &= 0xFFFFu;
          else if (lengthModifier == 2) value &= 0xFFu;
          else value &= 0xFFFFFFFFu;
          putUnsigned(out, value, 16, *p == u'X', width, zeroPad, false);
        }
        break;
      default:
        break;
    }
  }
  return out.finish();
}

}  // namespace qwus
