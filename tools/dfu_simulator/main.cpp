// The device simulator: answers -l, -e and -D as dfu-util does for one simulated Orvale device,
// whose state lives in dfu-util.state beside this executable, and logs every command line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/command_line.h"
#include "platform/text.h"
#include "tools/dfu_simulator/device_state.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win_text.h"
#endif

namespace qwus::simulator {
namespace {

// Exit codes of the real tool (sysexits).
constexpr int kExitOk = 0;
constexpr int kExitUsage = 64;
constexpr int kExitIoError = 74;

constexpr char kVendor[] = "c4e2";
constexpr char kRuntimeProduct[] = "8351";
constexpr char kDfuProduct[] = "8352";
constexpr std::size_t kTransferSize = 1024;

std::filesystem::path ownFolder() {
#ifdef _WIN32
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return std::filesystem::path(std::wstring(path.data(), n)).parent_path();
#else
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
#endif
}

// The command line as this process received it, as UTF-8.
std::string receivedCommandLine([[maybe_unused]] const std::vector<std::string>& args) {
#ifdef _WIN32
  return toUtf8(asText(GetCommandLineW()));
#else
  Text line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) line += u' ';
    line += quoteArgument(fromUtf8(args[i]));
  }
  return toUtf8(line);
#endif
}

// The arguments as UTF-8. On Windows they are taken from the wide command line, since main's
// narrow arguments are in the ANSI code page and may have lost characters.
std::vector<std::string> arguments([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
  std::vector<std::string> args;
#ifdef _WIN32
  for (const auto& argument : splitCommandLine(asText(GetCommandLineW()))) {
    args.push_back(toUtf8(argument));
  }
#else
  args.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
#endif
  return args;
}

void appendLog(const std::filesystem::path& folder, const std::string& line) {
  std::ofstream log(logFile(folder), std::ios::binary | std::ios::app);
  log << line << '\n';
}

void sleepMs(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Standard output, one line per write; in slow mode flushed and followed by a pause.
class Printer {
 public:
  explicit Printer(int pauseMs) : pauseMs_(std::clamp(pauseMs, 0, kMaxSlowMs)) {}

  void line(const std::string& text) const {
    std::fputs(text.c_str(), stdout);
    std::fputs("\n", stdout);
    if (pauseMs_ > 0) {
      std::fflush(stdout);
      sleepMs(pauseMs_);
    }
  }

  void bytes(const std::string& data) const { std::fwrite(data.data(), 1, data.size(), stdout); }

 private:
  int pauseMs_;
};

void error(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "dfu-util: %s\n", text.c_str());
}

void printHeading(const Printer& out) {
  out.line("dfu-util 0.11");
  out.line("");
  out.line("Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.");
  out.line("Copyright 2010-2021 Tormod Volden and Stefan Schmidt");
  out.line("This program is Free Software and has ABSOLUTELY NO WARRANTY");
  out.line("Please report bugs to http://sourceforge.net/p/dfu-util/tickets/");
  out.line("");
}

int usage(const std::string& problem) {
  std::fprintf(stderr, "%s\n", problem.c_str());
  std::fprintf(stderr,
               "Usage: dfu-util [options] ...\n"
               "  -l --list\t\t\tList currently attached DFU capable devices\n"
               "  -e --detach\t\t\tDetach currently attached DFU capable devices\n"
               "  -d --device <vendor>:<product>[,<vendor_dfu>:<product_dfu>]\n"
               "  -S --serial <serial_string>[,<serial_string_dfu>]\n"
               "  -c --cfg <config_nr>\t\tSpecify the Configuration of DFU device\n"
               "  -D --download <file>\t\tWrite firmware from <file> into device\n");
  return kExitUsage;
}

struct Options {
  char action = 0;  // 'l', 'e' or 'D'
  std::string device;
  std::string serial;
  bool hasSerial = false;
  int cfg = -1;
  std::string file;
};

// Parses the options the way the real tool's getopt does: "-Sx" and "-S x" alike. Returns the
// exit code of a usage error, or -1 when the options are fine.
int parseOptions(const std::vector<std::string>& args, Options& options) {
  const std::string withValue = "dSDcaUstEpn";
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') return usage("Error: Unexpected argument: " + arg);
    char option = arg[1];
    std::string value;
    if (arg[1] == '-') {
      const std::string name = arg.substr(2);
      const struct { const char* name; char option; } longNames[] = {
          {"list", 'l'}, {"detach", 'e'}, {"device", 'd'}, {"serial", 'S'},
          {"cfg", 'c'}, {"download", 'D'}, {"upload", 'U'}, {"alt", 'a'}};
      option = 0;
      for (const auto& entry : longNames) {
        if (name == entry.name) option = entry.option;
      }
      if (option == 0) return usage("dfu-util: unrecognized option '" + arg + "'");
    } else if (withValue.find(option) != std::string::npos && arg.size() > 2) {
      value = arg.substr(2);
    } else if (arg.size() > 2) {
      return usage("dfu-util: invalid option -- '" + arg.substr(2, 1) + "'");
    }
    if (withValue.find(option) != std::string::npos && value.empty()) {
      if (i + 1 >= args.size()) {
        return usage(std::string("dfu-util: option requires an argument -- '") + option + "'");
      }
      value = args[++i];
    }
    switch (option) {
      case 'l': case 'e': options.action = option; break;
      case 'D': options.action = 'D'; options.file = value; break;
      case 'U': options.action = 'U'; options.file = value; break;
      case 'd': options.device = value; break;
      case 'S': options.serial = value; options.hasSerial = true; break;
      case 'c': options.cfg = static_cast<int>(std::strtol(value.c_str(), nullptr, 10)); break;
      case 'a': case 's': case 't': case 'E': case 'p': case 'n': case 'R': case 'w': case 'v':
        break;
      default:
        return usage(std::string("dfu-util: invalid option -- '") + option + "'");
    }
  }
  if (options.action == 0) return usage("You need to specify one of -D or -U");
  return -1;
}

