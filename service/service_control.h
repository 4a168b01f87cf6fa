// Service main routine, initialisation, status publishing, stop and the control handler.
#pragma once

#include <cstdint>

#include "service/service_context.h"
#include "upgrade/orvale_device.h"

namespace qwus {

// The interface class whose arrivals the service watches: the Orvale device's.
inline constexpr Guid watchedInterfaceClass = orvaleInterfaceClass;

// The dispatcher's main routine: creates the ServiceContext (never freed) and initialises it.
// Start arguments are ignored. Returns once initialisation is over.
void serviceMain(ServiceEnvironment& env, std::uint32_t argumentCount, char16_t** arguments);

// Fills the status record, registers the control handler, publishes the running service and
// registers for device-interface notifications. 0 on success, 1 on failure.
int initializeService(ServiceContext& context);

// Publishes SERVICE_START_PENDING, then SERVICE_RUNNING accepting stop and shutdown. Returns 0.
int registerStart(ServiceContext& context);

// Publishes SERVICE_STOP_PENDING, gives the device notification back and publishes
// SERVICE_STOPPED. Only the first call does so; later ones, once the service is reported
// stopped, only report that they were entered. Safe on several threads at once. Returns 0.
int onStop(ServiceContext& context);

// The HandlerEx callback; `context` is the ServiceContext. Always returns NO_ERROR.
std::uint32_t serviceControlHandler(std::uint32_t control, std::uint32_t eventType,
                                    void* eventData, void* context);

}  // namespace qwus
