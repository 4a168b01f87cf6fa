// Prints the lines of an INF's sections as Windows' SetupAPI reads them, one per line:
// "[Section] key = text", where text is SetupGetLineTextW's (fields joined by commas, %strings%
// replaced, quotes taken off) and key is field 0 (empty for a line without one); first the
// device setup class as SetupDiGetINFClassW finds it: "class = NAME {GUID}".
//   inf_lines FILE.inf SECTION...
// Exits 1 when the INF does not open (printing the line SetupAPI names) or a section is missing.
#include <windows.h>

#include <objbase.h>
#include <setupapi.h>

#include <cstdio>
#include <string>

#include "platform/text.h"
#include "platform/win_text.h"

namespace {

void print(const std::wstring& text) {
  const std::string utf8 = qwus::toUtf8(qwus::asText(text.c_str()));
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

std::wstring field(INFCONTEXT& context, DWORD index) {
  wchar_t buffer[1024] = {};
  DWORD needed = 0;
  if (!SetupGetStringFieldW(&context, index, buffer, 1024, &needed)) return L"";
  return buffer;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fputs("usage: inf_lines FILE.inf SECTION...\n", stderr);
    return 2;
  }
  GUID classGuid = {};
  wchar_t className[32] = {};  // MAX_CLASS_NAME_LEN
  if (!SetupDiGetINFClassW(argv[1], &classGuid, className, 32, nullptr)) {
    std::fprintf(stderr, "SetupDiGetINFClassW failed (error %lu)\n", GetLastError());
    return 1;
  }
  wchar_t guidText[39] = {};
  StringFromGUID2(classGuid, guidText, 39);
  print(std::wstring(L"class = ") + className + L" " + guidText + L"\n");

  UINT errorLine = 0;
  HINF inf = SetupOpenInfFileW(argv[1], nullptr, INF_STYLE_WIN4, &errorLine);
  if (inf == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "SetupOpenInfFileW failed (error %lu) at line %u\n", GetLastError(),
                 errorLine);
    return 1;
  }
  int status = 0;
  for (int i = 2; i < argc; ++i) {
    INFCONTEXT context;
    if (!SetupFindFirstLineW(inf, argv[i], nullptr, &context)) {
      print(std::wstring(L"[") + argv[i] + L"] missing\n");
      status = 1;
      continue;
    }
    do {
      wchar_t text[1024] = {};
      DWORD needed = 0;
      if (!SetupGetLineTextW(&context, nullptr, nullptr, nullptr, text, 1024, &needed)) {
        text[0] = L'\0';
        status = 1;
      }
      print(std::wstring(L"[") + argv[i] + L"] " + field(context, 0) + L" = " + text + L"\n");
    } while (SetupFindNextLine(&context, &context));
  }
  SetupCloseInfFile(inf);
  return status;
}
