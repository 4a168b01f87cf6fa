// Installing and inspecting the device simulator for tests.
#include "tests/fakes/simulated_device.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#include <unistd.h>
#endif

namespace qwus::testing {
namespace {

// The simulator as this build made it. Under Wine the build's own paths are on drive Z:.
std::filesystem::path builtSimulator() {
  std::string path = QWUS_DFU_SIMULATOR;
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') {
    path = "Z:" + path;
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
  }
#endif
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

}  // namespace

void installSimulator(const std::filesystem::path& folder, const DeviceState& state) {
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(builtSimulator(), folder / "dfu-util.exe",
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_TRUE(simulator::saveState(simulator::stateFile(folder), state))
      << "cannot write " << simulator::stateFile(folder);
  std::error_code ignored;
  std::filesystem::remove(simulator::logFile(folder), ignored);
}

DeviceState simulatorState(const std::filesystem::path& folder) {
  const auto file = simulator::stateFile(folder);
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  // The simulator and installSimulator write every key: a file that is not whole must not read as
  // the defaults, which are the state most tests start from.
  const DeviceState state = simulator::parseState(text.str());
  if (in.is_open() && simulator::formatState(state) == text.str()) return state;
  ADD_FAILURE() << "the simulator's state file " << file << " is missing or incomplete:\n"
                << text.str();
  DeviceState unreadable;
  unreadable.mode = "(unreadable)";
  unreadable.version = "(unreadable)";
  unreadable.dfuVersion = "(unreadable)";
  return unreadable;
}

std::vector<std::string> simulatorLog(const std::filesystem::path& folder) {
  std::ifstream in(simulator::logFile(folder), std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Text pathText(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::wstring wide = path.wstring();
  return Text(wide.begin(), wide.end());
#else
  const std::u8string utf8 = path.u8string();
  return fromUtf8(std::string(utf8.begin(), utf8.end()));
#endif
}

#ifdef _WIN32

SearchPathPrefix::SearchPathPrefix(const std::filesystem::path& folder) {
  std::wstring old(32768, L'\0');
  const DWORD n = GetEnvironmentVariableW(L"PATH", old.data(), static_cast<DWORD>(old.size()));
  hadOld_ = n > 0;
  old.resize(n);
  old_.assign(old.begin(), old.end());
  const std::wstring path = folder.wstring() + (hadOld_ ? L";" + old : L"");
  SetEnvironmentVariableW(L"PATH", path.c_str());
}

SearchPathPrefix::~SearchPathPrefix() {
  const std::wstring old(old_.begin(), old_.end());
  SetEnvironmentVariableW(L"PATH", hadOld_ ? old.c_str() : nullptr);
}

#else

SearchPathPrefix::SearchPathPrefix(const std::filesystem::path& folder) {
  const char* old = std::getenv("PATH");
  hadOld_ = old != nullptr;
  if (hadOld_) old_ = fromUtf8(old);
  const std::string path = folder.string() + (hadOld_ ? ":" + std::string(old) : "");
  setenv("PATH", path.c_str(), 1);
}

SearchPathPrefix::~SearchPathPrefix() {
  if (hadOld_) {
    setenv("PATH", toUtf8(old_).c_str(), 1);
  } else {
    unsetenv("PATH");
  }
}

#endif

}  // namespace qwus::testing
