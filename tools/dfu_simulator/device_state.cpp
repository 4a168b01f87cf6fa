// Reading and writing the simulated device's state file.
#include "tools/dfu_simulator/device_state.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qwus::simulator {

std::string formatState(const DeviceState& state) {
  std::ostringstream out;
  out << "mode=" << state.mode << '\n'
      << "version=" << state.version << '\n'
      << "dfu_version=" << state.dfuVersion << '\n'
      << "serial=" << state.serial << '\n'
      << "cfg=" << state.cfg << '\n'
      << "present=" << (state.present ? 1 : 0) << '\n'
      << "alt_settings=" << state.altSettings << '\n'
      << "misbehave=" << state.misbehave << '\n'
      << "hang_ms=" << state.hangMs << '\n'
      << "slow_ms=" << state.slowMs << '\n'
      << "huge_bytes=" << state.hugeBytes << '\n';
  return out.str();
}

DeviceState parseState(std::string_view text) {
  DeviceState state;
  while (!text.empty()) {
    auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string key(line.substr(0, equals));
    const std::string value(line.substr(equals + 1));
    const auto number = [&value] { return std::strtol(value.c_str(), nullptr, 10); };
    if (key == "mode") state.mode = value;
    else if (key == "version") state.version = value;
    else if (key == "dfu_version") state.dfuVersion = value;
    else if (key == "serial") state.serial = value;
    else if (key == "cfg") state.cfg = static_cast<int>(number());
    else if (key == "present") state.present = number() != 0;
    else if (key == "alt_settings") state.altSettings = static_cast<int>(number());
    else if (key == "misbehave") state.misbehave = value;
    else if (key == "hang_ms") state.hangMs = static_cast<int>(number());
    else if (key == "slow_ms") state.slowMs = static_cast<int>(number());
    else if (key == "huge_bytes") state.hugeBytes = number();
  }
  return state;
}

std::filesystem::path stateFile(const std::filesystem::path& folder) {
  return folder / "dfu-util.state";
}

std::filesystem::path logFile(const std::filesystem::path& folder) {
  return folder / "dfu-util.log";
}

bool loadState(const std::filesystem::path& file, DeviceState& state) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  state = parseState(text.str());
  return true;
}

bool saveState(const std::filesystem::path& file, const DeviceState& state) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << formatState(state);
  return static_cast<bool>(out.flush());
}

}  // namespace qwus::simulator
