# Writes the message file of QuorlanEventMessages.dll. For the two numbered sources every event id
# from 1 to 65535 shows the report's own text, its one insertion string ("%1"; "%0" ends the
# message without a line break). For the outcome source each outcome has its sentence over its five
# strings (serial number, version before, package version, package file, the tool's last line),
# under its id with the severity of its event type in the top bits, so that the numbered sources'
# ids (severity 0) never meet them.
#   cmake -DOUTPUT=messages.mc -P write_messages_mc.cmake
if(NOT OUTPUT)
  message(FATAL_ERROR "write_messages_mc.cmake: OUTPUT is not set")
endif()

file(WRITE ${OUTPUT}.tmp "MessageIdTypedef=DWORD\nLanguageNames=(English=0x409:MSG00409)\n"
  "SeverityNames=(Success=0x0 Informational=0x1 Warning=0x2 Error=0x3)\n\n")
# Appended a thousand messages at a time: one string of all 65535 would be copied at every append.
foreach(first RANGE 0 65000 1000)
  math(EXPR last "${first} + 999")
  if(last GREATER 65535)
    set(last 65535)
  endif()
  if(first EQUAL 0)
    set(first 1)
  endif()
  set(chunk "")
  foreach(id RANGE ${first} ${last})
    string(APPEND chunk "MessageId=${id}\nLanguage=English\n%1%0\n.\n")
  endforeach()
  file(APPEND ${OUTPUT}.tmp "${chunk}")
endforeach()

# The outcomes: MessageId, Severity, text (no semicolon: it would split the list). Inserts: %1
# serial number, %2 version before, %3 the package's version, %4 its file name, %5 the tool's last
# line.
set(outcomes
  "1000|Informational|Orvale device %1 received firmware %3 (was %2) from %4. The tool's last line: %5"
  "1001|Error|Orvale device %1 did not take firmware %3 from %4 and stays at %2. The tool's last line: %5"
  "1002|Informational|Orvale device %1 is at firmware %2 already, and the package %4 holds %3, so nothing was downloaded."
  "1003|Warning|No Orvale device was found in dfu-util.exe's listing, so firmware %3 from %4 was not downloaded. The tool's last line: %5"
  "1004|Error|dfu-util.exe could not be started for Orvale device %1 at firmware %2, so firmware %3 from %4 was not downloaded."
  "1005|Informational|Orvale device %1 at firmware %2 was switched into DFU mode, and firmware %3 from %4 follows when it comes back. The tool's last line: %5")
set(chunk "")
foreach(outcome IN LISTS outcomes)
  if(NOT outcome MATCHES "^([0-9]+)\\|([A-Za-z]+)\\|(.+)$")
    message(FATAL_ERROR "write_messages_mc.cmake: not ID|SEVERITY|TEXT: ${outcome}")
  endif()
  set(id ${CMAKE_MATCH_1})
  set(severity ${CMAKE_MATCH_2})
  set(text "${CMAKE_MATCH_3}")
  string(APPEND chunk "MessageId=${id}\nSeverity=${severity}\nLanguage=English\n${text}%0\n.\n")
endforeach()
file(APPEND ${OUTPUT}.tmp "${chunk}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
