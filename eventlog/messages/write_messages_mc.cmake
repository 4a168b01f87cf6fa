# Writes the message file of QuorlanEventMessages.dll: every event id from 1 to 65535 shows the
# report's own text, its one insertion string ("%1"; "%0" ends the message without a line break).
#   cmake -DOUTPUT=messages.mc -P write_messages_mc.cmake
if(NOT OUTPUT)
  message(FATAL_ERROR "write_messages_mc.cmake: OUTPUT is not set")
endif()

file(WRITE ${OUTPUT}.tmp "MessageIdTypedef=DWORD\nLanguageNames=(English=0x409:MSG00409)\n\n")
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
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