// "vid:pid" matches `vendor` and `product`; an empty or "*" half matches anything.
bool idMatches(const std::string& spec, const std::string& vendor, const std::string& product) {
  const auto colon = spec.find(':');
  const std::string v = spec.substr(0, colon);
  const std::string p = colon == std::string::npos ? std::string() : spec.substr(colon + 1);
  const auto same = [](const std::string& wanted, const std::string& actual) {
    return wanted.empty() || wanted == "*" ||
           std::strtol(wanted.c_str(), nullptr, 16) == std::strtol(actual.c_str(), nullptr, 16);
  };
  return same(v, vendor) && same(p, product);
}

// The half of "runtime[,dfu]" that applies in the device's mode.
std::string halfFor(bool dfuMode, const std::string& spec) {
  const auto comma = spec.find(',');
  if (comma == std::string::npos) return spec;
  return dfuMode ? spec.substr(comma + 1) : spec.substr(0, comma);
}

bool deviceMatches(const DeviceState& state, const Options& options) {
  if (!state.present) return false;
  const bool dfu = state.mode == "dfu";
  if (!options.device.empty() &&
      !idMatches(halfFor(dfu, options.device), kVendor, dfu ? kDfuProduct : kRuntimeProduct)) {
    return false;
  }
  if (options.hasSerial && halfFor(dfu, options.serial) != state.serial) return false;
  if (options.cfg >= 0 && options.cfg != state.cfg) return false;
  return true;
}

std::string deviceLine(const DeviceState& state, int alt) {
  const bool dfu = state.mode == "dfu";
  const char* names[] = {"Orvale Firmware", "Orvale Settings", "Orvale Bootloader"};
  // A state file with a serial or version of hundreds of characters would have the line cut: no
  // test writes one.
  char line[512];
  (void)std::snprintf(line, sizeof line,
                "Found %s: [%s:%s] ver=%s, devnum=%d, cfg=%d, intf=0, path=\"1-1\", alt=%d, "
                "name=\"%s\", serial=\"%s\"",
                dfu ? "DFU" : "Runtime", kVendor, dfu ? kDfuProduct : kRuntimeProduct,
                dfu ? state.dfuVersion.c_str() : state.version.c_str(), dfu ? 8 : 7, state.cfg,
                alt, dfu ? names[alt] : "Orvale", state.serial.c_str());
  return line;
}

