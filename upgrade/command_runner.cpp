// Running dfu-util.exe with its output on a pipe, and collecting that output.
#include <cstring>

#include "platform/ansi_text.h"
#include "upgrade/orvale_upgrade_process.h"

namespace qwus {
namespace {

// The read buffer; each read leaves its last byte zero, so a chunk is always a terminated string.
constexpr std::size_t kReadBufferSize = 4096;
constexpr std::uint32_t kDownloadWait = 50000;
constexpr std::uint32_t kReadPause = 100;

}  // namespace

int OrvaleUpgradeProcess::doCmd(Text& cmdline, OutputPipe& pipe) {
  reportFormatted(env_.events, EventType::Information, u"doCmd updev.mode %d cmdline is %s",
                  updev.mode, cmdline);
  toolStarted = env_.processes.startProcess(cmdline, pipe);
  if (!toolStarted) {
    reportFormatted(env_.events, EventType::Information, u"CreateProcess Failed!");
    return -1;
  }
  if (updev.mode == 1) {
    // A download: the device needs its time before its output is worth reading.
    reportFormatted(env_.events, EventType::Information, u"doCmd enter sleep");
    env_.clock.sleep(kDownloadWait);
    reportFormatted(env_.events, EventType::Information, u"doCmd end sleep");
  }
  return 0;
}

int OrvaleUpgradeProcess::handlePipeInfo(OutputPipe& pipe) {
  char buffer[kReadBufferSize] = {};
  Text strOutput;
  std::size_t bytesRead = 0;
  // A read fails once the tool has exited and every copy of the write end is closed.
  while (pipe.read(buffer, kReadBufferSize - 1, bytesRead)) {
    strOutput += ansiToText(buffer);
    std::memset(buffer, 0, sizeof buffer);
    env_.clock.sleep(kReadPause);
  }
  reportFormatted(env_.events, EventType::Information,
                  u"handlePipeInfo updev.mode %d strOutput= %s", updev.mode, strOutput);
  analyseBuffer(strOutput);
  toolOutput = std::move(strOutput);
  pipe.closeReadEnd();
  return 0;
}

}  // namespace qwus
