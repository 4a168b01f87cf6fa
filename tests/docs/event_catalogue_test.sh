#!/usr/bin/env bash
# Keeps docs/events.md true: every message that service/ and upgrade/ report, with its source and
# event type, must be in the catalogue, and the catalogue must list no message the code lacks; the
# outcome source's sentences and types must be those of the message file (write_messages_mc.cmake).
#   event_catalogue_test.sh SOURCE_DIR [RESULTS_DIR]
# With RESULTS_DIR, writes a JUnit report event_catalogue.xml there.
set -uo pipefail
export LC_ALL=C.UTF-8

source_dir=$(cd "$1" && pwd)
results=${2:-}
catalogue=$source_dir/docs/events.md
work=$(mktemp -d "${TMPDIR:-/tmp}/qwus-catalogue.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The messages of the code as "SOURCE<TAB>TYPE<TAB>TEXT" lines. A message is the first u"..."
# literal in a call to report, reportFormatted or reportEvent (or another helper named
# report...); its type is the EventType named in that call, Information when none is (the
# engine's report helper).
# service/ reports on QuorlanWindowsUpdateService, upgrade/ on OrvaleUpgradeProcess.
code_messages() {
  local file source
  for file in "$source_dir"/service/*.cpp "$source_dir"/upgrade/*.cpp; do
    case $file in *_test.cpp | *_fuzz.cpp | *test_support.cpp | *test_harness.cpp) continue ;; esac
    case $file in */service/*) source=QuorlanWindowsUpdateService ;; *) source=OrvaleUpgradeProcess ;; esac
    gawk -v source="$source" '
      BEGIN { RS = ";" }  # one statement a record
      {
        # The first literal in the call, with no block opened or closed before it; a statement can
        # hold other literals before the call (e.g. in the condition of an if).
        if (!match($0, /report[A-Za-z]*\([^{}"]*u"/)) next
        call = substr($0, RSTART, RLENGTH)
        quote = RSTART + RLENGTH - 2
        type = match(call, /EventType::([A-Za-z]+)/, t) ? t[1] : "Information"
        if (!match(substr($0, quote + 2), /^([^"\\]|\\.)*/)) next
        message = substr($0, quote + 2, RLENGTH)
        out = ""
        while (match(message, /\\u[0-9A-Fa-f]{4}/)) {
          out = out substr(message, 1, RSTART - 1) sprintf("%c", strtonum("0x" substr(message, RSTART + 2, 4)))
          message = substr(message, RSTART + RLENGTH)
        }
        print source "\t" type "\t" out message
      }' "$file"
  done | sort -u
}

# The catalogue's messages in the same form: table rows "| `TEXT` | TYPE | ... |" under a heading
# "## SOURCE".
catalogue_messages() {
  gawk '
    /^## / { source = $2; next }
    match($0, /^\| `([^`]*)` \| ([A-Za-z]+) \|/, m) { print source "\t" m[2] "\t" m[1] }
  ' "$catalogue" | sort -u
}

code_messages >"$work/code"
catalogue_messages >"$work/catalogue"
failures=0
if [[ ! -s $work/code ]]; then
  echo "no messages found in the code: the extraction is broken"
  failures=1
fi
missing=$(comm -23 "$work/code" "$work/catalogue")
stale=$(comm -13 "$work/code" "$work/catalogue")
if [[ -n $missing ]]; then
  echo "reported by the code but not in docs/events.md (source, type, text):"
  sed 's/^/  /' <<<"$missing"
  failures=1
fi
if [[ -n $stale ]]; then
  echo "in docs/events.md but not reported by the code (source, type, text):"
  sed 's/^/  /' <<<"$stale"
  failures=1
fi
echo "event catalogue: $(wc -l <"$work/code") messages in the code, $(wc -l <"$work/catalogue") in docs/events.md"

# The outcome source's messages, "ID<TAB>TYPE<TAB>SENTENCE", as the message file's script writes
# them and as the catalogue's table under "## OrvaleUpgradeOutcome" gives them.
sed -nE 's/^  "([0-9]+)\|(Informational|Warning|Error)\|(.*)"\)?$/\1\t\2\t\3/p' \
  "$source_dir/eventlog/messages/write_messages_mc.cmake" | sed 's/\tInformational\t/\tInformation\t/' |
  sort >"$work/outcomes-code"
gawk '
  /^## / { source = $2; next }
  source == "OrvaleUpgradeOutcome" && match($0, /^\| ([0-9]+) \| ([A-Za-z]+) \| `([^`]*)` \|/, m) {
    print m[1] "\t" m[2] "\t" m[3]
  }' "$catalogue" | sort >"$work/outcomes-catalogue"
if [[ ! -s $work/outcomes-code ]] || ! cmp -s "$work/outcomes-code" "$work/outcomes-catalogue"; then
  echo "the outcome messages of the message file and of docs/events.md differ (< file, > page):"
  diff "$work/outcomes-code" "$work/outcomes-catalogue" | sed 's/^/  /'
  failures=1
fi
echo "outcomes: $(wc -l <"$work/outcomes-code") in the message file, $(wc -l <"$work/outcomes-catalogue") in docs/events.md"

if [[ -n $results ]]; then
  mkdir -p "$results"
  cat >"$results/event_catalogue.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<testsuites tests="1" failures="$failures" disabled="0" errors="0" name="docs">
  <testsuite name="docs" tests="1" failures="$failures"><testcase name="event_catalogue"/></testsuite>
</testsuites>
XML
fi
exit $failures
