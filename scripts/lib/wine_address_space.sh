# Runs the script that sources it again with address-space randomisation off, unless it already
# runs so; every Wine process it starts afterwards inherits that. Sourced (by sh or bash) by each
# script that starts Wine, before its first Wine process:
#   . path/to/scripts/lib/wine_address_space.sh && without_address_randomisation "$0" "$@"
#
# Why: Debian's Wine 8 comes without wine64-preloader, so its wine64 loader is not
# position-independent and sits at 0x7d000000, and Linux puts each process's heap (brk) at a random
# place up to about 1 GiB above it. Now and then that heap covers 0x7ffe0000, the page every Windows
# process needs for KUSER_SHARED_DATA, which nothing reserves first; Wine then logs
# "err:virtual:virtual_alloc_first_teb failed to map the shared user data" and the process start
# fails: "Internal error." from net start, "ShellExecuteEx failed" from start, "CreateProcess
# Failed!" from the service, or a "wine X" that exits 1 without a word. About one start in 8,000
# fails so, more with a larger heap; with randomisation off the heap sits right after the loader and
# none fails (docs/reliability.md has the figures, scripts/wine-process-starts measures them).
# Windows has no such limit: only the Wine runs of tests and demos need this.

without_address_randomisation() {
  # ADDR_NO_RANDOMIZE in the personality, or randomisation off for the whole machine.
  if [ $(( 0x$(cat /proc/self/personality) & 0x0040000 )) -ne 0 ] ||
     [ "$(cat /proc/sys/kernel/randomize_va_space 2>/dev/null)" = 0 ]; then
    return 0
  fi
  if [ -n "${QWUS_ADDRESS_RANDOMISATION_TRIED:-}" ] || ! setarch "$(uname -m)" -R true 2>/dev/null; then
    echo "${1##*/}: this machine refuses to turn off address-space randomisation" \
      "(setarch $(uname -m) -R: personality(ADDR_NO_RANDOMIZE) refused or without effect)." >&2
    echo "Without that, about one Wine process start in 8,000 fails at random, so the Wine runs" \
      "are not started. Run them where personality(2) is allowed, or turn randomisation off for" \
      "the machine: sysctl kernel.randomize_va_space=0" >&2
    exit 1
  fi
  export QWUS_ADDRESS_RANDOMISATION_TRIED=1
  if [ -n "${BASH_VERSION:-}" ]; then
    exec setarch "$(uname -m)" -R "$BASH" "$@"
  fi
  exec setarch "$(uname -m)" -R "$@"
}
