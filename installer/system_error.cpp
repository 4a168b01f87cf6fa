// Windows error codes as text, with the system's own message for each where it has one.
#include "installer/system_error.h"

#include <cwchar>

namespace qwus {

std::wstring describeError(DWORD error) {
  wchar_t number[40];
  const int length = std::swprintf(number, sizeof number / sizeof *number, L"error %lu (0x%08lX)",
                                   error, error);
  std::wstring text = length > 0 ? std::wstring(number, static_cast<size_t>(length)) : L"error";
  wchar_t* message = nullptr;
  // With FORMAT_MESSAGE_ALLOCATE_BUFFER the buffer argument is where the address is written.
  const DWORD said = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  if (said > 0 && message != nullptr) {
    std::wstring line(message, said);
    // The system's sentence ends in a full stop; the caller's sentence goes on after it.
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r' || line.back() == L' ' ||
                             line.back() == L'.')) {
      line.pop_back();
    }
    if (!line.empty()) text += L": " + line;
  }
  if (message != nullptr) LocalFree(message);
  return text;
}

}  // namespace qwus
