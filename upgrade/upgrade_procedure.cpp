// One upgrade run: list the devices, then list again, stop, detach or download.
#include <string>

#include "platform/command_line.h"
#include "upgrade/orvale_device.h"
#include "upgrade/orvale_upgrade_process.h"

namespace qwus {
namespace {

constexpr std::uint32_t kDetachWait = 50000;

// "-d" selects the device in runtime mode or in DFU mode: "c4e2:8351,c4e2:8352".
Text deviceSelection() {
  return Text(usbIdPair(orvaleRuntimeProductId).view()) + u"," +
         Text(usbIdPair(orvaleDfuProductId).view());
}

Text decimal(std::int32_t value) { return fromAscii(std::to_string(value)); }

// The serial number comes from the device: quoted where needed so that it reaches the tool as
// exactly one argument, whatever it holds.
Text serialArgument(const Text& sn) { return quoteArgument(sn); }

Text detachCommand(const DfuDeviceInfo& device) {
  return u"dfu-util.exe -d " + deviceSelection() + u" -S " + serialArgument(device.sn) +
         u" -c " + decimal(device.cfgId) + u" -e";
}

Text downloadCommand(const DfuDeviceInfo& device, const Text& directory, const Text& package) {
  return u"dfu-util.exe -d " + deviceSelection() + u" -S " + serialArgument(device.sn) +
         u" -D \"" + directory + package + u"\"";
}

void closeBothEnds(OutputPipe& pipe) {
  pipe.closeWriteEnd();
  pipe.closeReadEnd();
}

}  // namespace

int OrvaleUpgradeProcess::initDfuDevList() {
  if (initUpgradeInfo(env_.installDirectory) < 0) {
    reportFormatted(env_.events, EventType::Information, u"initUpgradeInfo Failed %s!",
                    env_.installDirectory);
    return kOutcomeNoPackage;
  }
  Text command = u"dfu-util.exe -l";
  const std::unique_ptr<OutputPipe> pipe = env_.processes.createOutputPipe();
  if (pipe == nullptr) {
    reportFormatted(env_.events, EventType::Information, u"CreatePipe Failed!");
    return kOutcomeFailed;
  }
  if (doCmd(command, *pipe) < 0) {
    closeBothEnds(*pipe);
    return kOutcomeFailed;
  }
  // The read loop can only end once this copy of the write end is gone too.
  pipe->closeWriteEnd();
  handlePipeInfo(*pipe);
  return kOutcomeListed;
}

int OrvaleUpgradeProcess::doUpgrade() {
  if (updev.mode == 2) {
    reportFormatted(env_.events, EventType::Information, u"updev.mode is  %d retry is %d",
                    updev.mode, retry ? 1 : 0);
    if (retry) {
      reportFormatted(env_.events, EventType::Error, u"Cannot init the device. Upgrade failed!");
      return kOutcomeFailed;
    }
    retry = true;
    initDfuDevList();
    return kOutcomeFailed;
  }
  if (!upgradeNeeded) {
    reportFormatted(env_.events, EventType::Information, u"return for latest build!");
    return kOutcomeUpToDate;
  }
  reportFormatted(env_.events, EventType::Information, u"starting doUpgrade ");
  env_.trace.write(updev.version + u" \n");

  const std::unique_ptr<OutputPipe> pipe = env_.processes.createOutputPipe();
  if (pipe == nullptr) {
    env_.trace.write(u"CreatePipe Failed!\n");
    return kOutcomeFailed;
  }
  if (updev.mode == 0) {
    doDevDetach(updev);
    // The detach used a pipe of its own; this one was never needed.
    closeBothEnds(*pipe);
    updev.mode = 1;
    return kOutcomeDetached;
  }

  Text command = downloadCommand(updev, env_.installDirectory, packageName);
  reportFormatted(env_.events, EventType::Information, u"cmdline is %s", command);
  if (doCmd(command, *pipe) < 0) {
    closeBothEnds(*pipe);
    return kOutcomeToolNotStarted;
  }
  pipe->closeWriteEnd();
  handlePipeInfo(*pipe);
  return kOutcomeToolRan;
}

// The record is a copy on purpose: the detach's output is parsed into updev while it runs.
// cppcheck-suppress passedByValue ; a copy on purpose, see above
int OrvaleUpgradeProcess::doDevDetach(DfuDeviceInfo device) {  // NOLINT(performance-unnecessary-value-param): a copy on purpose
  reportFormatted(env_.events, EventType::Information, u"enter doDevDetach ");
  const std::unique_ptr<OutputPipe> pipe = env_.processes.createOutputPipe();
  if (pipe == nullptr) {
    reportFormatted(env_.events, EventType::Information, u"CreatePipe Failed!");
    return kOutcomeFailed;
  }
  Text command = detachCommand(device);
  reportFormatted(env_.events, EventType::Information, u"cmdline is %s", command);
  if (doCmd(command, *pipe) < 0) {
    closeBothEnds(*pipe);
    return kOutcomeToolNotStarted;
  }
  // The device leaves and comes back in DFU mode meanwhile; its output is read afterwards.
  env_.clock.sleep(kDetachWait);
  pipe->closeWriteEnd();
  handlePipeInfo(*pipe);
  return kOutcomeToolRan;
}

}  // namespace qwus
