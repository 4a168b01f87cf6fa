// The simulated device's state and its file format: key=value lines beside the simulator.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qwus::simulator {

// Ways the simulator can misbehave, chosen by the state's "misbehave" key.
inline constexpr char kBehaveNormally[] = "none";
inline constexpr char kGarbage[] = "garbage";              // bytes that are no report at all
inline constexpr char kHugeOutput[] = "huge";              // hugeBytes of listing before the device
inline constexpr char kSlowOutput[] = "slow";              // one line at a time, slowMs apart
inline constexpr char kNulBytes[] = "nul";                 // NUL bytes inside the report
inline constexpr char kHostileSerial[] = "hostile-serial"; // the device reports kHostileSerialNumber
inline constexpr char kHang[] = "hang";                    // waits hangMs before doing anything
inline constexpr char kSilent[] = "silent";                // prints nothing at all

// A serial number with blanks, quotes, backslashes and commas, as an untrusted device might send.
inline constexpr char kHostileSerialNumber[] = "A7 \"X\\\" 22\\,49 -U C:\\x.bin\\";

// The longest hang and the longest pause of slow output: a broken test never waits for ever.
inline constexpr int kMaxHangMs = 60000;
inline constexpr int kMaxSlowMs = 1000;

struct DeviceState {
  std::string mode = "runtime";  // "runtime" or "dfu"
  std::string version = "0100";  // runtime version, four hexadecimal digits
  std::string dfuVersion = "0100";
  std::string serial = "A7X2249";
  int cfg = 1;
  bool present = true;
  int altSettings = 1;           // alt settings of the DFU-mode interface (1 to 3)
  std::string misbehave = kBehaveNormally;
  int hangMs = 3000;
  int slowMs = 100;
  long hugeBytes = 4000000;
};

// The state as key=value lines, one per field.
std::string formatState(const DeviceState& state);

// Reads key=value lines; unknown keys are ignored, missing keys keep their default.
DeviceState parseState(std::string_view text);

// The state file in `folder`, next to the simulator.
std::filesystem::path stateFile(const std::filesystem::path& folder);
// The log of received command lines in `folder`.
std::filesystem::path logFile(const std::filesystem::path& folder);

// Reads the state file; false when there is none.
bool loadState(const std::filesystem::path& file, DeviceState& state);
// Writes the state file; false when it cannot be written.
bool saveState(const std::filesystem::path& file, const DeviceState& state);

}  // namespace qwus::simulator
