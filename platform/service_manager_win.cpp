// Windows service control manager adapter.
#include "platform/service_manager.h"

#include <windows.h>
#include <dbt.h>
#include <sddl.h>
#include <setupapi.h>

#include <cstddef>
#include <memory>
#include <string>

#include "platform/service_manager_win.h"
#include "platform/win_text.h"

namespace qwus {
namespace {

static_assert(sizeof(ServiceStatus) == sizeof(SERVICE_STATUS));
static_assert(offsetof(ServiceStatus, dwWaitHint) == offsetof(SERVICE_STATUS, dwWaitHint));
static_assert(sizeof(Guid) == sizeof(GUID));
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32);
static_assert(kServiceWin32 == SERVICE_WIN32 && kServiceWin32OwnProcess == SERVICE_WIN32_OWN_PROCESS);
static_assert(kServiceStopped == SERVICE_STOPPED && kServiceStartPending == SERVICE_START_PENDING);
static_assert(kServiceStopPending == SERVICE_STOP_PENDING && kServiceRunning == SERVICE_RUNNING);
static_assert(kServiceAcceptStop == SERVICE_ACCEPT_STOP);
static_assert(kServiceAcceptShutdown == SERVICE_ACCEPT_SHUTDOWN);
static_assert(kServiceControlStop == SERVICE_CONTROL_STOP);
static_assert(kServiceControlShutdown == SERVICE_CONTROL_SHUTDOWN);
static_assert(kServiceControlInterrogate == SERVICE_CONTROL_INTERROGATE);
static_assert(kServiceControlDeviceEvent == SERVICE_CONTROL_DEVICEEVENT);
static_assert(kDbtDeviceArrival == DBT_DEVICEARRIVAL);
static_assert(kDbtDeviceRemoveComplete == DBT_DEVICEREMOVECOMPLETE);
static_assert(kDbtDevnodesChanged == DBT_DEVNODES_CHANGED);
static_assert(kScManagerConnect == SC_MANAGER_CONNECT);
static_assert(kScManagerCreateService == SC_MANAGER_CREATE_SERVICE);
static_assert(kServiceAllAccess == SERVICE_ALL_ACCESS && kDeleteAccess == DELETE);
static_assert(kServiceQueryStatus == SERVICE_QUERY_STATUS);
static_assert(kServiceAutoStart == SERVICE_AUTO_START);
static_assert(kServiceErrorCritical == SERVICE_ERROR_CRITICAL && kMaxPath == MAX_PATH);

// The dispatcher and the control handler are called back without a context of ours, and a
// process has one dispatcher: what they need is kept here.
ServiceMainRoutine gServiceMain = nullptr;
void* gServiceMainContext = nullptr;
ControlHandler gControlHandler = nullptr;
WindowsServiceManager* gHandlerOwner = nullptr;

void WINAPI serviceMainTrampoline(DWORD argumentCount, LPWSTR* arguments) {
  gServiceMain(gServiceMainContext, argumentCount, reinterpret_cast<char16_t**>(arguments));
}

}  // namespace

DWORD WINAPI WindowsServiceManager::handlerEntry(DWORD control, DWORD eventType, LPVOID eventData,
                                                LPVOID context) {
  return gHandlerOwner->deliver(control, eventType, eventData, context);
}

std::uint32_t WindowsServiceManager::deliver(std::uint32_t control, std::uint32_t eventType,
                                             void* eventData, void* context) {
  if (control == SERVICE_CONTROL_DEVICEEVENT &&
      (eventType == DBT_DEVICEARRIVAL || eventType == DBT_DEVICEREMOVECOMPLETE)) {
    // Only a device-interface record is handed on; anything else arrives as "no record".
    DeviceInterfaceEvent event;
    const auto* header = static_cast<const DEV_BROADCAST_HDR*>(eventData);
    if (header != nullptr && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
      const auto* record = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(eventData);
      CopyMemory(&event.classGuid, &record->dbcc_classguid, sizeof(Guid));
      event.name = asText(record->dbcc_name);
      return gControlHandler(control, eventType, &event, context);
    }
    return gControlHandler(control, eventType, nullptr, context);
  }
  return gControlHandler(control, eventType, eventData, context);
}

bool WindowsServiceManager::runDispatcher(const char16_t* name, ServiceMainRoutine routine,
                                          void* context) {
  gServiceMain = routine;
  gServiceMainContext = context;
  Text serviceName(name);
  SERVICE_TABLE_ENTRYW table[] = {{asWide(serviceName.data()), &serviceMainTrampoline},
                                  {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) != FALSE;
}

std::uint32_t WindowsServiceManager::lastError() { return GetLastError(); }

StatusHandle WindowsServiceManager::registerControlHandler(const char16_t* name,
                                                           ControlHandler handler, void* context) {
  gControlHandler = handler;
  gHandlerOwner = this;
  return RegisterServiceCtrlHandlerExW(asWide(name), &WindowsServiceManager::handlerEntry,
                                       context);
}

void WindowsServiceManager::setStatus(StatusHandle handle, const ServiceStatus& status) {
  SERVICE_STATUS record;
  CopyMemory(&record, &status, sizeof record);
  SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(handle), &record);
}

