// Reading and writing the emulated device's state file.
#include "tools/orvale_usb_device/state_file.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace qwus::usbdevice {
namespace {

bool parseInt(const std::string& text, int& out) {
  const auto end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, out);
  return result.ec == std::errc() && result.ptr == end && out >= 0;
}

bool parseFlag(const std::string& text, bool& out) {
  if (text != "0" && text != "1") return false;
  out = text == "1";
  return true;
}

}  // namespace

std::string formatStateFile(const DeviceStateFile& s) {
  std::ostringstream out;
  out << "mode=" << s.mode << '\n'
      << "version=" << s.version << '\n'
      << "serial=" << s.serial << '\n'
      << "dfu_serial=" << s.dfuSerial << '\n'
      << "alt_settings=" << s.altSettings << '\n'
      << "configuration=" << s.configuration << '\n'
      << "dfu_version=" << s.dfuVersion << '\n'
      << "runtime_interfaces=" << s.runtimeInterfaces << '\n'
      << "ms_os_subsets=" << (s.msOsSubsets ? 1 : 0) << '\n'
      << "absent_runs=" << s.absentRuns << '\n'
      << "absent_after_detach=" << s.absentAfterDetach << '\n'
      << "detach=" << (s.detachNeedsReset ? "reset" : "self") << '\n'
      << "manifest=" << (s.manifestWaitsForReset ? "wait-reset" : "self") << '\n'
      << "ms_os_descriptors=" << (s.msOs10 ? "1.0" : s.msOsDescriptors ? "1" : "0") << '\n'
      << "download_error=" << (s.downloadError ? 1 : 0) << '\n'
      << "access=" << (s.accessDenied ? "denied" : "granted") << '\n'
      << "other_device=" << (s.otherDevice ? 1 : 0) << '\n';
  return out.str();
}

std::optional<DeviceStateFile> parseStateFile(std::string_view text) {
  DeviceStateFile s;
  bool ok = true;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string key(line.substr(0, equals));
    const std::string value(line.substr(equals + 1));
    if (key == "mode") {
      ok &= value == "runtime" || value == "dfu";
      s.mode = value;
    } else if (key == "version") {
      ok &= parseVersion(value).has_value();
      s.version = value;
    } else if (key == "serial") {
      s.serial = value;
    } else if (key == "dfu_serial") {
      s.dfuSerial = value;
    } else if (key == "alt_settings") {
      ok &= parseInt(value, s.altSettings) && s.altSettings >= 1 && s.altSettings <= 8;
    } else if (key == "configuration") {
      ok &= parseInt(value, s.configuration) && s.configuration >= 1 && s.configuration <= 255;
    } else if (key == "dfu_version") {
      ok &= value.empty() || parseVersion(value).has_value();
      s.dfuVersion = value;
    } else if (key == "runtime_interfaces") {
      ok &= parseInt(value, s.runtimeInterfaces) && s.runtimeInterfaces >= 1 &&
            s.runtimeInterfaces <= 2;
    } else if (key == "ms_os_subsets") {
      ok &= parseFlag(value, s.msOsSubsets);
    } else if (key == "absent_runs") {
      ok &= parseInt(value, s.absentRuns);
    } else if (key == "absent_after_detach") {
      ok &= parseInt(value, s.absentAfterDetach);
    } else if (key == "detach") {
      ok &= value == "self" || value == "reset";
      s.detachNeedsReset = value == "reset";
    } else if (key == "manifest") {
      ok &= value == "self" || value == "wait-reset";
      s.manifestWaitsForReset = value == "wait-reset";
    } else if (key == "ms_os_descriptors") {
      s.msOs10 = value == "1.0";
      if (s.msOs10) {
        s.msOsDescriptors = false;
      } else {
        ok &= parseFlag(value, s.msOsDescriptors);
      }
    } else if (key == "download_error") {
      ok &= parseFlag(value, s.downloadError);
    } else if (key == "access") {
      ok &= value == "granted" || value == "denied";
      s.accessDenied = value == "denied";
    } else if (key == "other_device") {
      ok &= parseFlag(value, s.otherDevice);
    }
  }
  if (!ok) return std::nullopt;
  return s;
}

std::optional<std::uint16_t> parseVersion(std::string_view text) {
  if (text.size() != 4) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    const bool digit = c >= '0' && c <= '9';
    const bool lower = c >= 'a' && c <= 'f';
    if (!digit && !lower) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(digit ? c - '0' : c - 'a' + 10);
  }
  return static_cast<std::uint16_t>(value);
}

std::string versionText(std::uint16_t version) {
  char text[8];
  (void)std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(version));
  return text;
}

std::optional<std::uint16_t> imageVersion(const Bytes& image) {
  if (image.size() < 2) return std::nullopt;
  return static_cast<std::uint16_t>(image[0] | (image[1] << 8));
}

bool loadStateFile(const std::filesystem::path& file, DeviceStateFile& state) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  const auto parsed = parseStateFile(text.str());
  if (!parsed) return false;
  state = *parsed;
  return true;
}

bool saveStateFile(const std::filesystem::path& file, const DeviceStateFile& state) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << formatStateFile(state);
  return static_cast<bool>(out.flush());
}

std::filesystem::path firmwareFile(const std::filesystem::path& stateFile) {
  std::filesystem::path path = stateFile;
  path += ".firmware";
  return path;
}

}  // namespace qwus::usbdevice
