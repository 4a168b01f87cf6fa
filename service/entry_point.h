// The executable's entry point: service mode, "install" and "uninstall".
#pragma once

#include "service/service_environment.h"

namespace qwus {

// How long the process waits, after the dispatcher has returned, for a worker that is still
// deleting the service's registration.
inline constexpr std::chrono::milliseconds kSelfRemovalWait{30000};
// How long the dispatcher's return waits for a control handler call still under way.
inline constexpr std::chrono::milliseconds kControlWait{30000};

// Runs the command line `argv` (argc entries, the executable's name first): no argument runs the
// service, "install" and "uninstall" register and delete it, anything else is a bad parameter.
// Returns the exit status: 0, or -1 on failure.
int serviceEntryPoint(int argc, const char* const* argv, ServiceEnvironment& env);

// Runs the service dispatcher on the calling thread until the service has stopped, and reports
// how that went.
void runServiceDispatcher(ServiceEnvironment& env);

}  // namespace qwus
