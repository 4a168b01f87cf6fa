// QuorlanWindowsUpdateService.exe: wires the service host to the running system.
#include "eventlog/event_source.h"
#include "platform/clock.h"
#include "platform/dll_search.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/service_manager.h"
#include "platform/standard_output.h"
#include "platform/thread.h"
#include "service/entry_point.h"

namespace {

// First of all, before anything that may load a DLL: the process runs as LocalSystem from a folder
// it does not own, so no DLL is ever taken from there, the current folder or the PATH. A system
// that refuses leaves the default search, which the process cannot improve on.
// NOLINTNEXTLINE(cert-err58-cpp): a function of the platform layer that throws nothing
[[maybe_unused]] const bool gDllSearchRestricted = qwus::restrictDllSearchToSystem();

// Both event sources are registered while the process's objects are initialised, before main
// runs. They are never destroyed: workers may still report while the process ends.
// NOLINTNEXTLINE(cert-err58-cpp): out of memory before main can only end the process, as it does
qwus::ProcessEventSources& gEventSources = *new qwus::ProcessEventSources(qwus::systemEventLog());

}  // namespace

int main(int argc, char** argv) {
  using namespace qwus;
  auto* env = new ServiceEnvironment{
      gEventSources.service,
      gEventSources.outcome,
      systemServiceManager(),
      systemThreads(),
      systemClock(),
      // The packages come from the executable's own folder wherever the product was installed:
      // the folder only administrators may write to.
      UpgradeEnvironment{gEventSources.engine, systemFileSystem(), systemProcessLauncher(),
                         systemClock(), standardOutput(), installDirectoryFor(executableFolder())},
      {},
      {}};
  return serviceEntryPoint(argc, argv, *env);
}
