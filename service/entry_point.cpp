// The entry point's command-line table and the service dispatcher.
#include "service/entry_point.h"

#include <cstring>

#include "service/service_control.h"
#include "service/service_registration.h"

namespace qwus {
namespace {

void runServiceMain(void* env, std::uint32_t argumentCount, char16_t** arguments) {
  serviceMain(*static_cast<ServiceEnvironment*>(env), argumentCount, arguments);
}

}  // namespace

void runServiceDispatcher(ServiceEnvironment& env) {
  if (env.manager.runDispatcher(kServiceName, &runServiceMain, &env)) {
    // The stop that ended the dispatcher finishes its own reports first, as it does when the
    // handler runs on this thread.
    env.controls.waitUntilDone(kControlWait);
    reportFormatted(env.events, EventType::Success, u"run service success");
  } else {
    const auto error = static_cast<std::int32_t>(env.manager.lastError());
    reportFormatted(env.events, EventType::Error,
                    u"start service control dispatcher failed, GetLastErrorCode: %d", error);
  }
}

int serviceEntryPoint(int argc, const char* const* argv, ServiceEnvironment& env) {
  if (argc <= 1) {
    reportFormatted(env.events, EventType::Warning, u"run talvex windows update normally.");
    runServiceDispatcher(env);
    // Runs may still be under way: one deleting the registration of the service that has just
    // stopped, others in their wait after a detach or a download that the device's return
    // overtook. The service control manager already sees the service stopped.
    env.runs.waitUntilDone(env.exitClock != nullptr ? *env.exitClock : env.clock, kRunWait);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "install") == 0) {
    reportFormatted(env.events, EventType::Warning, u"service start install.");
    if (installService(env) == 0) {
      reportFormatted(env.events, EventType::Success, u"service install success.");
      return 0;
    }
    reportFormatted(env.events, EventType::Error, u"service install failed.");
    return -1;
  }
  if (argc == 2 && std::strcmp(argv[1], "uninstall") == 0) {
    if (uninstallService(env) == 0) {
      // Only the command removes the outcome source: after its self-removal the service's
      // outcome events stay readable with their sentences.
      env.manager.unregisterEventSource(kOutcomeSourceName);
      reportFormatted(env.events, EventType::Success, u"service uninstall success.");
      return 0;
    }
    reportFormatted(env.events, EventType::Error, u"service uninstall failed.");
    return -1;
  }
  reportFormatted(env.events, EventType::Error, u"service start with bad parameters.");
  return -1;
}

}  // namespace qwus
