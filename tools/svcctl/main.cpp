// svcctl.exe NAME CODE: sends control CODE to service NAME (ControlService); exits 0 when the
// service accepted it, 1 when it did not, 2 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: svcctl NAME CODE\n");
    return 2;
  }
  wchar_t* end = nullptr;
  const unsigned long code = std::wcstoul(argv[2], &end, 10);
  if (end == argv[2] || *end != L'\0' || code > 255) {
    std::fprintf(stderr, "svcctl: CODE must be a number from 0 to 255\n");
    return 2;
  }
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) {
    std::fprintf(stderr, "svcctl: OpenSCManagerW failed: %lu\n", GetLastError());
    return 1;
  }
  SC_HANDLE service = OpenServiceW(
      manager, argv[1],
      SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL);
  if (service == nullptr) {
    std::fprintf(stderr, "svcctl: OpenServiceW failed: %lu\n", GetLastError());
    CloseServiceHandle(manager);
    return 1;
  }
  SERVICE_STATUS status;
  const BOOL accepted = ControlService(service, code, &status);
  const DWORD error = GetLastError();
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (!accepted) {
    std::fprintf(stderr, "svcctl: ControlService(%lu) failed: %lu\n", code, error);
    return 1;
  }
  return 0;
}
