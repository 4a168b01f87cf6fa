// Pieces of the listing parser that stand on their own: the line splitter and the key reader.
#pragma once

#include <optional>

#include "platform/text.h"

namespace qwus {

// Cuts a text into lines at line feeds. A run of line feeds yields no empty line; carriage
// returns and every other character stay part of their line.
class LineSplitter {
 public:
  // `text` must outlive the splitter and the lines it returns.
  explicit LineSplitter(TextView text) noexcept : text_(text) {}

  // The next line, or nothing once the text is used up.
  std::optional<TextView> next() noexcept;

 private:
  TextView text_;
  std::size_t position_ = 0;
};

// The value of `key` in `line`: the text after the key's first occurrence up to the next comma
// or the end of the line, untrimmed. Empty when the key does not occur.
Text getKeyValue(TextView line, TextView key);

}  // namespace qwus
