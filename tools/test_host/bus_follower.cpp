// The test host's Plug and Play.
#include "tools/test_host/bus_follower.h"

#include <windows.h>

#include <cstdio>
#include <deque>
#include <utility>

#include "platform/thread.h"
#include "platform/win_text.h"

namespace qwus {
namespace {

constexpr char kLeave[] = "leave ";
constexpr char kArrive[] = "arrive ";

bool startsWith(const std::string& line, const char* prefix) {
  return line.rfind(prefix, 0) == 0;
}

// The product id part of an interface path ("PID_8352"), or the whole path.
std::string productOf(const std::string& path) {
  const std::size_t at = path.find("PID_");
  return at == std::string::npos ? path : path.substr(at, 8);
}

// A line read from the file, waiting for its settling time.
struct Due {
  // cppcheck-suppress unusedStructMember ; read in follow(), which cppcheck does not connect
  std::string line;
  // cppcheck-suppress unusedStructMember ; GetTickCount64 when the line was read
  ULONGLONG readAt;
  std::uint32_t settle;
};

}  // namespace

BusFollower::BusFollower(Text eventsFile, TestHostServiceManager& manager,
                         DividedClock& settleClock)
    : eventsFile_(std::move(eventsFile)), manager_(manager), settleClock_(settleClock) {}

void BusFollower::start() {
  std::uint32_t threadId = 0;
  systemThreads().start(&BusFollower::run, this, threadId);
}

std::uint32_t BusFollower::run(void* self) {
  static_cast<BusFollower*>(self)->follow();
  return 0;
}

bool BusFollower::settleTime(const std::string& line, std::uint32_t& milliseconds) {
  if (startsWith(line, kLeave)) {
    milliseconds = kRemovalSettle;
    return true;
  }
  if (!startsWith(line, kArrive)) return false;
  const bool first = boundProducts_.insert(productOf(line.substr(sizeof kArrive - 1))).second;
  milliseconds = first ? kFirstBindingSettle : kArrivalSettle;
  return true;
}

void BusFollower::follow() {
  long offset = 0;
  std::string pending;
  std::deque<Due> due;
  for (;;) {
    // Whatever the device and the scenario appended since the last look, whole lines only.
    if (std::FILE* in = _wfopen(asWide(eventsFile_.c_str()), L"rb")) {
      if (std::fseek(in, offset, SEEK_SET) == 0) {
        char buffer[4096];
        std::size_t read = 0;
        while ((read = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
          pending.append(buffer, read);
          offset += static_cast<long>(read);
        }
      }
      std::fclose(in);
    }
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::uint32_t settle = 0;
      if (settleTime(line, settle)) due.push_back({std::move(line), GetTickCount64(), settle});
    }
    if (!due.empty()) {
      // The settling time left, before the divisor: what has passed counts times the divisor.
      const ULONGLONG passed = (GetTickCount64() - due.front().readAt) * settleClock_.divisor();
      if (passed < due.front().settle) {
        settleClock_.sleep(static_cast<std::uint32_t>(due.front().settle - passed));
      }
      const std::string line = std::move(due.front().line);
      due.pop_front();
      const bool leaves = startsWith(line, kLeave);
      const std::string path = line.substr(leaves ? sizeof kLeave - 1 : sizeof kArrive - 1);
      manager_.announce(leaves ? kDbtDeviceRemoveComplete : kDbtDeviceArrival, fromUtf8(path));
      continue;  // the next line may be due already
    }
    Sleep(10);
  }
}

}  // namespace qwus
