// The whole-service rig over fakes.
#include "tests/reliability/service_rig.h"

#include <map>

#include "service/service_control.h"

namespace qwus::testing {

std::string packageBytes(std::uint16_t version) {
  const char suffix[16] = {static_cast<char>(version & 0xFF), static_cast<char>(version >> 8),
                           0x51, static_cast<char>(0x83), static_cast<char>(0xE2),
                           static_cast<char>(0xC4), 0x1A, 0x01, 'U', 'F', 'D', 16, 0, 0, 0, 0};
  return "image" + std::string(suffix, sizeof suffix);
}

std::string listingOf(const char* state, const char* version) {
  const std::string product = std::string(state) == "DFU" ? "8352" : "8351";
  return std::string("dfu-util 0.11\r\n\r\nFound ") + state + ": [c4e2:" + product + "] ver=" +
         version + ", devnum=7, cfg=1, intf=0, path=\"1-1\", alt=0, name=\"Orvale\", "
         "serial=\"A7X2249\"\r\n";
}

ServiceRig::ServiceRig(ThreadLauncher& threads) : threads_(threads) {
  manager.addRegistration(kServiceName, kServiceStopped);
  files.addFile(Text(kRigDirectory) + u"orvale-0102.dfu", packageBytes(0x0102));
}

void ServiceRig::build() {
  sources.emplace(log);
  env.reset(new ServiceEnvironment{
      sources->service, sources->outcome, manager, threads_, clock,
      UpgradeEnvironment{sources->engine, files, processes, clock, trace, kRigDirectory}, {}, {}});
}

ServiceContext& ServiceRig::startService() {
  contexts_.push_back(std::make_unique<ServiceContext>(*env));
  initializeService(*contexts_.back());
  return *contexts_.back();
}

void ServiceRig::arrive() {
  const std::u16string path = u"\\\\?\\USB#VID_C4E2&PID_8351#A7X2249";
  DeviceInterfaceEvent event{watchedInterfaceClass, path.c_str()};
  manager.sendControl(kServiceControlDeviceEvent, kDbtDeviceArrival, &event);
}

void ServiceRig::expectNothingLostOrLeftOpen() const {
  std::map<std::u16string, std::uint32_t> next = {{kServiceSourceName, kServiceFirstEventId},
                                                  {kEngineSourceName, kEngineFirstEventId}};
  for (const RecordedEvent& event : log.events()) {
    // The outcome source's ids name outcomes; they do not count.
    if (event.source == kOutcomeSourceName) continue;
    EXPECT_EQ(event.id, next[event.source]++) << "gap or repeat on a source at a report";
  }
  EXPECT_EQ(processes.openPipeEnds(), 0u);
  EXPECT_EQ(files.openFiles(), 0);
  EXPECT_EQ(manager.openHandles(), 0u);
}

bool ServiceRig::reported(EventType type, const std::u16string& text) const {
  for (const RecordedEvent& event : log.events()) {
    if (event.type == type && event.text == text) return true;
  }
  return false;
}

}  // namespace qwus::testing
