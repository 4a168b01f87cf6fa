// Windows error codes as text, with the system's own message for each where it has one.
#include "installer/system_error.h"

#include <cwchar>

namespace qwus {

std::wstring describeError(DWORD error) {
  wchar_t number[40];
  std::swprintf(number, sizeof number / sizeof *number, L"error %lu (0x%08lX)", error, error);
  std::wstring text = number;
  wchar_t* message = nullptr;
  // With FORMAT_MESSAGE_ALLOCATE_BUFFER the buffer argument is where the address is written.
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  if (length > 0 && message != nullptr) {
    std::wstring said(message, length);
    while (!said.empty() && (said.back() == L'\n' || said.back() == L'\r' || said.back() == L' ')) {
      said.pop_back();
    }
    if (!said.empty()) text += L": " + said;
  }
  if (message != nullptr) LocalFree(message);
  return text;
}

}  // namespace qwus
