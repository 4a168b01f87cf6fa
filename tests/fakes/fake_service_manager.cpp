// In-memory service control manager for tests.
#include "tests/fakes/fake_service_manager.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace qwus::testing {
namespace {

constexpr char16_t kStatusHandle[] = u"status";
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, what a console process gets from the dispatcher.
constexpr std::uint32_t kNotAService = 1063;

}  // namespace

void FakeServiceManager::deleteAll() {
  std::lock_guard lock(mutex_);
  registrations_.clear();
  calls_.clear();
  eventSources_.clear();
  fail = Failures{};
}

void FakeServiceManager::addRegistration(const std::u16string& name, std::uint32_t currentState) {
  std::lock_guard lock(mutex_);
  Registration r;
  r.displayName = name;
  r.currentState = currentState;
  registrations_[name] = r;
}

std::optional<FakeServiceManager::Registration> FakeServiceManager::registration(
    const std::u16string& name) const {
  std::lock_guard lock(mutex_);
  const auto found = registrations_.find(name);
  if (found == registrations_.end()) return std::nullopt;
  return found->second;
}

void FakeServiceManager::setCurrentState(const std::u16string& name, std::uint32_t state) {
  std::lock_guard lock(mutex_);
  const auto found = registrations_.find(name);
  if (found != registrations_.end()) found->second.currentState = state;
}

std::uint32_t FakeServiceManager::sendControl(std::uint32_t control, std::uint32_t eventType,
                                              void* eventData) {
  ControlHandler handler;
  void* context;
  {
    std::lock_guard lock(mutex_);
    handler = handler_;
    context = handlerContext_;
  }
  return handler(control, eventType, eventData, context);
}

std::vector<ServiceStatus> FakeServiceManager::published() const {
  std::lock_guard lock(mutex_);
  return published_;
}

std::vector<std::uint32_t> FakeServiceManager::publishedStates() const {
  std::lock_guard lock(mutex_);
  std::vector<std::uint32_t> states;
  for (const auto& status : published_) states.push_back(status.dwCurrentState);
  return states;
}

std::size_t FakeServiceManager::openNotifications() const {
  std::lock_guard lock(mutex_);
  return notifications_.size();
}

std::vector<NotifyHandle> FakeServiceManager::unregistered() const {
  std::lock_guard lock(mutex_);
  return unregistered_;
}

std::optional<Guid> FakeServiceManager::notificationClass() const {
  std::lock_guard lock(mutex_);
  return notificationClass_;
}

void* FakeServiceManager::handlerContext() const {
  std::lock_guard lock(mutex_);
  return handlerContext_;
}

std::u16string FakeServiceManager::handlerName() const {
  std::lock_guard lock(mutex_);
  return handlerName_;
}

std::size_t FakeServiceManager::openHandles() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

std::vector<std::string> FakeServiceManager::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

bool FakeServiceManager::waitForStopped(int seconds) {
  std::unique_lock lock(mutex_);
  return statusChanged_.wait_for(lock, std::chrono::seconds(seconds), [this] {
    return !published_.empty() && published_.back().dwCurrentState == kServiceStopped;
  });
}

bool FakeServiceManager::waitForRunning(int seconds) {
  std::unique_lock lock(mutex_);
  return statusChanged_.wait_for(lock, std::chrono::seconds(seconds), [this] {
    return !published_.empty() && published_.back().dwCurrentState == kServiceRunning;
  });
}

bool FakeServiceManager::runDispatcher(const char16_t*, ServiceMainRoutine routine, void* context) {
  if (fail.dispatcher) {
    lastError_ = *fail.dispatcher;
    return false;
  }
  // The service main routine runs on a thread of its own, as under the real dispatcher; the
  // dispatcher returns once the service has reported itself stopped.
  std::thread serviceMain([routine, context] { routine(context, 0, nullptr); });
  serviceMain.join();
  std::unique_lock lock(mutex_);
  if (handler_ == nullptr) return true;  // the service never registered: nothing to wait for
  statusChanged_.wait(lock, [this] {
    return !published_.empty() && published_.back().dwCurrentState == kServiceStopped;
  });
  return true;
}

std::uint32_t FakeServiceManager::lastError() { return lastError_ != 0 ? lastError_ : kNotAService; }

StatusHandle FakeServiceManager::registerControlHandler(const char16_t* name, ControlHandler handler,
                                                        void* context) {
  std::lock_guard lock(mutex_);
  calls_.push_back("registerControlHandler");
  handlerName_ = name;
  if (fail.controlHandler) return nullptr;
  handler_ = handler;
  handlerContext_ = context;
  return const_cast<char16_t*>(kStatusHandle);
}

void FakeServiceManager::setStatus(StatusHandle handle, const ServiceStatus& status) {
  {
    std::lock_guard lock(mutex_);
    if (handle != kStatusHandle) return;
    published_.push_back(status);
    for (auto& [name, registration] : registrations_) registration.currentState = status.dwCurrentState;
  }
  statusChanged_.notify_all();
}