NotifyHandle WindowsServiceManager::registerDeviceNotification(StatusHandle recipient,
                                                               const Guid& interfaceClass) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter;
  ZeroMemory(&filter, sizeof filter);
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  CopyMemory(&filter.dbcc_classguid, &interfaceClass, sizeof(GUID));
  return RegisterDeviceNotificationW(recipient, &filter, DEVICE_NOTIFY_SERVICE_HANDLE);
}

void WindowsServiceManager::unregisterDeviceNotification(NotifyHandle handle) {
  UnregisterDeviceNotification(handle);
}

namespace {

// A SetupAPI device information set, destroyed when the scope ends.
class DeviceInfoSet {
 public:
  explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
  ~DeviceInfoSet() {
    if (valid()) SetupDiDestroyDeviceInfoList(set_);
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
  bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

}  // namespace

bool WindowsServiceManager::presentDeviceInterfaces(const Guid& interfaceClass,
                                                    std::vector<Text>& paths,
                                                    std::uint32_t& error) {
  // SetupAPI rather than CM_Get_Device_Interface_ListW: both ask the same Plug and Play data on
  // Windows, and Wine implements only this one.
  GUID guid;
  CopyMemory(&guid, &interfaceClass, sizeof guid);
  const DeviceInfoSet set(
      SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set.valid()) {
    error = GetLastError();
    return false;
  }
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &guid, index, &data)) {
      error = GetLastError();
      return error == ERROR_NO_MORE_ITEMS;
    }
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set.get(), &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    // The detail record ends in the path; it is allocated as whole records to keep its alignment.
    std::vector<SP_DEVICE_INTERFACE_DETAIL_DATA_W> detail(
        size / sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) + 1);
    detail[0].cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (SetupDiGetDeviceInterfaceDetailW(set.get(), &data, detail.data(), size, nullptr,
                                         nullptr)) {
      paths.emplace_back(asText(detail[0].DevicePath));
    }
  }
}

ScHandle WindowsServiceManager::openManager(std::uint32_t access) {
  return OpenSCManagerW(nullptr, nullptr, access);
}

ScHandle WindowsServiceManager::createService(ScHandle manager, const ServiceConfig& config) {
  SC_HANDLE service = CreateServiceW(
      static_cast<SC_HANDLE>(manager), asWide(config.serviceName), asWide(config.displayName),
      config.desiredAccess, config.serviceType, config.startType, config.errorControl,
      asWide(config.binaryPathName), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (service == nullptr || config.securityDescriptor == nullptr) return service;
  PSECURITY_DESCRIPTOR raw = nullptr;
  const bool converted = ConvertStringSecurityDescriptorToSecurityDescriptorW(
                             asWide(config.securityDescriptor), SDDL_REVISION_1, &raw, nullptr) !=
                         FALSE;
  const std::unique_ptr<void, decltype(&LocalFree)> descriptor(raw, &LocalFree);
  if (converted &&
      SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, descriptor.get()) != FALSE) {
    return service;
  }
  // A service that more users may control than intended is worse than none: it goes again.
  const DWORD error = GetLastError();
  DeleteService(service);
  CloseServiceHandle(service);
  SetLastError(error);
  return nullptr;
}

ScHandle WindowsServiceManager::openService(ScHandle manager, const char16_t* name,
                                            std::uint32_t access) {
  return OpenServiceW(static_cast<SC_HANDLE>(manager), asWide(name), access);
}

bool WindowsServiceManager::queryStatus(ScHandle service, ServiceStatus& status) {
  SERVICE_STATUS record;
  if (!QueryServiceStatus(static_cast<SC_HANDLE>(service), &record)) return false;
  CopyMemory(&status, &record, sizeof record);
  return true;
}

bool WindowsServiceManager::deleteService(ScHandle service) {
  return DeleteService(static_cast<SC_HANDLE>(service)) != FALSE;
}

void WindowsServiceManager::closeHandle(ScHandle handle) {
  CloseServiceHandle(static_cast<SC_HANDLE>(handle));
}

std::uint32_t WindowsServiceManager::moduleFileName(char16_t* buffer, std::uint32_t size) {
  return GetModuleFileNameW(nullptr, asWide(buffer), size);
}

namespace {

// The registry key of an event source of the Application log.
std::wstring eventSourceKey(const char16_t* name) {
  return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" +
         std::wstring(asWide(name));
}

// An open registry key, closed when the scope ends.
class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  HKEY* receive() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

bool WindowsServiceManager::registerEventSource(const char16_t* name, const char16_t* messageFile) {
  ScopedKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, eventSourceKey(name).c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, key.receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring file(asWide(messageFile));
  const DWORD fileBytes = static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t));
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  return RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                        reinterpret_cast<const BYTE*>(file.c_str()), fileBytes) == ERROR_SUCCESS &&
         RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&types), sizeof types) == ERROR_SUCCESS;
}

bool WindowsServiceManager::unregisterEventSource(const char16_t* name) {
  const LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, eventSourceKey(name).c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

ServiceManager& systemServiceManager() {
  // Never destroyed: a worker may still use it while the process ends.
  static WindowsServiceManager& manager = *new WindowsServiceManager;
  return manager;
}

}  // namespace qwus
