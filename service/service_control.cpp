// Service main routine, status publishing, stop and the control handler.
#include "service/service_control.h"

#include <new>

#include "service/device_arrival.h"

namespace qwus {
namespace {

void report(ServiceContext& context, EventType type, const char16_t* text) {
  reportFormatted(context.environment.events, type, text);
}

// Publishes `state`; the caller holds statusMutex.
void publish(ServiceContext& context, std::uint32_t state) {
  context.status.dwCurrentState = state;
  context.environment.manager.setStatus(context.statusHandle, context.status);
}

}  // namespace

void serviceMain(ServiceEnvironment& env, std::uint32_t /*argumentCount*/,
                 char16_t** /*arguments*/) {
  reportFormatted(env.events, EventType::Information, u"enter service main function.");
  // No exception may leave a routine the system calls: a context that cannot be had is an
  // initialisation failure.
  auto* context = new (std::nothrow) ServiceContext(env);
  const int result = context != nullptr ? initializeService(*context) : 1;
  if (result == 0) {
    reportFormatted(env.events, EventType::Success, u"initialize service success.");
    // Nothing announces a device that was attached before the notification was registered.
    onPresentAtStart(*context);
  } else {
    reportFormatted(env.events, EventType::Error, u"initialize service failed.");
  }
}

int initializeService(ServiceContext& context) {
  report(context, EventType::Information, u"enter initialize service function.");
  {
    std::lock_guard lock(context.statusMutex);
    context.status = ServiceStatus{};
    context.status.dwServiceType = kServiceWin32;
    context.status.dwCurrentState = kServiceStopped;
  }

  ServiceManager& manager = context.environment.manager;
  context.statusHandle = manager.registerControlHandler(kServiceName, &serviceControlHandler,
                                                        &context);
  if (context.statusHandle == nullptr) {
    report(context, EventType::Error, u"register service control handler failed.");
    return 1;
  }
  report(context, EventType::Information, u"register service control handler success.");

  registerStart(context);

  const NotifyHandle notify =
      manager.registerDeviceNotification(context.statusHandle, watchedInterfaceClass);
  {
    std::lock_guard lock(context.statusMutex);
    context.deviceNotify = notify;
  }
  if (notify == nullptr) {
    report(context, EventType::Error, u"register device notification failed.");
    return 1;
  }
  report(context, EventType::Success, u"register device notification success.");
  return 0;
}

int registerStart(ServiceContext& context) {
  report(context, EventType::Information, u"enter registerStart function.");
  std::lock_guard lock(context.statusMutex);
  publish(context, kServiceStartPending);
  context.status.dwControlsAccepted |= kServiceAcceptStop | kServiceAcceptShutdown;
  publish(context, kServiceRunning);
  return 0;
}

int onStop(ServiceContext& context) {
  report(context, EventType::Information, u"enter onStop function.");
  std::lock_guard lock(context.statusMutex);
  if (context.stopped) return 0;
  publish(context, kServiceStopPending);
  if (context.deviceNotify != nullptr) {
    report(context, EventType::Information, u"unregister device notification.");
    context.environment.manager.unregisterDeviceNotification(context.deviceNotify);
    // Cleared so that a second onStop, from a worker or a later request, cannot give the same
    // notification back twice.
    context.deviceNotify = nullptr;
  }
  publish(context, kServiceStopped);
  context.stopped = true;
  return 0;
}

std::uint32_t serviceControlHandler(std::uint32_t control, std::uint32_t eventType,
                                    void* eventData, void* rawContext) {
  ServiceContext& context = *static_cast<ServiceContext*>(rawContext);
  context.environment.controls.begin();
  switch (control) {
    case kServiceControlStop:
      report(context, EventType::Information, u"control code: SERVICE_CONTROL_STOP.");
      onStop(context);
      report(context, EventType::Information, u"service control stop success.");
      break;
    case kServiceControlPause:
      report(context, EventType::Information, u"control code: SERVICE_CONTROL_PAUSE.");
      break;
    case kServiceControlContinue:
      report(context, EventType::Information, u"control code: SERVICE_CONTROL_CONTINUE.");
      break;
    case kServiceControlInterrogate:
      report(context, EventType::Information, u"control code: SERVICE_CONTROL_INTERROGATE.");
      break;
    case kServiceControlShutdown:
      report(context, EventType::Information, u"control code: SERVICE_CONTROL_SHUTDOWN.");
      onStop(context);
      report(context, EventType::Information, u"service control stop success.");
      break;
    case kServiceControlDeviceEvent:
      onDeviceEvent(context, eventType, static_cast<const DeviceInterfaceEvent*>(eventData));
      break;
    default:
      break;
  }
  context.environment.controls.end();
  return kNoError;
}

}  // namespace qwus
