// Creating and deleting the service's registration with the service control manager.
#pragma once

#include "service/service_environment.h"

namespace qwus {

// Who may do what with the service: SYSTEM everything the service control manager lets it do,
// the Administrators everything; interactive and service logons (the default's other two) only
// query its status and configuration. Unlike the default they may not interrogate it nor send it
// user-defined controls, each of which the service reports to the event log.
inline constexpr const char16_t* kServiceSecurity =
    u"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
    u"(A;;CCLCSWRC;;;IU)(A;;CCLCSWRC;;;SU)";

// Registers the running executable as the auto-start, own-process service kServiceName with
// critical error control under LocalSystem, with kServiceSecurity. 0 on success, 1 on failure
// (each reported).
int installService(ServiceEnvironment& env);

// Deletes the registration if the service control manager sees the service stopped; never stops
// a running service. 0 on success, 1 on failure (each reported).
int uninstallService(ServiceEnvironment& env);

}  // namespace qwus
