// Device events and the upgrade worker.
#include "service/device_arrival.h"

#include <vector>

#include "platform/text.h"
#include "service/service_control.h"
#include "service/service_registration.h"
#include "upgrade/orvale_device.h"
#include "upgrade/orvale_upgrade_process.h"
#include "upgrade/upgrade_outcome.h"

namespace qwus {
namespace {

// How long an arrival waits before its run starts: Windows announces the interface as soon as its
// driver is bound, and the wait gives the device time to settle before the tool opens it. The
// event that announces the wait says it in seconds.
constexpr std::uint32_t kArrivalWait = 5000;

// Copies `name` into devicePath; a path that does not fit keeps its first 259 characters.
void keepDevicePath(ServiceContext& context, const char16_t* name) {
  std::size_t length = 0;
  if (name != nullptr) {
    while (length < kDevicePathLength - 1 && name[length] != u'\0') {
      context.devicePath[length] = name[length];
      ++length;
    }
  }
  context.devicePath[length] = u'\0';
}

void onArrival(ServiceContext& context, const DeviceInterfaceEvent* event) {
  ServiceEnvironment& env = context.environment;
  const std::lock_guard lock(context.arrivalMutex);
  reportFormatted(env.events, EventType::Information,
                  u"device event: device arrival, waiting for 5 seconds...");
  env.clock.sleep(kArrivalWait);

  const Guid guid = event != nullptr ? event->classGuid : Guid{};
  reportFormatted(env.events, EventType::Information,
                  u"Guid = {%08lX-%04hX-%04hX-%02hhX%02hhX-%02hhX%02hhX%02hhX%02hhX%02hhX%02hhX}",
                  guid.data1, guid.data2, guid.data3, guid.data4[0], guid.data4[1], guid.data4[2],
                  guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);

  keepDevicePath(context, event != nullptr ? event->name : nullptr);
  const TextView path(context.devicePath);
  if (contains(path, productIdInPath(orvaleRuntimeProductId).view()) ||
      contains(path, productIdInPath(orvaleDfuProductId).view())) {
    reportFormatted(env.events, EventType::Warning, u"arrival device is Quorlan Orvale.");
  } else {
    reportFormatted(env.events, EventType::Error, u"arrival device is not Quorlan Orvale.");
  }

  context.workerParam.forceUpgrade = false;
  context.workerParam.service = &context;
  std::uint32_t threadId = 0;
  // Counted before the thread exists, so that a stop on another thread cannot end the process
  // between the start and the worker's first step.
  env.runs.begin();
  if (!env.threads.start(&upgradeWorker, &context.workerParam, threadId)) env.runs.end();
  context.workerThreadId = threadId;
}

// A present interface's path as an arrival record names it. SetupAPI gives the whole path in
// lower case; Windows' arrival records give the device's part (bus, ids, instance) in upper case
// and the class GUID in lower case, and the Orvale check reads the product id case-sensitively.
Text arrivalFormOf(const Text& listedPath) {
  Text path = listedPath;
  const std::size_t classStart = path.rfind(u'#');
  if (classStart == Text::npos) return path;
  for (std::size_t i = 0; i < classStart; ++i) {
    if (path[i] >= u'a' && path[i] <= u'z') path[i] = static_cast<char16_t>(path[i] - u'a' + u'A');
  }
  return path;
}

bool serviceStopped(ServiceContext& context) {
  const std::lock_guard lock(context.statusMutex);
  return context.stopped;
}

// One upgrade run on the worker's thread; returns the worker's exit code.
std::uint32_t runUpgrade(WorkerParam& param, ServiceEnvironment& env) {
  OrvaleUpgradeProcess process(env.engine);
  process.forceUpgrade = param.forceUpgrade.load();
  if (process.initDfuDevList() != kOutcomeListed) {
    reportFormatted(env.events, EventType::Warning, u"OrvaleUpgradeProcess.initDfuDevList failed!");
    return 1;
  }
  const int result = process.doUpgrade();
  // Every run that got past its listing ends in one outcome event, the detach included.
  reportOutcome(env.outcomes, result, process);
  if (result == kOutcomeDetached) return 0;

  reportFormatted(env.events, EventType::Warning, u"arrival device handled completely.");
  onStop(*param.service.load());
  uninstallService(env);
  return 0;
}

}  // namespace

void onDeviceEvent(ServiceContext& context, std::uint32_t eventType,
                   const DeviceInterfaceEvent* event) {
  EventSource& events = context.environment.events;
  reportFormatted(events, EventType::Information, u"control code: SERVICE_CONTROL_DEVICEEVENT.");
  reportFormatted(events, EventType::Information, u"dwEventType: %d", eventType);
  if (eventType == kDbtDeviceArrival) {
    onArrival(context, event);
  } else if (eventType == kDbtDeviceRemoveComplete) {
    reportEvent(events, EventType::Information, u"device remove");
  } else {
    reportEvent(events, EventType::Information, u"device event others");
  }
}

void onPresentAtStart(ServiceContext& context) {
  ServiceEnvironment& env = context.environment;
  std::vector<Text> paths;
  std::uint32_t error = 0;
  if (!env.manager.presentDeviceInterfaces(watchedInterfaceClass, paths, error)) {
    reportFormatted(env.events, EventType::Warning,
                    u"finding present device interfaces failed, GetLastErrorCode: %d",
                    static_cast<std::int32_t>(error));
    return;
  }
  for (const Text& path : paths) {
    // A run handled before this one may have stopped the service already: its device is done.
    if (serviceStopped(context)) return;
    reportFormatted(env.events, EventType::Information,
                    u"device interface present at start: %s", path.c_str());
    const Text name = arrivalFormOf(path);
    const DeviceInterfaceEvent event{watchedInterfaceClass, name.c_str()};
    onArrival(context, &event);
  }
}

// noexcept: the only exception the engine can raise is a failed allocation, which ends the
// process here instead of unwinding into the system's thread start.
std::uint32_t upgradeWorker(void* rawParam) noexcept {
  auto& param = *static_cast<WorkerParam*>(rawParam);
  ServiceEnvironment& env = param.service.load()->environment;
  const std::uint32_t exitCode = runUpgrade(param, env);
  // The engine object is gone and every report made: the process may end from here on.
  env.runs.end();
  return exitCode;
}

}  // namespace qwus
