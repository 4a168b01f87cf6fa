// The Windows service control manager as the service host uses it: the dispatcher, control
// handling, status reports, device-interface notifications and the service's registration.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/text.h"

namespace qwus {

// The layout and values of the Win32 SERVICE_STATUS record.
struct ServiceStatus {
  std::uint32_t dwServiceType = 0;
  std::uint32_t dwCurrentState = 0;
  std::uint32_t dwControlsAccepted = 0;
  std::uint32_t dwWin32ExitCode = 0;
  std::uint32_t dwServiceSpecificExitCode = 0;
  std::uint32_t dwCheckPoint = 0;
  std::uint32_t dwWaitHint = 0;
};

// A GUID in its Win32 layout.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

// What a device-interface event carries: the interface class and the zero-terminated interface
// path (dbcc_classguid and dbcc_name of DEV_BROADCAST_DEVICEINTERFACE_W).
struct DeviceInterfaceEvent {
  Guid classGuid;
  const char16_t* name = nullptr;
};

// Win32 values the service host uses, named after their Win32 names (which are macros there).
inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;  // SERVICE_WIN32_OWN_PROCESS
inline constexpr std::uint32_t kServiceWin32 = 0x30;  // SERVICE_WIN32
inline constexpr std::uint32_t kServiceStopped = 1;  // SERVICE_STOPPED
inline constexpr std::uint32_t kServiceStartPending = 2;  // SERVICE_START_PENDING
inline constexpr std::uint32_t kServiceStopPending = 3;  // SERVICE_STOP_PENDING
inline constexpr std::uint32_t kServiceRunning = 4;  // SERVICE_RUNNING
inline constexpr std::uint32_t kServiceAcceptStop = 1;  // SERVICE_ACCEPT_STOP
inline constexpr std::uint32_t kServiceAcceptShutdown = 4;  // SERVICE_ACCEPT_SHUTDOWN
inline constexpr std::uint32_t kServiceControlStop = 1;  // SERVICE_CONTROL_STOP
inline constexpr std::uint32_t kServiceControlPause = 2;  // SERVICE_CONTROL_PAUSE
inline constexpr std::uint32_t kServiceControlContinue = 3;  // SERVICE_CONTROL_CONTINUE
inline constexpr std::uint32_t kServiceControlInterrogate = 4;  // SERVICE_CONTROL_INTERROGATE
inline constexpr std::uint32_t kServiceControlShutdown = 5;  // SERVICE_CONTROL_SHUTDOWN
inline constexpr std::uint32_t kServiceControlDeviceEvent = 11;  // SERVICE_CONTROL_DEVICEEVENT
inline constexpr std::uint32_t kDbtDeviceArrival = 0x8000;  // DBT_DEVICEARRIVAL
inline constexpr std::uint32_t kDbtDeviceRemoveComplete = 0x8004;  // DBT_DEVICEREMOVECOMPLETE
inline constexpr std::uint32_t kDbtDevnodesChanged = 0x0007;  // DBT_DEVNODES_CHANGED
inline constexpr std::uint32_t kNoError = 0;  // NO_ERROR
inline constexpr std::uint32_t kScManagerConnect = 1;  // SC_MANAGER_CONNECT
inline constexpr std::uint32_t kScManagerCreateService = 2;  // SC_MANAGER_CREATE_SERVICE
inline constexpr std::uint32_t kServiceAllAccess = 0xF01FF;  // SERVICE_ALL_ACCESS
inline constexpr std::uint32_t kDeleteAccess = 0x10000;  // DELETE
inline constexpr std::uint32_t kServiceQueryStatus = 4;  // SERVICE_QUERY_STATUS
inline constexpr std::uint32_t kServiceAutoStart = 2;  // SERVICE_AUTO_START
inline constexpr std::uint32_t kServiceErrorCritical = 3;  // SERVICE_ERROR_CRITICAL
inline constexpr std::uint32_t kMaxPath = 260;  // MAX_PATH

using ScHandle = void*;      // SC_HANDLE
using StatusHandle = void*;  // SERVICE_STATUS_HANDLE
using NotifyHandle = void*;  // HDEVNOTIFY

// The service's main routine as the dispatcher starts it; `context` is the one given to
// runDispatcher. Arguments are the service's start arguments.
using ServiceMainRoutine = void (*)(void* context, std::uint32_t argumentCount,
                                    char16_t** arguments);

// A HandlerEx control handler. For SERVICE_CONTROL_DEVICEEVENT with DBT_DEVICEARRIVAL or
// DBT_DEVICEREMOVECOMPLETE, `eventData` points to a DeviceInterfaceEvent (or is null when the
// system sent none); for other controls it is passed on unchanged.
using ControlHandler = std::uint32_t (*)(std::uint32_t control, std::uint32_t eventType,
                                         void* eventData, void* context);

// What CreateServiceW is given.
struct ServiceConfig {
  const char16_t* serviceName = nullptr;
  const char16_t* displayName = nullptr;
  std::uint32_t desiredAccess = 0;
  std::uint32_t serviceType = 0;
  std::uint32_t startType = 0;
  std::uint32_t errorControl = 0;
  const char16_t* binaryPathName = nullptr;  // load order group, tag, dependencies, account: none
  // The service's discretionary ACL as SDDL, set as soon as the service exists; a service that
  // cannot have it is deleted again and counts as not created. Null: the system's default.
  const char16_t* securityDescriptor = nullptr;
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;

