// The test host's service control manager.
#include "tools/test_host/test_host_service_manager.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "platform/win_text.h"

namespace qwus {
namespace {

// The first line of a UTF-8 file, without a byte order mark; empty when it cannot be read.
Text readFirstLine(const Text& path) {
  std::ifstream in(std::filesystem::path(std::wstring(asWide(path.c_str()))), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string_view view(bytes);
  if (view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);
  return fromUtf8(view.substr(0, view.find_first_of("\r\n")));
}

}  // namespace

TestHostServiceManager::TestHostServiceManager(ServiceManager& inner, Text arrivalFile)
    : inner_(inner), arrivalFile_(std::move(arrivalFile)) {}

std::uint32_t TestHostServiceManager::entry(std::uint32_t control, std::uint32_t eventType,
                                            void* eventData, void* context) {
  return static_cast<TestHostServiceManager*>(context)->handle(control, eventType, eventData);
}

std::uint32_t TestHostServiceManager::handle(std::uint32_t control, std::uint32_t eventType,
                                             void* eventData) {
  if (control == 128 || control == 129) {
    return deliverDeviceEvent(control == 128 ? kDbtDeviceArrival : kDbtDeviceRemoveComplete,
                              readFirstLine(arrivalFile_));
  }
  const std::lock_guard lock(handlerMutex_);
  if (control == 130) {
    return handler_(kServiceControlDeviceEvent, kDbtDevnodesChanged, nullptr, handlerContext_);
  }
  return handler_(control, eventType, eventData, handlerContext_);
}

std::uint32_t TestHostServiceManager::deliverDeviceEvent(std::uint32_t eventType,
                                                         const Text& path) {
  const std::lock_guard lock(handlerMutex_);
  DeviceInterfaceEvent event;
  event.classGuid = watchedClass_;
  event.name = path.c_str();
  return handler_(kServiceControlDeviceEvent, eventType, &event, handlerContext_);
}

void TestHostServiceManager::announce(std::uint32_t eventType, const Text& path) {
  // Windows delivers device events only to a registered notification.
  if (!notified_.load()) return;
  deliverDeviceEvent(eventType, path);
}

bool TestHostServiceManager::runDispatcher(const char16_t* name, ServiceMainRoutine routine,
                                           void* context) {
  return inner_.runDispatcher(name, routine, context);
}

std::uint32_t TestHostServiceManager::lastError() { return inner_.lastError(); }

StatusHandle TestHostServiceManager::registerControlHandler(const char16_t* name,
                                                            ControlHandler handler,
                                                            void* context) {
  handler_ = handler;
  handlerContext_ = context;
  return inner_.registerControlHandler(name, &TestHostServiceManager::entry, this);
}

void TestHostServiceManager::setStatus(StatusHandle handle, const ServiceStatus& status) {
  inner_.setStatus(handle, status);
}

NotifyHandle TestHostServiceManager::registerDeviceNotification(StatusHandle recipient,
                                                                const Guid& interfaceClass) {
  watchedClass_ = interfaceClass;
  const NotifyHandle notification = inner_.registerDeviceNotification(recipient, interfaceClass);
  notified_ = notification != nullptr;
  return notification;
}

void TestHostServiceManager::unregisterDeviceNotification(NotifyHandle handle) {
  notified_ = false;
  inner_.unregisterDeviceNotification(handle);
}

bool TestHostServiceManager::presentDeviceInterfaces(const Guid& interfaceClass,
                                                     std::vector<Text>& paths,
                                                     std::uint32_t& error) {
  return inner_.presentDeviceInterfaces(interfaceClass, paths, error);
}

ScHandle TestHostServiceManager::openManager(std::uint32_t access) {
  return inner_.openManager(access);
}

ScHandle TestHostServiceManager::createService(ScHandle manager, const ServiceConfig& config) {
  return inner_.createService(manager, config);
}

ScHandle TestHostServiceManager::openService(ScHandle manager, const char16_t* name,
                                             std::uint32_t access) {
  return inner_.openService(manager, name, access);
}

bool TestHostServiceManager::queryStatus(ScHandle service, ServiceStatus& status) {
  return inner_.queryStatus(service, status);
}

bool TestHostServiceManager::deleteService(ScHandle service) {
  return inner_.deleteService(service);
}

void TestHostServiceManager::closeHandle(ScHandle handle) { inner_.closeHandle(handle); }

std::uint32_t TestHostServiceManager::moduleFileName(char16_t* buffer, std::uint32_t size) {
  return inner_.moduleFileName(buffer, size);
}

bool TestHostServiceManager::registerEventSource(const char16_t* name,
                                                 const char16_t* messageFile) {
  return inner_.registerEventSource(name, messageFile);
}

bool TestHostServiceManager::unregisterEventSource(const char16_t* name) {
  return inner_.unregisterEventSource(name);
}

}  // namespace qwus
