// An in-memory service control manager for the service host's tests.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/service_manager.h"

namespace qwus::testing {

// Holds registrations, records every published status, delivers controls to the registered handler
// and can make each call fail. Every handle it hands out is counted until it is closed.
class FakeServiceManager final : public ServiceManager {
 public:
  struct Registration {
    std::u16string displayName;
    std::uint32_t desiredAccess = 0;
    std::uint32_t serviceType = 0;
    std::uint32_t startType = 0;
    std::uint32_t errorControl = 0;
    std::u16string binaryPath;
    std::u16string securityDescriptor;  // empty: the system's default
    std::uint32_t currentState = kServiceStopped;
  };

  // Which calls fail.
  struct Failures {
    std::optional<std::uint32_t> dispatcher;  // runDispatcher fails with this error
    bool controlHandler = false;
    bool deviceNotification = false;
    bool openManager = false;
    bool moduleFileName = false;
    bool createService = false;
    bool queryStatus = false;
    bool deleteService = false;
    bool registerEventSource = false;
  };
  Failures fail;

  // The path moduleFileName gives.
  std::u16string modulePath = u"C:\\Program Files\\Quorlan\\orvale\\Services\\QuorlanWindowsUpdateService.exe";

  // The interfaces presentDeviceInterfaces lists, when asked for the class that the device
  // notification was registered for (so nothing before that registration); when `listingError`
  // is set it fails with it.
  std::vector<Text> presentInterfaces;
  std::optional<std::uint32_t> listingError;

  // Forgets every registration, recorded call and failure.
  void deleteAll();
  // Registration state.
  void addRegistration(const std::u16string& name, std::uint32_t currentState);
  std::optional<Registration> registration(const std::u16string& name) const;
  // The state the manager sees for the service; follows every published status.
  void setCurrentState(const std::u16string& name, std::uint32_t state);

  // Delivers a control to the registered handler, as the dispatcher thread would.
  std::uint32_t sendControl(std::uint32_t control, std::uint32_t eventType = 0,
                            void* eventData = nullptr);

  std::vector<ServiceStatus> published() const;
  std::vector<std::uint32_t> publishedStates() const;
  // Device notifications registered and not yet given back, and every one given back.
  std::size_t openNotifications() const;
  std::vector<NotifyHandle> unregistered() const;
  std::optional<Guid> notificationClass() const;
  std::u16string handlerName() const;
  // The context the control handler was registered with.
  void* handlerContext() const;
  // Service-manager handles opened and not yet closed.
  std::size_t openHandles() const;
  // Event sources registered through registerEventSource and not deleted: name -> message file.
  std::map<std::u16string, std::u16string> eventSources() const;
  // Calls made, in order: "openManager 2", "createService", "openService 65540", "close", ...
  std::vector<std::string> calls() const;
  // Blocks until SERVICE_STOPPED has been published (or `seconds` pass); true when it was.
  bool waitForStopped(int seconds = 10);
  // Blocks until SERVICE_RUNNING has been published (or `seconds` pass); true when it was.
  bool waitForRunning(int seconds = 10);

  bool runDispatcher(const char16_t* name, ServiceMainRoutine routine, void* context) override;
  std::uint32_t lastError() override;
  StatusHandle registerControlHandler(const char16_t* name, ControlHandler handler,
                                      void* context) override;
  void setStatus(StatusHandle handle, const ServiceStatus& status) override;
  NotifyHandle registerDeviceNotification(StatusHandle recipient, const Guid& interfaceClass) override;
  void unregisterDeviceNotification(NotifyHandle handle) override;
  bool presentDeviceInterfaces(const Guid& interfaceClass, std::vector<Text>& paths,
                               std::uint32_t& error) override;
  ScHandle openManager(std::uint32_t access) override;
  ScHandle createService(ScHandle manager, const ServiceConfig& config) override;
  ScHandle openService(ScHandle manager, const char16_t* name, std::uint32_t access) override;
  bool queryStatus(ScHandle service, ServiceStatus& status) override;
  bool deleteService(ScHandle service) override;
  void closeHandle(ScHandle handle) override;
  std::uint32_t moduleFileName(char16_t* buffer, std::uint32_t size) override;
  bool registerEventSource(const char16_t* name, const char16_t* messageFile) override;
  bool unregisterEventSource(const char16_t* name) override;

 private:
  ScHandle newHandle(const std::u16string& service);

  mutable std::mutex mutex_;
  std::condition_variable statusChanged_;
  std::map<std::u16string, Registration> registrations_;
  std::map<ScHandle, std::u16string> handles_;  // open handle -> service name ("" for the manager)
  std::uintptr_t nextHandle_ = 0x100;
  std::vector<ServiceStatus> published_;
  std::set<NotifyHandle> notifications_;
  std::vector<NotifyHandle> unregistered_;
  std::optional<Guid> notificationClass_;
  std::u16string handlerName_;
  ControlHandler handler_ = nullptr;
  void* handlerContext_ = nullptr;
  std::uint32_t lastError_ = 0;
  std::vector<std::string> calls_;
  std::map<std::u16string, std::u16string> eventSources_;
};

}  // namespace qwus::testing