  // StartServiceCtrlDispatcherW with one service `name` whose main routine is `routine`, called
  // with `context`. Blocks until every service of the process has stopped. false when the
  // dispatcher could not be started (lastError() tells why).
  virtual bool runDispatcher(const char16_t* name, ServiceMainRoutine routine, void* context) = 0;

  // GetLastError of the calling thread.
  virtual std::uint32_t lastError() = 0;

  // RegisterServiceCtrlHandlerExW; null on failure. From then on `handler` receives the controls
  // with `context`.
  virtual StatusHandle registerControlHandler(const char16_t* name, ControlHandler handler,
                                              void* context) = 0;

  // SetServiceStatus; the result is of no interest to the service.
  virtual void setStatus(StatusHandle handle, const ServiceStatus& status) = 0;

  // RegisterDeviceNotificationW for `recipient` (DEVICE_NOTIFY_SERVICE_HANDLE) with a
  // DEV_BROADCAST_DEVICEINTERFACE_W filter of size 32, type DBT_DEVTYP_DEVICEINTERFACE and class
  // `interfaceClass`. Null on failure.
  virtual NotifyHandle registerDeviceNotification(StatusHandle recipient,
                                                  const Guid& interfaceClass) = 0;

  // UnregisterDeviceNotification; the result is of no interest.
  virtual void unregisterDeviceNotification(NotifyHandle handle) = 0;

  // The paths of the interfaces of `interfaceClass` that are present now (SetupDiGetClassDevsW
  // with DIGCF_PRESENT | DIGCF_DEVICEINTERFACE), in the order the system lists them, into
  // `paths`. Nothing announces these: they were there before the notification was registered.
  // false when the system could not list them; `error` then holds the system's error number.
  virtual bool presentDeviceInterfaces(const Guid& interfaceClass, std::vector<Text>& paths,
                                       std::uint32_t& error) = 0;

  // OpenSCManagerW(null, null, access); null on failure.
  virtual ScHandle openManager(std::uint32_t access) = 0;

  // CreateServiceW; null on failure.
  virtual ScHandle createService(ScHandle manager, const ServiceConfig& config) = 0;

  // OpenServiceW; null on failure.
  virtual ScHandle openService(ScHandle manager, const char16_t* name, std::uint32_t access) = 0;

  // QueryServiceStatus; false on failure.
  virtual bool queryStatus(ScHandle service, ServiceStatus& status) = 0;

  // DeleteService; false on failure.
  virtual bool deleteService(ScHandle service) = 0;

  // CloseServiceHandle; the result is of no interest.
  virtual void closeHandle(ScHandle handle) = 0;

  // GetModuleFileNameW(null, buffer, size): the running executable's path; returns the length
  // written, 0 on failure, and `size` when the path did not fit and was cut off.
  virtual std::uint32_t moduleFileName(char16_t* buffer, std::uint32_t size) = 0;

  // Registers the event source `name` in the Application log with the message file `messageFile`
  // (the key HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\NAME, its
  // EventMessageFile as REG_EXPAND_SZ and TypesSupported 7), replacing what was there. false on
  // failure.
  virtual bool registerEventSource(const char16_t* name, const char16_t* messageFile) = 0;

  // Deletes that key; true when it is gone afterwards, also when it was never there.
  virtual bool unregisterEventSource(const char16_t* name) = 0;
};

}  // namespace qwus

namespace qwus {

// The running system's service control manager. Never destroyed: threads may still use it while the
// process ends. (Windows only.)
ServiceManager& systemServiceManager();

}  // namespace qwus