void printOtherDevices(const Printer& out, long bytes) {
  long written = 0;
  for (int n = 0; written < bytes; ++n) {
    char line[200];
    const int length = std::snprintf(
        line, sizeof line,
        "Found Runtime: [0000:0000] ver=0000, devnum=%d, cfg=1, intf=0, path=\"9-%d\", alt=0, "
        "name=\"Other\", serial=\"N%07d\"",
        n % 128, n % 16, n);
    out.line(line);
    written += length + 1;
  }
}

int list(const Printer& out, const DeviceState& state, const Options& options) {
  if (state.misbehave == kHugeOutput) printOtherDevices(out, state.hugeBytes);
  if (state.misbehave == kNulBytes) out.bytes(std::string("Found \0\0 nothing\n", 17));
  if (!deviceMatches(state, options)) return kExitOk;
  if (state.mode == "dfu") {
    for (int alt = std::clamp(state.altSettings, 1, 3) - 1; alt >= 0; --alt) {
      out.line(deviceLine(state, alt));
    }
  } else {
    out.line(deviceLine(state, 0));
  }
  return kExitOk;
}

void printStatus(const Printer& out, bool dfu) {
  out.line("Opening DFU capable USB device...");
  out.line(std::string("Device ID ") + kVendor + ":" + (dfu ? kDfuProduct : kRuntimeProduct));
  out.line("Device DFU version 0110");
  out.line(dfu ? "Claiming USB DFU Interface..." : "Claiming USB DFU (Run-Time) Interface...");
  out.line(dfu ? "Setting Alternate Interface #0 ..." : "Setting Alternate Interface zero...");
  out.line("Determining device status...");
  out.line(dfu ? "DFU state(2) = dfuIDLE, status(0) = No error condition is present"
               : "DFU state(0) = appIDLE, status(0) = No error condition is present");
  if (dfu) {
    out.line("DFU mode device DFU version 0110");
    out.line("Device returned transfer size " + std::to_string(kTransferSize));
  }
}

// The real tool sees each alternate setting of a DFU-mode device as a device of its own, and
// refuses to pick one of several.
bool severalDevicesMatch(const DeviceState& state) {
  return state.mode == "dfu" && std::clamp(state.altSettings, 1, 3) > 1;
}

int refuseSeveralDevices() {
  error("More than one DFU capable USB device found! Try `--list' and specify the serial number "
        "or disconnect all but one device\n");
  return kExitIoError;
}

// The tool's progress bar: 25 characters wide, redrawn with a carriage return whenever it grows.
class ProgressBar {
 public:
  explicit ProgressBar(const Printer& out) : out_(out) {}

  void show(unsigned long long current, unsigned long long maximum) {
    if (maximum < current) maximum = current + 1;
    if (maximum == 0 && current == 0) maximum = 1;
    const unsigned long long filled =
        std::min<unsigned long long>(kWidth * current / maximum, kWidth);
    if (filled == lastFilled_) return;
    lastFilled_ = filled;
    char text[96];
    (void)std::snprintf(text, sizeof text, "\rDownload\t[%s%s] %3llu%% %12llu bytes",
                  std::string(filled, '=').c_str(), std::string(kWidth - filled, ' ').c_str(),
                  100ULL * current / maximum, current);
    out_.bytes(text);
    if (filled == kWidth) out_.bytes("\nDownload done.\n");
  }

 private:
  static constexpr unsigned long long kWidth = 25;
  const Printer& out_;
  unsigned long long lastFilled_ = ~0ULL;
};

int detach(const Printer& out, DeviceState& state, const Options& options,
           const std::filesystem::path& file) {
  if (!deviceMatches(state, options)) {
    error("No DFU capable USB device available");
    return kExitIoError;
  }
  if (severalDevicesMatch(state)) return refuseSeveralDevices();
  const bool dfu = state.mode == "dfu";
  printStatus(out, dfu);
  if (dfu) {
    // dfuIDLE does not take a detach request.
    error("can't detach");
    return kExitOk;
  }
  out.line("Device really in Run-Time Mode, send DFU detach request...");
  out.line("Device will detach and reattach...");
  state.mode = "dfu";
  saveState(file, state);
  return kExitOk;
}

