#!/usr/bin/env bash
# Checks the release build's shipped files: the product within 512 KiB and the MSI within 1.5 MiB,
# no debug sections in the shipped executable and DLL, and the product's debug information in
# PRODUCT.debug, which the product names in its .gnu_debuglink section.
#   check_release_files.sh OBJDUMP PRODUCT_EXE MESSAGES_DLL MSI
set -uo pipefail
objdump=$1 product=$2 messages=$3 msi=$4

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
for file in "$product" "$messages"; do
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

echo "$failures failed"
[[ $failures -eq 0 ]]
