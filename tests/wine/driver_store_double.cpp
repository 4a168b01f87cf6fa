// A stand-in for Windows 10's newdev.dll in a Wine prefix, whose own newdev.dll keeps no driver
// store and has no DiUninstallDriverW. It keeps a store of its own, the folder
// %SystemRoot%\DriverStoreDouble: DiInstallDriverW copies the INF it is given there under the
// INF's own name, and DiUninstallDriverW deletes that copy, failing as Windows does
// (ERROR_DRIVER_PACKAGE_NOT_IN_STORE) when there is none. Each call appends "FUNCTION PATH" to
// journal.txt in that folder (UTF-8), so a test reads exactly which path reached it. With
// QWUS_DRIVER_STORE_RESTART=1 in the environment, both report that a restart is needed; with
// QWUS_DRIVER_STORE_REFUSES=1, DiUninstallDriverW fails with ERROR_ACCESS_DENIED and keeps the
// copy.
#include <windows.h>

#include <string>

namespace {

constexpr DWORD kDriverPackageNotInStore = 0xE0000302;

std::wstring storeFolder() {
  wchar_t windows[MAX_PATH];
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  std::wstring folder(windows, length);
  folder += L"\\DriverStoreDouble\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::wstring storedCopy(const wchar_t* inf) {
  std::wstring path = inf;
  return storeFolder() + path.substr(path.find_last_of(L"\\/") + 1);
}

void journal(const char* function, const wchar_t* inf) {
  const std::wstring wide = inf;
  std::string line = function;
  line += ' ';
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string path(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), path.data(), size,
                      nullptr, nullptr);
  line += path + "\n";
  const HANDLE file = CreateFileW((storeFolder() + L"journal.txt").c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

bool asked(const wchar_t* variable) {
  wchar_t value[8] = L"";
  return GetEnvironmentVariableW(variable, value, 8) == 1 && value[0] == L'1';
}

void reportRestart(BOOL* needReboot) {
  if (needReboot != nullptr) *needReboot = asked(L"QWUS_DRIVER_STORE_RESTART") ? TRUE : FALSE;
}

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI DiInstallDriverW(HWND, const wchar_t* inf, DWORD,
                                                              BOOL* needReboot) {
  journal("DiInstallDriverW", inf);
  if (!CopyFileW(inf, storedCopy(inf).c_str(), FALSE)) return FALSE;
  reportRestart(needReboot);
  return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI DiUninstallDriverW(HWND, const wchar_t* inf, DWORD,
                                                                BOOL* needReboot) {
  journal("DiUninstallDriverW", inf);
  if (GetFileAttributesW(inf) == INVALID_FILE_ATTRIBUTES) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (asked(L"QWUS_DRIVER_STORE_REFUSES")) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!DeleteFileW(storedCopy(inf).c_str())) {
    SetLastError(kDriverPackageNotInStore);
    return FALSE;
  }
  reportRestart(needReboot);
  return TRUE;
}
