// The in-memory process launcher for tests.
#include "tests/fakes/fake_process_launcher.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace qwus::testing {

// Shared by the launcher and its pipes; workers on several threads may use one launcher at once.
struct FakeProcessLauncher::Ledger {
  std::mutex mutex;
  std::deque<ScriptedRun> script;
  int pipeFailures = 0;
  int pipesBeforeFailures = 0;
  std::vector<Text> commandLines;
  std::vector<PipeRecord> pipes;
};

namespace {

class FakeOutputPipe final : public OutputPipe {
 public:
  FakeOutputPipe(std::shared_ptr<FakeProcessLauncher::Ledger> ledger, std::size_t index)
      : ledger_(std::move(ledger)), index_(index) {}

  bool read(char* buffer, std::size_t size, std::size_t& bytesRead) override {
    bytesRead = 0;
    std::lock_guard lock(ledger_->mutex);
    PipeRecord& record = ledger_->pipes[index_];
    if (record.reads++ == 0) record.writeEndOpenAtFirstRead = record.writeEndOpen;
    if (!record.readEndOpen) return false;
    while (!pending_.empty() && pending_.front().empty()) pending_.pop_front();
    if (pending_.empty()) return false;
    std::string& chunk = pending_.front();
    bytesRead = std::min(size, chunk.size());
    std::memcpy(buffer, chunk.data(), bytesRead);
    chunk.erase(0, bytesRead);
    if (chunk.empty()) pending_.pop_front();
    return true;
  }

  void closeWriteEnd() override {
    std::lock_guard lock(ledger_->mutex);
    ledger_->pipes[index_].writeEndOpen = false;
  }
  void closeReadEnd() override {
    std::lock_guard lock(ledger_->mutex);
    ledger_->pipes[index_].readEndOpen = false;
  }

  // The caller holds the ledger's mutex.
  void start(std::vector<std::string> chunks) {
    ledger_->pipes[index_].started = true;
    pending_.assign(chunks.begin(), chunks.end());
  }

 private:
  std::shared_ptr<FakeProcessLauncher::Ledger> ledger_;
  std::size_t index_;
  std::deque<std::string> pending_;
};

}  // namespace

FakeProcessLauncher::FakeProcessLauncher() : ledger_(std::make_shared<Ledger>()) {}
FakeProcessLauncher::~FakeProcessLauncher() = default;

void FakeProcessLauncher::script(ScriptedRun run) {
  std::lock_guard lock(ledger_->mutex);
  ledger_->script.push_back(std::move(run));
}

void FakeProcessLauncher::scriptOutput(std::vector<std::string> chunks) {
  script(ScriptedRun{std::move(chunks), false});
}

void FakeProcessLauncher::failPipeCreation(int count, int after) {
  std::lock_guard lock(ledger_->mutex);
  ledger_->pipeFailures += count;
  ledger_->pipesBeforeFailures = after;
}

const std::vector<Text>& FakeProcessLauncher::commandLines() const { return ledger_->commandLines; }

const std::vector<PipeRecord>& FakeProcessLauncher::pipes() const { return ledger_->pipes; }

std::size_t FakeProcessLauncher::openPipeEnds() const {
  std::lock_guard lock(ledger_->mutex);
  std::size_t open = 0;
  for (const auto& pipe : ledger_->pipes) {
    open += (pipe.readEndOpen ? 1 : 0) + (pipe.writeEndOpen ? 1 : 0);
  }
  return open;
}

std::unique_ptr<OutputPipe> FakeProcessLauncher::createOutputPipe() {
  std::lock_guard lock(ledger_->mutex);
  if (ledger_->pipesBeforeFailures > 0) {
    --ledger_->pipesBeforeFailures;
  } else if (ledger_->pipeFailures > 0) {
    --ledger_->pipeFailures;
    return nullptr;
  }
  ledger_->pipes.push_back(PipeRecord{});
  return std::make_unique<FakeOutputPipe>(ledger_, ledger_->pipes.size() - 1);
}

bool FakeProcessLauncher::startProcess(Text& commandLine, OutputPipe& pipe) {
  std::lock_guard lock(ledger_->mutex);
  ledger_->commandLines.push_back(commandLine);
  ScriptedRun run;
  if (!ledger_->script.empty()) {
    run = std::move(ledger_->script.front());
    ledger_->script.pop_front();
  }
  if (run.failsToStart) return false;
  auto* fake = dynamic_cast<FakeOutputPipe*>(&pipe);
  if (fake == nullptr) return false;
  fake->start(std::move(run.chunks));
  return true;
}

}  // namespace qwus::testing
