// Adding the WinUSB driver package to the driver store and removing it, through newdev.dll.
#include "installer/driver_store.h"

#include <windows.h>

#include "installer/system_error.h"

namespace qwus {
namespace {

// newdev.dll, loaded from System32 only: the action runs elevated inside the installer, and a
// DLL of that name anywhere else (the temporary folder the action itself was unpacked into, the
// PATH) must not be taken. Both of its functions are looked up at run time, DiUninstallDriverW
// because Windows before 10 1703 does not have it.
class NewDev {
 public:
  NewDev() : module_(LoadLibraryExW(L"newdev.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    if (module_ == nullptr) loadError_ = GetLastError();
  }
  ~NewDev() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  NewDev(const NewDev&) = delete;
  NewDev& operator=(const NewDev&) = delete;

  bool loaded() const { return module_ != nullptr; }
  DWORD loadError() const { return loadError_; }

  // The function `name` of the DLL as type `Function`, or null when it has none.
  template <typename Function>
  Function find(const char* name) const {
    // GetProcAddress gives every export one type; the cast through void* gives it back its own.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_;
  DWORD loadError_ = ERROR_SUCCESS;
};

// The Windows SDK's setupapi.h defines it; MinGW-w64's does not.
constexpr DWORD kDriverPackageNotInStore = 0xE0000302;  // ERROR_DRIVER_PACKAGE_NOT_IN_STORE

// DiInstallDriverW and DiUninstallDriverW: parent window, INF path, flags, restart needed.
using DriverFunction = BOOL(WINAPI*)(HWND, const wchar_t*, DWORD, BOOL*);

DriverStoreOutcome failed(std::wstring report) { return {false, false, std::move(report)}; }

DriverStoreOutcome noNewDev(const NewDev& newDev) {
  return failed(L"newdev.dll could not be loaded from System32: " +
                describeError(newDev.loadError()));
}

std::wstring restartNote(bool restartNeeded) {
  return restartNeeded ? L" Windows needs a restart to finish it." : L"";
}

}  // namespace

DriverStoreOutcome addDriverPackage(const std::wstring& infPath) {
  const NewDev newDev;
  if (!newDev.loaded()) return noNewDev(newDev);
  const auto install = newDev.find<DriverFunction>("DiInstallDriverW");
  if (install == nullptr) return failed(L"newdev.dll has no DiInstallDriverW");
  BOOL restart = FALSE;
  if (!install(nullptr, infPath.c_str(), 0, &restart)) {
    return failed(L"The WinUSB driver package " + infPath +
                  L" could not be added to the driver store: DiInstallDriverW failed with " +
                  describeError(GetLastError()));
  }
  const bool restartNeeded = restart != FALSE;
  return {true, restartNeeded,
          L"The WinUSB driver package " + infPath +
              L" is in the driver store, and installed on the matching devices plugged in now." +
              restartNote(restartNeeded)};
}

DriverStoreOutcome removeDriverPackage(const std::wstring& infPath) {
  const NewDev newDev;
  if (!newDev.loaded()) return noNewDev(newDev);
  const auto uninstall = newDev.find<DriverFunction>("DiUninstallDriverW");
  if (uninstall == nullptr) {
    // Removing the product must not depend on it: the package only stays behind.
    return {true, false,
            L"DiUninstallDriverW is missing (Windows 10 version 1703 and later have it): the "
            L"WinUSB driver package " + infPath + L" stays in the driver store. An administrator "
            L"removes it with pnputil."};
  }
  BOOL restart = FALSE;
  if (!uninstall(nullptr, infPath.c_str(), 0, &restart)) {
    const DWORD error = GetLastError();
    if (error == kDriverPackageNotInStore) {
      return {true, false,
              L"The WinUSB driver package " + infPath +
                  L" is not in the driver store: there is nothing to remove."};
    }
    return failed(L"The WinUSB driver package " + infPath +
                  L" could not be removed: DiUninstallDriverW failed with " +
                  describeError(error) +
                  L". Repair the product, or remove the package with pnputil, and remove the "
                  L"product again.");
  }
  const bool restartNeeded = restart != FALSE;
  return {true, restartNeeded,
          L"The WinUSB driver package " + infPath +
              L" is removed from its devices and from the driver store." +
              restartNote(restartNeeded)};
}

}  // namespace qwus
