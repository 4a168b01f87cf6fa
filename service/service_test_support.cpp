// Test fixture for the service host.
#include "service/service_test_support.h"

namespace qwus::testing {

ServiceTest::ServiceTest()
    : env(new ServiceEnvironment{sources.service, sources.outcome, manager, threads, clock,
                                 UpgradeEnvironment{sources.engine, files, processes, clock, trace,
                                                    u"C:\\Program Files\\Quorlan\\orvale\\Services\\"},
                                 {}, {}}) {}

std::vector<Message> ServiceTest::serviceMessages() const {
  std::vector<Message> messages;
  for (const auto& event : log.events()) {
    if (event.source == kServiceName) messages.emplace_back(event.type, event.text);
  }
  return messages;
}

std::vector<std::u16string> ServiceTest::serviceTexts() const {
  std::vector<std::u16string> texts;
  for (const auto& message : serviceMessages()) texts.push_back(message.second);
  return texts;
}

}  // namespace qwus::testing
