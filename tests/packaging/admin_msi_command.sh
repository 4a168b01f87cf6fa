#!/usr/bin/env bash
# Runs the direct packaging/build-msi call of docs/administrators.md as a user would, from the
# repository's root after a fresh build: the page's own command, its placeholders for the user's
# dfu-util.exe and firmware package filled in, must build an MSI that carries the build's
# executable and message DLL, the build's runtime notices and both payload files.
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
printf 'MZ stand-in for dfu-util.exe\n' >"$work/payload/dfu-util.exe"
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

echo "$failures failed (files in $work)"
[[ $failures -eq 0 ]]
