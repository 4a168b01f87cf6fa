// Benchmarks of the engine (Google Benchmark, bench preset): the listing parser in its two roles
// over outputs of 1 KB to 10 MB, one formatted report, and a whole two-arrival upgrade with the real
// dfu-util and the emulated device set beside the bare cost of starting the tool and reading its
// output.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "eventlog/event_source.h"
#include "platform/ansi_text.h"
#include "tests/fakes/firmware_package.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/recording_trace_output.h"
#include "tests/fakes/stand_in_tool.h"
#include "tests/fakes/virtual_clock.h"
#include "tests/fakes/null_platform.h"
#include "tests/real_device/emulated_tool.h"
#include "upgrade/orvale_upgrade_process.h"

namespace {

using namespace qwus;

using testing::NullClock;
using testing::NullTrace;

// The engine over a no-op event log, as the parser and report benchmarks need it.
struct QuietEngine {
  QuietEngine() { registerEventSource(events); }
  testing::NullEventLog log;
  EventSource events{log, kEngineSourceName, kEngineFirstEventId};
  NullTrace trace;
  NullClock clock;
  OrvaleUpgradeProcess make() {
    return OrvaleUpgradeProcess(
        {events, systemFileSystem(), systemProcessLauncher(), clock, trace, u""});
  }
};

// A listing of about `bytes` bytes: the heading, lines of other DFU devices, and the Orvale
// device's line at the end.
Text listingOfSize(std::size_t bytes) {
  std::string text = "dfu-util 0.11\r\n\r\nCopyright 2005-2009 Weston Schmidt, Harald Welte\r\n";
  const std::string other =
      "Found DFU: [1d50:6017] ver=0200, devnum=12, cfg=1, intf=0, path=\"2-4\", alt=1, "
      "name=\"Flash\", serial=\"3E2F1A0C\"\r\n";
  const std::string orvale =
      "Found Runtime: [c4e2:8351] ver=0100, devnum=7, cfg=1, intf=0, path=\"1-1\", alt=0, "
      "name=\"Orvale\", serial=\"A7X2249\"\r\n";
  while (text.size() + other.size() + orvale.size() <= bytes) text += other;
  text += orvale;
  return ansiToText(text.c_str());
}

// What the tool prints while it downloads: progress lines, every one of them reported.
Text downloadOutputOfSize(std::size_t bytes) {
  std::string text = "dfu-util 0.11\r\nFound DFU: [c4e2:8352] ver=0100, devnum=7, cfg=1, intf=0, "
                     "path=\"1-1\", alt=0, name=\"Orvale\", serial=\"A7X2249\"\r\n";
  const std::string progress = "Download\t[=========                ]  38%        71680 bytes\r\n";
  while (text.size() + progress.size() <= bytes) text += progress;
  return ansiToText(text.c_str());
}

void parse(benchmark::State& state, Text (*make)(std::size_t), std::int32_t startMode) {
  QuietEngine quiet;
  const Text output = make(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    OrvaleUpgradeProcess engine = quiet.make();
    engine.targetVersion = u"0102";
    engine.updev.mode = startMode;
    engine.analyseBuffer(output);
    benchmark::DoNotOptimize(engine.updev);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(output.size()));
  state.counters["ns_per_byte"] = benchmark::Counter(
      static_cast<double>(output.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ParseListingRole(benchmark::State& state) { parse(state, &listingOfSize, 2); }
void BM_ParseDownloadRole(benchmark::State& state) { parse(state, &downloadOutputOfSize, 1); }
BENCHMARK(BM_ParseListingRole)->Arg(1 << 10)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseDownloadRole)->Arg(1 << 10)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMicrosecond);

void BM_FormatAndReport(benchmark::State& state) {
  QuietEngine quiet;
  const Text line = u"Found Runtime: [c4e2:8351] ver=0100, devnum=7, cfg=1, intf=0, path=\"1-1\"";
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        reportFormatted(quiet.events, EventType::Information, u"analyseBuffer strTmp= %s", line));
  }
}
BENCHMARK(BM_FormatAndReport);

// The real tool with the emulated device, in runtime mode at 0100, as dfu-util.exe in a folder of
// its own, first on the search path, with a package of version 0102 beside it.
struct ToolFolder {
  ToolFolder() {
    std::ofstream(folder.path() / "orvale-0102.dfu", std::ios::binary)
        << testing::firmwarePackage(0x0102, testing::firmwareImage(0x0102, 1024));
  }
  void reset() { testing::installEmulatedTool(folder.path(), {}); }
  Text directory() const { return testing::pathText(folder.path()) + u"/"; }

  testing::TemporaryDirectory folder;
  std::unique_ptr<ProcessLauncher> launcher = processLauncherIn(testing::pathText(folder.path()));
};

// Two arrivals of one device, runtime at 0100: list and detach, then list and download.
void BM_UpgradeRunEngine(benchmark::State& state) {
  ToolFolder tool;
  testing::NullEventLog log;
  EventSource events(log, kEngineSourceName, kEngineFirstEventId);
  registerEventSource(events);
  testing::VirtualClock clock;
  NullTrace trace;
  const UpgradeEnvironment env{events, systemFileSystem(), *tool.launcher, clock, trace,
                               tool.directory()};
  for (auto _ : state) {
    state.PauseTiming();
    tool.reset();
    state.ResumeTiming();
    for (int arrival = 0; arrival < 2; ++arrival) {
      OrvaleUpgradeProcess engine(env);
      if (engine.initDfuDevList() != kOutcomeListed) state.SkipWithError("listing failed");
      const int outcome = engine.doUpgrade();
      if (outcome != (arrival == 0 ? kOutcomeDetached : kOutcomeToolRan)) {
        state.SkipWithError("upgrade run ended unexpectedly");
      }
    }
  }
}
BENCHMARK(BM_UpgradeRunEngine)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same four tool runs, started and read to the end with nothing else done.
void BM_UpgradeRunToolOnly(benchmark::State& state) {
  ToolFolder tool;
  const Text package = u"\"" + tool.directory() + u"orvale-0102.dfu\"";
  const Text commands[] = {u"dfu-util.exe -l",
                           u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -c 1 -e",
                           u"dfu-util.exe -l",
                           u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -D " + package};
  ProcessLauncher& launcher = *tool.launcher;
  char buffer[4096];
  for (auto _ : state) {
    state.PauseTiming();
    tool.reset();
    state.ResumeTiming();
    for (const Text& command : commands) {
      Text line = command;
      const auto pipe = launcher.createOutputPipe();
      if (!pipe || !launcher.startProcess(line, *pipe)) state.SkipWithError("start failed");
      pipe->closeWriteEnd();
      std::size_t read = 0;
      while (pipe->read(buffer, sizeof buffer - 1, read)) benchmark::DoNotOptimize(buffer);
      pipe->closeReadEnd();
    }
  }
}
BENCHMARK(BM_UpgradeRunToolOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
