// Device events and the upgrade worker.
#include "service/device_arrival.h"

#include "platform/text.h"
#include "service/service_control.h"
#include "service/service_registration.h"
#include "upgrade/orvale_device.h"
#include "upgrade/orvale_upgrade_process.h"
#include "upgrade/upgrade_outcome.h"

namespace qwus {
namespace {

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
  reportFormatted(env.events, EventType::Information,
                  u"device event: device arrival, waiting for 5 seconds...");
  env.clock.sleep(5000);

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
  env.threads.start(&upgradeWorker, &context.workerParam, threadId);
  context.workerThreadId = threadId;
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

// noexcept: the only exception the engine can raise is a failed allocation, which ends the
// process here instead of unwinding into the system's thread start.
std::uint32_t upgradeWorker(void* rawParam) noexcept {
  auto& param = *static_cast<WorkerParam*>(rawParam);
  ServiceContext& context = *param.service.load();
  ServiceEnvironment& env = context.environment;

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

  // Counted before the service is reported stopped, so that the process, which may end as soon
  // as it is, knows to wait for the registration's removal.
  env.selfRemovals.begin();
  reportFormatted(env.events, EventType::Warning, u"arrival device handled completely.");
  onStop(*param.service.load());
  uninstallService(env);
  env.selfRemovals.end();
  return 0;
}

}  // namespace qwus
