// libFuzzer target: any serial number, as pairs of bytes taken as UTF-16 code units (unpaired
// surrogates included), quoted into the detach command and split again by the Windows rules must
// come back as exactly that one argument, with the arguments around it untouched.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qwus::Text serial;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    serial.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  // A NUL would end the command line at the system boundary; a device's text cannot carry one.
  for (char16_t& c : serial) {
    if (c == u'\0') c = u'0';
  }

  const qwus::Text command =
      u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S " + qwus::quoteArgument(serial) + u" -c 1 -e";
  const std::vector<qwus::Text> expected = {u"dfu-util.exe", u"-d", u"c4e2:8351,c4e2:8352", u"-S",
                                            serial,          u"-c", u"1",                   u"-e"};
  if (qwus::splitCommandLine(command) != expected) __builtin_trap();
  return 0;
}
