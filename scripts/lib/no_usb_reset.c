/* Preloaded into dfu-util by scripts/check-device: libusb_reset_device does what it does on
 * Windows, where libusb runs over WinUSB: it resets no device and returns success. It says on
 * stderr that it was asked, so that the check can tell. */
#include <stdio.h>

struct libusb_device_handle;

int libusb_reset_device(struct libusb_device_handle *handle) {
  (void)handle;
  fputs("no_usb_reset: libusb_reset_device skipped, as over WinUSB\n", stderr);
  return 0;
}
