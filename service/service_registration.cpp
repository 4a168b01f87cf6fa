// Service registration and removal.
#include "service/service_registration.h"

namespace qwus {
namespace {

// A service-manager handle, closed when the scope ends.
class ScopedScHandle {
 public:
  ScopedScHandle(ServiceManager& manager, ScHandle handle) : manager_(manager), handle_(handle) {}
  ~ScopedScHandle() {
    if (handle_ != nullptr) manager_.closeHandle(handle_);
  }
  ScopedScHandle(const ScopedScHandle&) = delete;
  ScopedScHandle& operator=(const ScopedScHandle&) = delete;

  ScHandle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  ServiceManager& manager_;
  ScHandle handle_;
};

void report(ServiceEnvironment& env, EventType type, const char16_t* text) {
  reportFormatted(env.events, type, text);
}

}  // namespace

int installService(ServiceEnvironment& env) {
  ServiceManager& manager = env.manager;
  const ScopedScHandle scm(manager, manager.openManager(kScManagerCreateService));
  if (!scm) {
    report(env, EventType::Error, u"open service control manager failed.");
    return 1;
  }

  char16_t path[kMaxPath] = {};
  // A path that fills the whole buffer was cut off: registering it would name another file.
  const std::uint32_t length = manager.moduleFileName(path, kMaxPath);
  if (length == 0 || length >= kMaxPath) {
    report(env, EventType::Error, u"get module file name failed.");
    return 1;
  }

  ServiceConfig config;
  config.serviceName = kServiceName;
  config.displayName = kServiceName;
  config.desiredAccess = kServiceAllAccess;
  config.serviceType = kServiceWin32OwnProcess;
  config.startType = kServiceAutoStart;
  config.errorControl = kServiceErrorCritical;
  // Quoted: the service control manager reads an unquoted path with a blank, such as one under
  // "C:\Program Files", as a shorter program with arguments and tries that first ("C:\Program"),
  // where a user who may write to the drive's root could have put one.
  const std::u16string imagePath = u"\"" + std::u16string(path, length) + u"\"";
  config.binaryPathName = imagePath.c_str();
  config.securityDescriptor = kServiceSecurity;
  const ScopedScHandle service(manager, manager.createService(scm.get(), config));
  if (!service) {
    report(env, EventType::Error, u"create service failed.");
    return 1;
  }
  report(env, EventType::Success, u"create service success.");
  // The outcome source's events show their sentence only through the message file beside the
  // executable. A failed registration leaves the install as it is: the events are still written,
  // and Event Viewer shows their strings without the sentence.
  const std::u16string executable(path, length);
  const std::u16string folder = executable.substr(0, executable.rfind(u'\\') + 1);
  manager.registerEventSource(kOutcomeSourceName, (folder + kMessageFileName).c_str());
  return 0;
}

int uninstallService(ServiceEnvironment& env) {
  ServiceManager& manager = env.manager;
  const ScopedScHandle scm(manager, manager.openManager(kScManagerConnect));
  if (!scm) {
    report(env, EventType::Error, u"open service control manager failed.");
    return 1;
  }
  const ScopedScHandle service(
      manager, manager.openService(scm.get(), kServiceName, kDeleteAccess | kServiceQueryStatus));
  if (!service) {
    report(env, EventType::Error, u"Open talvex windows update service failed.");
    return 1;
  }

  ServiceStatus status;
  if (!manager.queryStatus(service.get(), status)) {
    report(env, EventType::Error, u"query service status failed.");
    return 1;
  }
  if (status.dwCurrentState != kServiceStopped) {
    report(env, EventType::Error, u"service not stopped, can not delete this service.");
    return 1;
  }
  report(env, EventType::Warning, u"service stopped.");
  if (!manager.deleteService(service.get())) {
    report(env, EventType::Error, u"service delete failed.");
    return 1;
  }
  report(env, EventType::Success, u"service delete success.");
  return 0;
}

}  // namespace qwus
