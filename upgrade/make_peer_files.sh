#!/bin/sh
# Writes into the folder $1 what Debian's dfu-util and dfu-suffix produce, for the tests that read
# it (the Windows build's tests cannot run Linux programs themselves). A missing tool leaves its
# file out, and the test that needs it skips.
set -e
out=$1
rm -rf "$out"
mkdir -p "$out"
if command -v dfu-util >/dev/null 2>&1; then
  # Standard output and standard error share one pipe in the service as well. Without a device
  # the tool prints only its heading.
  dfu-util -l >"$out/listing.txt" 2>&1 || true
fi
if command -v dfu-suffix >/dev/null 2>&1; then
  printf 'firmware image' >"$out/suffixed.dfu"
  dfu-suffix -a "$out/suffixed.dfu" -v c4e2 -p 8351 -d 0x0123 >/dev/null
fi
