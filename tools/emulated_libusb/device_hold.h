// An emulated device held open by one handle at a time, across processes: the exclusive open that
// WinUSB gives the first opener of a device, kept as a lock on a file beside the state file.
#pragma once

#include <filesystem>

namespace qwus::usbdevice {

class DeviceHold {
 public:
  DeviceHold() = default;
  // Takes the device for this handle unless another handle, in this process or another, holds
  // it; held() tells which. The hold ends with the object, or with its process.
  explicit DeviceHold(const std::filesystem::path& file);
  ~DeviceHold();
  DeviceHold(DeviceHold&& other) noexcept;
  DeviceHold& operator=(DeviceHold&& other) noexcept;
  DeviceHold(const DeviceHold&) = delete;
  DeviceHold& operator=(const DeviceHold&) = delete;

  bool held() const noexcept;

 private:
  void release() noexcept;

#ifdef _WIN32
  void* handle_ = nullptr;  // a HANDLE opened without sharing, deleted when closed
#else
  int fd_ = -1;  // holds an exclusive flock
#endif
};

}  // namespace qwus::usbdevice
