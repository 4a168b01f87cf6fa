// Device events and the upgrade worker that each arrival starts.
#pragma once

#include <cstdint>

#include "platform/service_manager.h"
#include "service/service_context.h"

namespace qwus {

// Handles a SERVICE_CONTROL_DEVICEEVENT on the control handler's thread. For an arrival: waits
// 5 s, logs the interface class, keeps the interface path in devicePath (cut to 259 characters),
// logs whether it names an Orvale device and starts a worker, whatever it named. `event` may be
// null when the system sent no device-interface record.
void onDeviceEvent(ServiceContext& context, std::uint32_t eventType,
                   const DeviceInterfaceEvent* event);

// Handles, as arrivals, the interfaces of the watched class that were present before the device
// notification was registered: each is reported with its path and then handled as onDeviceEvent
// handles an arrival. Reports nothing when none is present; stops early once the service has
// been stopped. Runs on the service main thread after a successful initialisation.
void onPresentAtStart(ServiceContext& context);

// A worker's thread routine; `param` is the context's WorkerParam. Runs one upgrade run; when it
// counts as handled (anything but a detach), stops the service and deletes its registration.
// Returns 1 when the listing step failed, otherwise 0.
std::uint32_t upgradeWorker(void* param) noexcept;

}  // namespace qwus
