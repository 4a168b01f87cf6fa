#!/bin/sh
# Fails unless every DLL that the given Windows executables import is a Windows system DLL, so the
# executables run with nothing beside them (no libstdc++, libgcc or winpthread DLL).
# The system DLLs are those of packaging/system-dlls.
#   check_imports.sh OBJDUMP EXE...
objdump=$1
shift
allowed=$(grep -v '^#' "$(dirname "$0")/../packaging/system-dlls" | paste -sd '|')
[ -n "$allowed" ] || { echo "no system DLLs in packaging/system-dlls"; exit 1; }
status=0
for exe in "$@"; do
  dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
  [ -n "$dlls" ] || { echo "$exe: no imports found"; status=1; }
  for dll in $dlls; do
    if echo "$dll" | grep -Eqix "$allowed"; then
      echo "$exe: $dll"
    else
      echo "$exe: $dll is not a Windows system DLL"
      status=1
    fi
  done
done
exit $status
