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
