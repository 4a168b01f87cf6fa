// Windows error codes as text for the installation's log.
#pragma once

#include <windows.h>

#include <string>

namespace qwus {

// "error N (0xXXXXXXXX): the system's text for it" (without its full stop), or without the text
// where Windows has none.
std::wstring describeError(DWORD error);

}  // namespace qwus
