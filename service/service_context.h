// The service's one state object, shared by the control handler and the upgrade workers.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/service_manager.h"
#include "service/service_environment.h"

namespace qwus {

struct ServiceContext;

// What each upgrade worker receives. Every arrival writes it again with the same values while
// earlier workers may still read it, hence the atomics.
struct WorkerParam {
  std::atomic<bool> forceUpgrade{false};
  std::atomic<ServiceContext*> service{nullptr};
};

// Length of devicePath, terminator included.
inline constexpr std::size_t kDevicePathLength = 260;

// Created by serviceMain and never freed: the service control manager and running workers keep
// pointers to it until the process ends.
struct ServiceContext {
  explicit ServiceContext(ServiceEnvironment& env) : environment(env) {}

  ServiceStatus status;
  StatusHandle statusHandle = nullptr;
  NotifyHandle deviceNotify = nullptr;
  // SERVICE_STOPPED has been published: the status handle is not used again, since the process
  // may be ended at any moment and the manager must keep seeing the service stopped.
  bool stopped = false;
  char16_t devicePath[kDevicePathLength] = {};
  // The last worker's id. Its thread handle is released as soon as it has started.
  std::uint32_t workerThreadId = 0;
  WorkerParam workerParam;

  ServiceEnvironment& environment;
  // Serializes arrivals: those the control handler receives and those found present at start,
  // which the service main thread handles, share devicePath and workerParam.
  std::mutex arrivalMutex;
  // Serializes the status record and deviceNotify between the handler, the service main thread
  // and workers: onStop can run on two threads at once.
  std::mutex statusMutex;
};

}  // namespace qwus
