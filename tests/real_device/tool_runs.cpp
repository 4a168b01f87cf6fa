// Running the tool as the engine's launcher does, and reading its output: for the tests of the real
// tool on both builds.
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

std::string runWithToolFrom(const std::filesystem::path& folder, Text commandLine) {
  SearchPathPrefix path(folder);
  ProcessLauncher& launcher = systemProcessLauncher();
  auto pipe = launcher.createOutputPipe();
  if (pipe == nullptr || !launcher.startProcess(commandLine, *pipe)) return "(not started)";
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