NotifyHandle FakeServiceManager::registerDeviceNotification(StatusHandle recipient,
                                                            const Guid& interfaceClass) {
  std::lock_guard lock(mutex_);
  calls_.push_back("registerDeviceNotification");
  if (fail.deviceNotification || recipient != kStatusHandle) return nullptr;
  notificationClass_ = interfaceClass;
  auto* handle = reinterpret_cast<NotifyHandle>(nextHandle_++);
  notifications_.insert(handle);
  return handle;
}

void FakeServiceManager::unregisterDeviceNotification(NotifyHandle handle) {
  std::lock_guard lock(mutex_);
  calls_.push_back("unregisterDeviceNotification");
  unregistered_.push_back(handle);
  notifications_.erase(handle);
}

bool FakeServiceManager::presentDeviceInterfaces(const Guid& interfaceClass,
                                                 std::vector<Text>& paths, std::uint32_t& error) {
  std::lock_guard lock(mutex_);
  calls_.push_back("presentDeviceInterfaces");
  if (listingError) {
    error = *listingError;
    return false;
  }
  if (notificationClass_ && std::memcmp(&*notificationClass_, &interfaceClass, sizeof(Guid)) == 0) {
    paths.insert(paths.end(), presentInterfaces.begin(), presentInterfaces.end());
  }
  return true;
}

ScHandle FakeServiceManager::newHandle(const std::u16string& service) {
  auto* handle = reinterpret_cast<ScHandle>(nextHandle_++);
  handles_[handle] = service;
  return handle;
}

ScHandle FakeServiceManager::openManager(std::uint32_t access) {
  std::lock_guard lock(mutex_);
  calls_.push_back("openManager " + std::to_string(access));
  if (fail.openManager) return nullptr;
  return newHandle(u"");
}

ScHandle FakeServiceManager::createService(ScHandle manager, const ServiceConfig& config) {
  std::lock_guard lock(mutex_);
  calls_.push_back("createService");
  if (fail.createService || handles_.count(manager) == 0) return nullptr;
  if (registrations_.count(config.serviceName) != 0) return nullptr;  // already exists
  Registration r;
  r.displayName = config.displayName;
  r.desiredAccess = config.desiredAccess;
  r.serviceType = config.serviceType;
  r.startType = config.startType;
  r.errorControl = config.errorControl;
  r.binaryPath = config.binaryPathName;
  if (config.securityDescriptor != nullptr) r.securityDescriptor = config.securityDescriptor;
  registrations_[config.serviceName] = r;
  return newHandle(config.serviceName);
}

ScHandle FakeServiceManager::openService(ScHandle manager, const char16_t* name,
                                         std::uint32_t access) {
  std::lock_guard lock(mutex_);
  calls_.push_back("openService " + std::to_string(access));
  if (handles_.count(manager) == 0 || registrations_.count(name) == 0) return nullptr;
  return newHandle(name);
}

bool FakeServiceManager::queryStatus(ScHandle service, ServiceStatus& status) {
  std::lock_guard lock(mutex_);
  calls_.push_back("queryStatus");
  const auto handle = handles_.find(service);
  if (fail.queryStatus || handle == handles_.end()) return false;
  const auto found = registrations_.find(handle->second);
  if (found == registrations_.end()) return false;
  status = ServiceStatus{};
  status.dwServiceType = kServiceWin32OwnProcess;
  status.dwCurrentState = found->second.currentState;
  return true;
}

bool FakeServiceManager::deleteService(ScHandle service) {
  std::lock_guard lock(mutex_);
  calls_.push_back("deleteService");
  const auto handle = handles_.find(service);
  if (fail.deleteService || handle == handles_.end()) return false;
  return registrations_.erase(handle->second) == 1;
}

void FakeServiceManager::closeHandle(ScHandle handle) {
  std::lock_guard lock(mutex_);
  const auto found = handles_.find(handle);
  calls_.push_back(found != handles_.end() && found->second.empty() ? "close manager"
                                                                     : "close service");
  handles_.erase(handle);
}

std::uint32_t FakeServiceManager::moduleFileName(char16_t* buffer, std::uint32_t size) {
  std::lock_guard lock(mutex_);
  if (fail.moduleFileName || size == 0) return 0;
  // As GetModuleFileNameW: a path that does not fit is cut to size - 1 characters and the full
  // size is returned.
  const std::size_t length = std::min<std::size_t>(modulePath.size(), size - 1);
  std::memcpy(buffer, modulePath.data(), length * sizeof(char16_t));
  buffer[length] = u'\0';
  return modulePath.size() < size ? static_cast<std::uint32_t>(length) : size;
}

bool FakeServiceManager::registerEventSource(const char16_t* name, const char16_t* messageFile) {
  std::lock_guard lock(mutex_);
  calls_.push_back("registerEventSource");
  if (fail.registerEventSource) return false;
  eventSources_[name] = messageFile;
  return true;
}

bool FakeServiceManager::unregisterEventSource(const char16_t* name) {
  std::lock_guard lock(mutex_);
  calls_.push_back("unregisterEventSource");
  eventSources_.erase(name);
  return true;
}

std::map<std::u16string, std::u16string> FakeServiceManager::eventSources() const {
  std::lock_guard lock(mutex_);
  return eventSources_;
}

}  // namespace qwus::testing
