// The device simulator in a test's own folder: installing it as dfu-util.exe with a chosen device
// state, reading the state and the command lines it received, and putting its folder on PATH.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/fakes/temporary_directory.h"
#include "tools/dfu_simulator/device_state.h"

namespace qwus::testing {

using simulator::DeviceState;

// Copies the simulator into `folder` (created when missing) as dfu-util.exe, writes `state` as its
// device (a failed write fails the test) and removes any log of an earlier run.
void installSimulator(const std::filesystem::path& folder, const DeviceState& state = {});

// The device state the simulator in `folder` left behind. A missing or incomplete state file
// fails the running test and reads as mode and versions "(unreadable)".
DeviceState simulatorState(const std::filesystem::path& folder);

// The command lines the simulator in `folder` received, oldest first, as UTF-8.
std::vector<std::string> simulatorLog(const std::filesystem::path& folder);

// `path` as the text a command line holds (the native form of this platform).
Text pathText(const std::filesystem::path& path);

// Puts `folder` first on this process's PATH, which started programs are looked up in; the old
// PATH comes back on destruction.
class SearchPathPrefix {
 public:
  explicit SearchPathPrefix(const std::filesystem::path& folder);
  ~SearchPathPrefix();
  SearchPathPrefix(const SearchPathPrefix&) = delete;
  SearchPathPrefix& operator=(const SearchPathPrefix&) = delete;

 private:
  Text old_;
  bool hadOld_ = false;
};

}  // namespace qwus::testing
