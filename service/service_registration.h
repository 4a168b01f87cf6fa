// Creating and deleting the service's registration with the service control manager.
#pragma once

#include "service/service_environment.h"

namespace qwus {

// Registers the running executable as the auto-start, own-process service kServiceName with
// critical error control under LocalSystem. 0 on success, 1 on failure (each reported).
int installService(ServiceEnvironment& env);

// Deletes the registration if the service control manager sees the service stopped; never stops
// a running service. 0 on success, 1 on failure (each reported).
int uninstallService(ServiceEnvironment& env);

}  // namespace qwus
