#!/usr/bin/env bash
# Reads the resources of the product and of the event message DLL back under Wine, as Windows
# reads them: the version resource of both, the product's manifest, and the DLL's message table.
#   check_resources.sh WINE_RUN RESOURCE_PROBE VERSION PRODUCT_EXE MESSAGES_DLL
set -uo pipefail
wine_run=$1 probe=$2 version=$3 product=$4 messages=$5

failures=0
fail() { failures=$((failures + 1)); echo "FAILED: $*"; }
ok() { echo "ok: $*"; }
probe() { "$wine_run" "$probe" "$@" 2>&1 </dev/null | tr -d '\r'; }
winpath() { echo "Z:${1//\//\\}"; }
# True when the probe ran and answered that FILE has no message ID; false when it has one, and
# also when the probe did not run or could not load the file.
no_message() {  # no_message FILE ID
  local answer
  answer=$(probe message "$(winpath "$1")" "$2" x)
  [[ $? -eq 1 && $answer == *"no message $2 (error "* ]]
}

# expect_version FILE ORIGINAL_FILENAME DESCRIPTION
expect_version() {
  local file=$1 actual expected
  actual=$(probe version "$(winpath "$file")")
  expected="FixedVersion=$version.0
CompanyName=Quorlan
ProductName=Quorlan Windows Update Service
FileDescription=$3
FileVersion=$version
ProductVersion=$version
OriginalFilename=$2
LegalCopyright=Copyright (C) Quorlan. All rights reserved."
  if [[ $actual == "$expected" ]]; then
    ok "version resource of $2"
  else
    fail "version resource of $2"
    diff <(echo "$expected") <(echo "$actual") | sed 's/^/  /'
  fi
}
expect_version "$product" QuorlanWindowsUpdateService.exe "Quorlan Windows Update Service"
expect_version "$messages" QuorlanEventMessages.dll "Quorlan Windows Update Service event messages"

manifest=$(probe manifest "$(winpath "$product")")
for want in 'level="asInvoker"' 'uiAccess="false"' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' \
    "version=\"$version.0\""; do
  if grep -qF -- "$want" <<<"$manifest"; then ok "manifest has $want"; else fail "manifest lacks $want"; fi
done

# Every event id shows the report's text, whole and without anything added; ids outside the table
# have no message. A report may carry text that a device or the tool chose: inserts, escapes and
# control characters in it stay as they are, never read as the message's own.
inserts=('create service success. Ünïcødé, 100% "quoted" %2'
         'serial="%1 %%1 %n %0 %%% %2!s!"'
         $'tab\there, bell\a, \x01 and \x1b[31m')
for id in 1 2 21 4242 65534 65535; do
  for insert in "${inserts[@]}"; do
    text=$(probe message "$(winpath "$messages")" "$id" "$insert")
    if [[ $text == "$insert" ]]; then ok "message $id: ${insert@Q}"; else fail "message $id is ${text@Q}"; fi
  done
done
# The outcome source's messages: each outcome under its id with the severity of its type in the
# top bits (1073741824 informational, 2147483648 warning, 3221225472 error), its sentence over the
# five strings. A string holding inserts of its own shows them as they are.
strings=(Q9Z0311 0100 0102 orvale-0102.dfu 'Done!')
while IFS='|' read -r id sentence; do
  text=$(probe message "$(winpath "$messages")" "$id" "${strings[@]}")
  if [[ $text == "$sentence" ]]; then ok "outcome $id: $sentence"; else fail "outcome $id is ${text@Q}"; fi
done <<'OUTCOMES'
1073742824|Orvale device Q9Z0311 received firmware 0102 (was 0100) from orvale-0102.dfu. The tool's last line: Done!
3221226473|Orvale device Q9Z0311 did not take firmware 0102 from orvale-0102.dfu and stays at 0100. The tool's last line: Done!
1073742826|Orvale device Q9Z0311 is at firmware 0100 already, and the package orvale-0102.dfu holds 0102, so nothing was downloaded.
2147484651|No Orvale device was found in dfu-util.exe's listing, so firmware 0102 from orvale-0102.dfu was not downloaded. The tool's last line: Done!
3221226476|dfu-util.exe could not be started for Orvale device Q9Z0311 at firmware 0100, so firmware 0102 from orvale-0102.dfu was not downloaded.
1073742829|Orvale device Q9Z0311 at firmware 0100 was switched into DFU mode, and firmware 0102 from orvale-0102.dfu follows when it comes back. The tool's last line: Done!
OUTCOMES
hostile=('serial="%1 %%1 %n"' '%2' '%5!s!' $'tab	here' $'[31m')
text=$(probe message "$(winpath "$messages")" 1073742824 "${hostile[@]}")
want="Orvale device ${hostile[0]} received firmware ${hostile[2]} (was ${hostile[1]}) from ${hostile[3]}. The tool's last line: ${hostile[4]}"
if [[ $text == "$want" ]]; then ok "outcome strings show literally"; else fail "outcome with hostile strings is ${text@Q}"; fi
# An outcome's number alone, without its severity, is a numbered source's message, not the outcome's.
text=$(probe message "$(winpath "$messages")" 1000 "${strings[@]}")
if [[ $text == Q9Z0311 ]]; then ok "message 1000 is a numbered source's"; else fail "message 1000 is ${text@Q}"; fi
for id in 0 65536; do
  if no_message "$messages" "$id"; then ok "no message $id"; else fail "message $id exists, or the probe did not answer"; fi
done
if no_message "$product" 1; then
  ok "the product carries no message table"
else
  fail "the product carries a message table, or the probe did not answer"
fi

echo "$failures failed"
[[ $failures -eq 0 ]]
