// Windows only: the service control manager adapter.
#pragma once

#include "platform/service_manager.h"

namespace qwus {

class WindowsServiceManager final : public ServiceManager {
 public:
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

  // Hands one control to the registered handler, translating device-interface records.
  std::uint32_t deliver(std::uint32_t control, std::uint32_t eventType, void* eventData,
                        void* context);

  // The HandlerEx callback that registerControlHandler gives the system (DWORD is unsigned long
  // on Windows): hands the control to the last registered handler through deliver().
  static unsigned long __stdcall handlerEntry(unsigned long control, unsigned long eventType,
                                              void* eventData, void* context);
};

}  // namespace qwus
