#!/usr/bin/env bash
# Runs the direct packaging/build-msi call of docs/administrators.md as a user would, from the
# repository's root after a fresh build: the page's own command, its placeholders for the user's
# dfu-util.exe and firmware package filled in, must build an MSI that carries the build's
# executable and message DLL, the build's runtime notices and both payload files. A tool that
# imports a DLL Windows does not bring is refused.
#   admin_msi_command.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
work=$build/admin-msi-command
rm -rf "$work"
mkdir -p "$work/root/build" "$work/payload" "$work/extracted" || exit 1

failures=0
fail() { failures=$((failures + 1)); echo "FAILED: $*"; }
ok() { echo "ok: $*"; }

# The lines after "# or directly" up to the end of their code block.
command=$(awk '/^# or directly/ { found = 1; next } found && /^```/ { exit } found' "$source_dir/docs/administrators.md")
[[ $command == packaging/build-msi* ]] || { echo "FAILED: no direct build-msi call in docs/administrators.md"; exit 1; }

# A repository root whose build/windows is this build, and the user's own files.
ln -s "$source_dir/packaging" "$work/root/packaging"
ln -s "$build" "$work/root/build/windows"
cp "$build/dfu-util/dfu-util.exe" "$work/payload/dfu-util.exe" || exit 1
printf 'stand-in firmware package\n' >"$work/payload/orvale-0102.dfu"
command=${command//\/path\/to\//$work/payload/}

if (cd "$work/root" && bash -c "$command") >"$work/build-msi.log" 2>&1; then
  ok "the page's build-msi call runs in a build tree"
else
  fail "the page's build-msi call fails:"
  sed 's/^/  /' "$work/build-msi.log"
fi
(cd "$work/extracted" && msiextract "$work/root/out.msi" >/dev/null 2>&1)
carries() {  # carries NAME ORIGINAL
  local found
  found=$(find "$work/extracted" -name "$1" -type f | head -n 1)
  if [[ -n $found ]] && cmp -s "$found" "$2"; then ok "the MSI carries $1"; else fail "the MSI lacks $1 or carries another"; fi
}
carries QuorlanWindowsUpdateService.exe "$build/service/QuorlanWindowsUpdateService.exe"
carries QuorlanEventMessages.dll "$build/eventlog/messages/QuorlanEventMessages.dll"
carries third-party-notices.txt "$build/third-party-notices.txt"
carries dfu-util.exe "$work/payload/dfu-util.exe"
carries orvale-0102.dfu "$work/payload/orvale-0102.dfu"

# A tool that imports a DLL Windows does not bring: build-msi refuses it and names the DLL.
mkdir -p "$work/foreign"
printf 'int foreign(void) { return 0; }\n' >"$work/foreign/foreign.c"
printf 'int foreign(void);\nint main(void) { return foreign(); }\n' >"$work/foreign/tool.c"
if x86_64-w64-mingw32-gcc -shared -o "$work/foreign/libusb-1.0.dll" "$work/foreign/foreign.c" &&
   x86_64-w64-mingw32-gcc -o "$work/foreign/dfu-util.exe" "$work/foreign/tool.c" \
     "$work/foreign/libusb-1.0.dll"; then
  if "$source_dir/packaging/build-msi" "$work/foreign.msi" \
       "$build/service/QuorlanWindowsUpdateService.exe" \
       --messages "$build/eventlog/messages/QuorlanEventMessages.dll" \
       --tool "$work/foreign/dfu-util.exe" >"$work/foreign.log" 2>&1; then
    fail "build-msi took a tool that imports libusb-1.0.dll"
  elif grep -q 'imports libusb-1.0.dll, which is not a Windows system DLL' "$work/foreign.log"; then
    ok "build-msi refuses a tool that imports libusb-1.0.dll, naming it"
  else
    fail "build-msi refused the tool without naming libusb-1.0.dll:"
    sed 's/^/  /' "$work/foreign.log"
  fi
else
  fail "cannot build the tool that imports libusb-1.0.dll"
fi

echo "$failures failed (files in $work)"
[[ $failures -eq 0 ]]
