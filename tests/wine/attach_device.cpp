// attach_device.exe INSTANCE_ID: makes an interface of the Orvale class present for the device
// INSTANCE_ID (USB\VID_C4E2&PID_8351\A7X2249) as Wine's SetupAPI counts one present, so that a
// scenario can start the service with the device already attached. Prints the interface's path.
// Wine lists an interface with DIGCF_PRESENT once its Control key holds Linked = 1, which a
// driver's IoSetDeviceInterfaceState would set on Windows.
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// {88BAE032-5A81-49F0-BC3D-A4FF138216D6}, Windows' USBDevice setup class.
constexpr GUID kUsbDeviceClass = {0x88BAE032, 0x5A81, 0x49F0,
                                  {0xBC, 0x3D, 0xA4, 0xFF, 0x13, 0x82, 0x16, 0xD6}};
// {5E1C7A93-2B64-4D0F-9A83-C61E27B4D850}, the Orvale device interface class.
constexpr GUID kOrvaleInterface = {0x5E1C7A93, 0x2B64, 0x4D0F,
                                   {0x9A, 0x83, 0xC6, 0x1E, 0x27, 0xB4, 0xD8, 0x50}};

struct DeviceInfoSetCloser {
  void operator()(void* set) const { SetupDiDestroyDeviceInfoList(set); }
};
using DeviceInfoSet = std::unique_ptr<void, DeviceInfoSetCloser>;
struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

int failed(const char* what) {
  std::fprintf(stderr, "attach_device: %s failed, error %lu\n", what, GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: attach_device.exe INSTANCE_ID\n");
    return 2;
  }
  HDEVINFO created = SetupDiCreateDeviceInfoList(&kUsbDeviceClass, nullptr);
  if (created == INVALID_HANDLE_VALUE) return failed("SetupDiCreateDeviceInfoList");
  const DeviceInfoSet owned(created);
  HDEVINFO set = owned.get();
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  if (!SetupDiCreateDeviceInfoW(set, argv[1], &kUsbDeviceClass, nullptr, nullptr, 0, &device)) {
    return failed("SetupDiCreateDeviceInfoW");
  }
  if (!SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
    return failed("SetupDiRegisterDeviceInfo");
  }
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  if (!SetupDiCreateDeviceInterfaceW(set, &device, &kOrvaleInterface, nullptr, 0, &data)) {
    return failed("SetupDiCreateDeviceInterfaceW");
  }
  DWORD size = 0;
  SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
  std::vector<SP_DEVICE_INTERFACE_DETAIL_DATA_W> detail(
      size / sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) + 1);
  detail[0].cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail.data(), size, nullptr, nullptr)) {
    return failed("SetupDiGetDeviceInterfaceDetailW");
  }
  const std::wstring path = detail[0].DevicePath;

  // The interface's key is under its class, which ends the path, and is named after the path
  // with \\?\ written ##?#; its reference string, none here, is the "#" subkey.
  const std::wstring key = L"System\\CurrentControlSet\\Control\\DeviceClasses\\" +
                           path.substr(path.rfind(L'#') + 1) + L"\\##?#" + path.substr(4) +
                           L"\\#\\Control";
  HKEY createdKey = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &createdKey, nullptr) != ERROR_SUCCESS) {
    return failed("RegCreateKeyExW");
  }
  const Key control(createdKey);
  const DWORD linked = 1;
  if (RegSetValueExW(control.get(), L"Linked", 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&linked), sizeof linked) != ERROR_SUCCESS) {
    return failed("RegSetValueExW");
  }
  std::printf("%ls\n", path.c_str());
  return 0;
}
