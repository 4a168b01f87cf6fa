// Reports one event of each type through the Windows event log adapter, on the sources and with
// the numbering the product uses, and an outcome event with its five strings;
// report_event_args.sh reads the ReportEventW calls back from Wine's eventlog debug channel.
#include "eventlog/event_source.h"
#include "platform/event_log.h"

int main() {
  using namespace qwus;
  ProcessEventSources sources(systemEventLog());
  reportEvent(sources.service, EventType::Success, u"run service success");
  reportEvent(sources.service, EventType::Error, u"service install failed.");
  reportEvent(sources.service, EventType::Warning, u"service stopped.");
  reportEvent(sources.engine, EventType::Information,
              u"cmdline is dfu-util.exe -D \"C:\\Program Files\\\u00e9.dfu\" 100%");
  // An outcome: its fixed id with the severity bits, and its five strings, an empty one included.
  const char16_t* strings[] = {u"A7X2249", u"0100", u"0102", u"orvale-0102.dfu", u""};
  reportFixedEvent(sources.outcome, EventType::Error, 0xC00003E9, strings, 5);
  return 0;
}
