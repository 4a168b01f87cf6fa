// The custom actions of the service's MSI that add the WinUSB driver package to the driver store
// and remove it, exported for Windows Installer, and the restart that either may leave due.
//
// The deferred actions read the installed INF's full path from CustomActionData, which the MSI
// sets to [WinUsbDriverFolder]orvale-winusb.inf (a file's own [#key] is blank while its component
// is being removed): the path reaches newdev.dll as a string, never through a command line, so no
// folder name can change what runs. A deferred action cannot ask Windows
// Installer for a restart itself (MsiSetMode is not available to it), so it leaves a global atom
// that the immediate action after InstallFinalize turns into MSIRUNMODE_REBOOTATEND, as WiX's
// CheckRebootRequired does: msiexec then ends with 3010 (ERROR_SUCCESS_REBOOT_REQUIRED).
#include <windows.h>
#include <msiquery.h>

#include <string>

#include "installer/driver_store.h"

namespace qwus {
namespace {

constexpr wchar_t kRestartAtom[] = L"QuorlanWindowsUpdateService.WinUsbDriver.RestartNeeded";

// An MSI handle that is closed when it goes.
class MsiRecord {
 public:
  explicit MsiRecord(unsigned fields) : handle_(MsiCreateRecord(fields)) {}
  ~MsiRecord() {
    if (handle_ != 0) MsiCloseHandle(handle_);
  }
  MsiRecord(const MsiRecord&) = delete;
  MsiRecord& operator=(const MsiRecord&) = delete;
  MSIHANDLE get() const { return handle_; }

 private:
  MSIHANDLE handle_;
};

// Writes `line` into the installation's log.
void logLine(MSIHANDLE session, const std::wstring& line) {
  const MsiRecord record(0);
  if (record.get() == 0) return;
  MsiRecordSetStringW(record.get(), 0, line.c_str());
  MsiProcessMessage(session, INSTALLMESSAGE_INFO, record.get());
}

// The deferred action's CustomActionData, or nothing when it has none.
std::wstring customActionData(MSIHANDLE session) {
  wchar_t empty[1] = L"";
  DWORD size = 0;
  if (MsiGetPropertyW(session, L"CustomActionData", empty, &size) != ERROR_MORE_DATA) return {};
  std::wstring value(size, L'\0');
  size += 1;  // MsiGetPropertyW counts the terminating null in the buffer it is given
  if (MsiGetPropertyW(session, L"CustomActionData", value.data(), &size) != ERROR_SUCCESS) {
    return {};
  }
  value.resize(size);
  return value;
}

// Runs `change` on the INF that CustomActionData names and says in the log what it came to.
UINT changeDriverStore(MSIHANDLE session, const wchar_t* action,
                       DriverStoreOutcome (*change)(const std::wstring&)) {
  try {
    const std::wstring inf = customActionData(session);
    if (inf.empty()) {
      logLine(session, std::wstring(action) + L": no INF named in CustomActionData");
      return ERROR_INSTALL_FAILURE;
    }
    const DriverStoreOutcome outcome = change(inf);
    logLine(session, std::wstring(action) + L": " + outcome.report);
    if (outcome.succeeded && outcome.restartNeeded) GlobalAddAtomW(kRestartAtom);
    return outcome.succeeded ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
  } catch (...) {
    // Nothing may leave a function that Windows Installer calls.
    return ERROR_INSTALL_FAILURE;
  }
}

// Deletes the atom however many actions added it; says whether it was there.
bool takeRestartAtom() {
  bool found = false;
  while (const ATOM atom = GlobalFindAtomW(kRestartAtom)) {
    found = true;
    if (GlobalDeleteAtom(atom) != 0) break;  // non-zero: it could not be deleted
  }
  return found;
}

}  // namespace
}  // namespace qwus

// Deferred, elevated: adds the package and installs it on the devices plugged in now.
extern "C" __declspec(dllexport) UINT __stdcall InstallWinUsbDriver(MSIHANDLE session) {
  return qwus::changeDriverStore(session, L"InstallWinUsbDriver", qwus::addDriverPackage);
}

// Deferred (on removal) or rollback, elevated: removes the package from its devices and the
// driver store.
extern "C" __declspec(dllexport) UINT __stdcall RemoveWinUsbDriver(MSIHANDLE session) {
  return qwus::changeDriverStore(session, L"RemoveWinUsbDriver", qwus::removeDriverPackage);
}

// Immediate, before InstallInitialize: forgets a restart that an installation which did not end
// left behind.
extern "C" __declspec(dllexport) UINT __stdcall ForgetWinUsbDriverRestart(MSIHANDLE) {
  qwus::takeRestartAtom();
  return ERROR_SUCCESS;
}

// Immediate, after InstallFinalize: asks for the restart that a driver store change needs.
extern "C" __declspec(dllexport) UINT __stdcall RequestWinUsbDriverRestart(MSIHANDLE session) {
  try {
    if (!qwus::takeRestartAtom()) return ERROR_SUCCESS;
    qwus::logLine(session, L"RequestWinUsbDriverRestart: the driver store asks for a restart");
    return MsiSetMode(session, MSIRUNMODE_REBOOTATEND, TRUE) == ERROR_SUCCESS
               ? ERROR_SUCCESS
               : ERROR_INSTALL_FAILURE;
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}
