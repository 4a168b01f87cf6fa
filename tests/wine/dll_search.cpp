// restrictDllSearchToSystem under Wine's loader: a DLL planted beside the executable (a copy of
// the executable itself, which loads as an image) loads by its name before the restriction and not
// after it, while a System32 DLL still does. Prints one line per check; exits 1 when one fails.
//   dll_search
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/dll_search.h"

namespace {

int failures = 0;

void check(bool holds, const char* what) {
  std::printf("%s: %s\n", holds ? "ok" : "FAILED", what);
  if (!holds) ++failures;
}

bool loads(const wchar_t* name) {
  HMODULE module = LoadLibraryW(name);
  if (module == nullptr) return false;
  FreeLibrary(module);
  return true;
}

}  // namespace

int wmain() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return 2;
  std::wstring planted(self);
  planted.resize(planted.find_last_of(L'\\') + 1);
  planted += L"planted-probe.dll";
  if (!CopyFileW(self, planted.c_str(), FALSE)) return 2;

  check(loads(L"planted-probe.dll"), "before: the DLL beside the executable loads by name");
  check(qwus::restrictDllSearchToSystem(), "the restriction is taken");
  check(!loads(L"planted-probe.dll"), "after: the DLL beside the executable does not load");
  check(loads(L"version.dll"), "after: a System32 DLL loads by name");
  DeleteFileW(planted.c_str());
  return failures == 0 ? 0 : 1;
}
