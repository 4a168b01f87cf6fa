// The executable's entry point: service mode, "install" and "uninstall".
#pragma once

#include "service/service_environment.h"

namespace qwus {

// How long the process waits, after the dispatcher has returned, for upgrade runs still under
// way. A run that another run's self-removal overtook is in its 50 s wait after a detach or a
// download at most, then reads the tool's output and may delete the registration: two minutes
// cover that with room for a tool still writing a large package. The tool has no time limit of
// its own, so a hung one would otherwise keep the process for ever; past the bound the process
// ends and that run's reports are lost.
inline constexpr std::chrono::milliseconds kRunWait{120000};
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
