// Starting threads that nobody joins.
#pragma once

#include <cstdint>

namespace qwus {

using ThreadRoutine = std::uint32_t (*)(void* parameter);

class ThreadLauncher {
 public:
  virtual ~ThreadLauncher() = default;

  // Starts a thread running `routine(parameter)` at once, with default security and stack size
  // (CreateThread). Nothing can wait for it: its handle is released as soon as it has started.
  // Returns false when no thread could be started; otherwise stores its id in `threadId`.
  virtual bool start(ThreadRoutine routine, void* parameter, std::uint32_t& threadId) = 0;
};

// The running system's threads. Never destroyed: threads may still use it while the process ends.
ThreadLauncher& systemThreads();

}  // namespace qwus
