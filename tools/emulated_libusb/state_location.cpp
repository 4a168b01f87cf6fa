// The state file's place: beside the executable, found the way each system tells a program its own
// file.
#include "tools/emulated_libusb/state_location.h"

#include <optional>

#ifdef _WIN32
#include <windows.h>

#include <vector>
#endif

namespace qwus::usbdevice {
namespace {

std::optional<std::filesystem::path>& chosen() {
  static std::optional<std::filesystem::path> file;
  return file;
}

std::filesystem::path ownExecutable() {
#ifdef _WIN32
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return std::filesystem::path(std::wstring(path.data(), n));
#else
  return std::filesystem::read_symlink("/proc/self/exe");
#endif
}

}  // namespace

std::filesystem::path stateFile() {
  if (chosen()) return *chosen();
  return ownExecutable().parent_path() / "dfu-util.state";
}

void setStateFile(const std::filesystem::path& file) { chosen() = file; }

std::filesystem::path holdFile(const std::filesystem::path& stateFile, const std::string& sysName) {
  std::filesystem::path file = stateFile;
  file += "." + sysName + ".open";
  return file;
}

}  // namespace qwus::usbdevice
