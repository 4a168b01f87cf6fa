// The test host's service control manager: the system's, with device events that the test host
// makes itself, handed to the service's control handler one at a time as Windows hands controls.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/service_manager.h"
#include "platform/text.h"

namespace qwus {

class TestHostServiceManager final : public ServiceManager {
 public:
  // Passes every call to `inner`. User controls 128 and 129 become an arrival and a removal of an
  // interface of the watched class whose path is the first line of the UTF-8 file `arrivalFile`,
  // 130 an event of type DBT_DEVNODES_CHANGED; other controls reach the handler unchanged.
  TestHostServiceManager(ServiceManager& inner, Text arrivalFile);

  // Hands a device-interface event of `eventType` for `path` to the control handler, as Windows
  // does once the device has settled, when a device notification is registered; nothing
  // otherwise. Waits for a control that the handler is handling. Safe from any thread.
  void announce(std::uint32_t eventType, const Text& path);

  bool runDispatcher(const char16_t* name, ServiceMainRoutine routine, void* context) override;
  std::uint32_t lastError() override;
  StatusHandle registerControlHandler(const char16_t* name, ControlHandler handler,
                                      void* context) override;
  void setStatus(StatusHandle handle, const ServiceStatus& status) override;
  NotifyHandle registerDeviceNotification(StatusHandle recipient,
                                          const Guid& interfaceClass) override;
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
  // The handler the system calls: `context` is this object.
  static std::uint32_t entry(std::uint32_t control, std::uint32_t eventType, void* eventData,
                             void* context);
  std::uint32_t handle(std::uint32_t control, std::uint32_t eventType, void* eventData);
  std::uint32_t deliverDeviceEvent(std::uint32_t eventType, const Text& path);

  ServiceManager& inner_;
  Text arrivalFile_;
  // Held while the service's handler runs: Windows calls it for one control at a time.
  std::mutex handlerMutex_;
  // Set before the system can call entry(), and not changed after.
  ControlHandler handler_ = nullptr;
  void* handlerContext_ = nullptr;
  // Written before the notification is registered, read only while it is.
  Guid watchedClass_;
  std::atomic<bool> notified_{false};
};

}  // namespace qwus
