// Conversion of the external tool's narrow output to UTF-16.
#pragma once

#include "platform/text.h"

namespace qwus {

// Converts a zero-terminated narrow string from the calling thread's ANSI code page to UTF-16; the
// conversion stops at the first zero byte. Windows: MultiByteToWideChar(CP_THREAD_ACP). POSIX: the
// narrow text is taken as UTF-8, each ill-formed sequence becoming U+FFFD.
Text ansiToText(const char* zeroTerminated);

}  // namespace qwus
