#!/usr/bin/env bash
# Checks the release build's shipped files: the product within 512 KiB and the MSI within 1.5 MiB,
# no debug sections in the shipped executable and DLLs, and the product's debug information in
# PRODUCT.debug, which the product names in its .gnu_debuglink section; every shipped PE hardened
# (ASLR, high-entropy VA, NX; the stack protector where there is code). Then the sizes that the
# administrators' page gives of the MSI, the product, the tool and the tool's source folder: each
# "about N KB" (or MB; 1 KB = 1024 bytes, as Explorer counts) within 15 % of the file's real size.
#   check_release_files.sh OBJDUMP PRODUCT_EXE MESSAGES_DLL ACTIONS_DLL MSI TOOL_EXE TOOL_SOURCE_DIR
#                          ADMIN_DOC
set -uo pipefail
[[ $# -eq 8 ]] ||
  { echo "usage: $0 OBJDUMP PRODUCT MESSAGES ACTIONS MSI TOOL TOOL_SOURCE DOC"; exit 2; }
objdump=$1 product=$2 messages=$3 actions=$4 msi=$5 tool=$6 tool_source=$7 doc=$8

failures=0
fail() { failures=$((failures + 1)); echo "FAILED: $*"; }
ok() { echo "ok: $*"; }
within() {  # within FILE BUDGET_BYTES
  local size
  size=$(wc -c <"$1") || { fail "$1 missing"; return; }
  if [[ $size -le $2 ]]; then ok "$(basename "$1"): $size bytes (budget $2)"; else fail "$(basename "$1"): $size bytes, over its budget of $2"; fi
}
sections() { "$objdump" -h "$1" | awk '$1 ~ /^[0-9]+$/ { print $2 }'; }

within "$product" 524288
within "$msi" 1572864
for file in "$product" "$messages" "$actions"; do
  # A file objdump cannot read has no sections to list, which must not pass for "no debug sections".
  if ! all=$(sections "$file") || [[ -z $all ]]; then
    fail "cannot read the sections of $file"
    continue
  fi
  debug=$(grep -E '^\.(debug|zdebug|stab)' <<<"$all" | tr '\n' ' ')
  if [[ -z $debug ]]; then ok "no debug sections in $(basename "$file")"; else fail "$(basename "$file") has $debug"; fi
done
if sections "$product.debug" | grep -q '^\.debug_info$'; then
  ok "debug information in $(basename "$product").debug"
else
  fail "no debug information in $product.debug"
fi
if sections "$product" | grep -q '^\.gnu_debuglink$'; then
  ok "$(basename "$product") names its debug file"
else
  fail "$(basename "$product") has no .gnu_debuglink"
fi

# Every shipped PE loads at a random address, 64-bit randomised (high-entropy VA), with no code
# run from data pages (NX); those with code carry the stack protector, whose failure routine their
# debug files name. The message DLL has no code to protect: no entry point and no imports.
for file in "$product" "$messages" "$actions" "$tool"; do
  flags=$("$objdump" -p "$file" 2>/dev/null | sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p')
  for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
    if grep -qw "$flag" <<<"$flags"; then ok "$(basename "$file"): $flag"
    else fail "$(basename "$file") is not marked $flag"; fi
  done
done
for file in "$product" "$actions" "$tool"; do
  symbols=$("$objdump" -t "$file.debug" 2>/dev/null)
  if grep -qw __stack_chk_fail <<<"$symbols"; then
    ok "$(basename "$file") is built with the stack protector"
  else
    fail "$(basename "$file") has no stack protector (no __stack_chk_fail in $(basename "$file").debug)"
  fi
done
entry=$("$objdump" -p "$messages" 2>/dev/null | awk '$1 == "AddressOfEntryPoint" { print $2 }')
if [[ $entry =~ ^0+$ ]] && ! "$objdump" -p "$messages" | grep -q 'DLL Name:'; then
  ok "$(basename "$messages") has no code to protect: no entry point, no imports"
else
  fail "$(basename "$messages") has an entry point ($entry) or imports: build it with the stack protector"
fi

# stated_size NAME KEY BYTES: the one "about N KB|MB" on the one line of the page that holds KEY.
stated_size() {
  local name=$1 key=$2 bytes=$3 lines figures
  [[ $bytes =~ ^[0-9]+$ && $bytes -gt 0 ]] || { fail "$name: no size measured"; return; }
  lines=$(grep -F -e "$key" "$doc" | grep -E 'about [0-9][0-9,.]* [KM]B')
  figures=$(grep -oE 'about [0-9][0-9,.]* [KM]B' <<<"$lines")
  if [[ $(grep -c . <<<"$figures") -ne 1 ]]; then
    fail "$(basename "$doc"): not exactly one \"about N KB\" on a line with $key"
    return
  fi
  local verdict
  verdict=$(awk -v figure="$figures" -v bytes="$bytes" 'BEGIN {
    split(figure, part, " "); gsub(",", "", part[2])
    stated = part[2] * (part[3] == "MB" ? 1048576 : 1024)
    off = (stated - bytes) / bytes * 100
    printf "%s %.1f", (off <= 15 && off >= -15) ? "ok" : "off", off }')
  if [[ $verdict == ok* ]]; then
    ok "$(basename "$doc") gives $name as $figures: $bytes bytes, ${verdict#ok } % off"
  else
    fail "$(basename "$doc") gives $name as $figures, but it is $bytes bytes" \
      "(${verdict#off } % off, more than 15 %): correct the page"
  fi
}
source_bytes=$(find "$tool_source" -type f -printf '%s\n' 2>/dev/null |
  awk '{ s += $1 } END { print s }')
stated_size "$(basename "$msi")" "\`build/windows-release/$(basename "$msi")\`" "$(wc -c <"$msi")"
stated_size "$(basename "$product")" "| \`$(basename "$product")\` |" "$(wc -c <"$product")"
stated_size "$(basename "$tool")" "| \`$(basename "$tool")\` |" "$(wc -c <"$tool")"
stated_size "$(basename "$tool_source")" "| \`$(basename "$tool_source")\\\` |" "$source_bytes"

echo "$failures failed"
[[ $failures -eq 0 ]]
