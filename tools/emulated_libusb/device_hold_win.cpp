// The device hold on Windows: the hold file opened with no sharing, as WinUSB opens the device.
#include <windows.h>

#include "tools/emulated_libusb/device_hold.h"

namespace qwus::usbdevice {

DeviceHold::DeviceHold(const std::filesystem::path& file) {
  // A second CreateFileW fails with a sharing violation while this handle is open; the file goes
  // when the handle is closed, by the system too when the process ends without closing it.
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle != INVALID_HANDLE_VALUE) handle_ = handle;
}

DeviceHold::~DeviceHold() { release(); }

DeviceHold::DeviceHold(DeviceHold&& other) noexcept : handle_(other.handle_) {
  other.handle_ = nullptr;
}

DeviceHold& DeviceHold::operator=(DeviceHold&& other) noexcept {
  if (this != &other) {
    release();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

bool DeviceHold::held() const noexcept { return handle_ != nullptr; }

void DeviceHold::release() noexcept {
  if (handle_ != nullptr) CloseHandle(handle_);
  handle_ = nullptr;
}

}  // namespace qwus::usbdevice
