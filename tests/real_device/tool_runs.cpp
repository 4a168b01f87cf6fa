// Running the tool as the engine's launcher does, and reading its output and its device's state:
// for the tests of the real tool on both builds.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/process.h"
#include "tests/fakes/stand_in_tool.h"
#include "tests/real_device/emulated_tool.h"

namespace qwus::testing {

std::string firmwareImage(std::uint16_t version, std::size_t size) {
  std::string image = {static_cast<char>(version & 0xFF), static_cast<char>(version >> 8)};
  while (image.size() < size) image += static_cast<char>('a' + image.size() % 26);
  image.resize(size);
  return image;
}

DeviceStateFile emulatedState(const std::filesystem::path& folder) {
  const auto file = emulatedStateFile(folder);
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  // Both transports write every key: a file they did not write whole must not read as the
  // defaults, which are the state most tests start from.
  const auto state = usbdevice::parseStateFile(text.str());
  if (in.is_open() && state && usbdevice::formatStateFile(*state) == text.str()) return *state;
  ADD_FAILURE() << "the device's state file " << file << " is missing or incomplete:\n"
                << text.str();
  DeviceStateFile unreadable;
  unreadable.mode = "(unreadable)";
  unreadable.version = "(unreadable)";
  return unreadable;
}

std::string runWithToolFrom(const std::filesystem::path& folder, Text commandLine) {
  const auto launcher = processLauncherIn(pathText(folder));
  auto pipe = launcher->createOutputPipe();
  if (pipe == nullptr || !launcher->startProcess(commandLine, *pipe)) return "(not started)";
  pipe->closeWriteEnd();
  std::string out;
  char buffer[4096];
  std::size_t n = 0;
  while (pipe->read(buffer, sizeof buffer, n)) out.append(buffer, n);
  return out;
}

std::string deviceLines(const std::string& output) {
  std::istringstream in(output);
  std::string lines;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Found ", 0) == 0) lines += line + "\n";
  }
  return lines;
}

}  // namespace qwus::testing
