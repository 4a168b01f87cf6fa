// The WinUSB driver package in Windows' driver store: adding it, and removing it again.
#pragma once

#include <string>

namespace qwus {

// What a change to the driver store came to: whether it succeeded, whether Windows needs a
// restart to finish it, and one line saying what happened, for the installation's log.
struct DriverStoreOutcome {
  bool succeeded = false;
  bool restartNeeded = false;
  std::wstring report;
};

// Adds the driver package whose INF is at `infPath` (a full path) to the driver store and
// installs it on every matching device plugged in now (DiInstallDriverW). Succeeds also when no
// such device is plugged in: the package then waits in the store for the first one.
DriverStoreOutcome addDriverPackage(const std::wstring& infPath);

// Removes the driver package that `infPath` was added from (the same INF, still on disk) from its
// devices and from the driver store (DiUninstallDriverW, Windows 10 1703 and later). A package
// that is not in the store is nothing to remove, and succeeds. So does a Windows without that
// function, whose report says the package stays: removing the product does not depend on it.
DriverStoreOutcome removeDriverPackage(const std::wstring& infPath);

}  // namespace qwus
