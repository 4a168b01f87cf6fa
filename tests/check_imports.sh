#!/bin/sh
# Fails unless every DLL that the given Windows executables import is a Windows system DLL, so the
# executables run with nothing beside them (no libstdc++, libgcc or winpthread DLL).
#   check_imports.sh OBJDUMP EXE...
objdump=$1
shift
allowed='^(kernel32|advapi32|user32|msvcrt|ntdll|ws2_32|shell32|ole32|rpcrt4|sechost|setupapi|cfgmgr32|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
status=0
for exe in "$@"; do
  dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
  [ -n "$dlls" ] || { echo "$exe: no imports found"; status=1; }
  for dll in $dlls; do
    if echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
      echo "$exe: $dll"
    else
      echo "$exe: $dll is not a Windows system DLL"
      status=1
    fi
  done
done
exit $status
