// Windows: the tool's narrow output is in the thread's ANSI code page.
#include "platform/ansi_text.h"

#include <windows.h>

#include <cstdlib>

#include "platform/win_text.h"

namespace qwus {

Text ansiToText(const char* zeroTerminated) {
  // The first call asks for the length, terminator included; the second converts.
  const int length = MultiByteToWideChar(CP_THREAD_ACP, 0, zeroTerminated, -1, nullptr, 0);
  if (length <= 1) return Text();
  Text out(static_cast<std::size_t>(length), u'\0');
  MultiByteToWideChar(CP_THREAD_ACP, 0, zeroTerminated, -1, asWide(out.data()), length);
  out.resize(static_cast<std::size_t>(length) - 1);
  return out;
}

}  // namespace qwus
