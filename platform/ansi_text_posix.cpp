// POSIX: the tool's narrow output is UTF-8.
#include "platform/ansi_text.h"

namespace qwus {

Text ansiToText(const char* zeroTerminated) {
  return fromUtf8(zeroTerminated);
}

}  // namespace qwus
