// The device hold on POSIX systems: an exclusive flock on the hold file.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "tools/emulated_libusb/device_hold.h"

namespace qwus::usbdevice {

DeviceHold::DeviceHold(const std::filesystem::path& file) {
  // flock locks belong to the open file description: a second open of the file, in this process
  // or another, cannot take the lock while this one holds it.
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

DeviceHold::~DeviceHold() { release(); }

DeviceHold::DeviceHold(DeviceHold&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

DeviceHold& DeviceHold::operator=(DeviceHold&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool DeviceHold::held() const noexcept { return fd_ >= 0; }

void DeviceHold::release() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace qwus::usbdevice