int download(const Printer& out, DeviceState& state, const Options& options,
             const std::filesystem::path& file) {
  std::ifstream package(std::filesystem::path(std::u8string(options.file.begin(), options.file.end())),
                        std::ios::binary);
  if (!package) {
    error("Cannot open file " + options.file + " for reading");
    return kExitIoError;
  }
  const std::string data((std::istreambuf_iterator<char>(package)), std::istreambuf_iterator<char>());
  const auto byte = [&data](std::size_t fromEnd) {
    return static_cast<unsigned>(static_cast<unsigned char>(data[data.size() - fromEnd]));
  };
  // The suffix: bcdDevice, idProduct, idVendor, bcdDFU, "UFD", bLength, CRC, little-endian.
  const bool hasSuffix = data.size() >= 16 && data.compare(data.size() - 8, 3, "UFD") == 0;
  char version[8] = "";
  std::size_t payload = data.size();
  if (hasSuffix) {
    (void)std::snprintf(version, sizeof version, "%04x", byte(16) | (byte(15) << 8));
    const unsigned product = byte(14) | (byte(13) << 8);
    const unsigned vendor = byte(12) | (byte(11) << 8);
    // Without -d the ids of the file choose the device.
    char id[8];
    if (options.device.empty() && vendor != 0xffff) {
      (void)std::snprintf(id, sizeof id, "%04x", vendor);
      out.line(std::string("Match vendor ID from file: ") + id);
    }
    if (options.device.empty() && product != 0xffff) {
      (void)std::snprintf(id, sizeof id, "%04x", product);
      out.line(std::string("Match product ID from file: ") + id);
    }
    payload -= byte(5);
  } else {
    error("Invalid DFU suffix signature");
    error("A valid DFU suffix will be required in a future dfu-util release");
  }
  if (!deviceMatches(state, options)) {
    error("No DFU capable USB device available");
    return kExitIoError;
  }
  if (severalDevicesMatch(state)) return refuseSeveralDevices();
  printStatus(out, true);
  out.line("Copying data from PC to DFU device");
  // As the tool sends it: blocks of the transfer size, each followed by the progress bar, then
  // the empty block that ends the download.
  ProgressBar progress(out);
  progress.show(0, 1);
  for (std::size_t sent = 0; sent < payload;) {
    const std::size_t left = payload - sent;
    sent += std::min(left, kTransferSize);
    progress.show(sent, sent + left);
  }
  progress.show(payload, payload);
  // The device is not manifestation tolerant: it waits for the reset the tool then sends.
  out.line("DFU state(7) = dfuMANIFEST, status(0) = No error condition is present");
  out.line("DFU state(8) = dfuMANIFEST-WAIT-RESET, status(0) = No error condition is present");
  out.line("Resetting USB to switch back to runtime mode");
  out.line("Done!");
  if (hasSuffix) state.version = version;
  state.mode = "runtime";
  saveState(file, state);
  return kExitOk;
}

std::string garbage() {
  std::string bytes;
  unsigned seed = 12345;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes.push_back(static_cast<char>(1 + (seed >> 16) % 255));
  }
  return bytes;
}

int run(const std::vector<std::string>& args) {
  const std::filesystem::path folder = ownFolder();
  appendLog(folder, receivedCommandLine(args));

  const std::filesystem::path file = stateFile(folder);
  DeviceState state;
  if (!loadState(file, state)) saveState(file, state);

  if (state.misbehave == kHang) sleepMs(std::clamp(state.hangMs, 0, kMaxHangMs));
  if (state.misbehave == kSilent) return kExitOk;
  Printer out(state.misbehave == kSlowOutput ? state.slowMs : 0);
  if (state.misbehave == kGarbage) {
    out.bytes(garbage());
    return kExitOk;
  }
  if (state.misbehave == kHostileSerial) state.serial = kHostileSerialNumber;

  Options options;
  const int usageError = parseOptions(args, options);
  printHeading(out);
  if (usageError >= 0) return usageError;
  switch (options.action) {
    case 'l': return list(out, state, options);
    case 'e': return detach(out, state, options, file);
    case 'D': return download(out, state, options, file);
    default:
      error("No DFU capable USB device available");
      return kExitIoError;
  }
}

}  // namespace
}  // namespace qwus::simulator

int main(int argc, char** argv) {
  return qwus::simulator::run(qwus::simulator::arguments(argc, argv));
}
