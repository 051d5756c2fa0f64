#!/bin/sh
# Checks a Windows program as it is shipped: statically linked (it imports only DLLs that every
# Windows has, no libstdc++, libgcc or winpthread DLL), with a version resource and an
# application manifest.
# Usage: check-windows-program.sh OBJDUMP PROGRAM.exe
objdump=$1
program=$2
headers=$("$objdump" -p "$program") || exit 1
status=0
for dll in $(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    case $(printf '%s' "$dll" | tr 'A-Z' 'a-z') in
        kernel32.dll | msvcrt.dll | user32.dll | gdi32.dll | comctl32.dll | shell32.dll | \
            ole32.dll | advapi32.dll | setupapi.dll | cfgmgr32.dll | uxtheme.dll | \
            api-ms-win-*) ;;
        *) echo "$program imports $dll, which is not part of Windows"; status=1 ;;
    esac
done
# Resource types 16 (version) and 24 (manifest) in the resource directory's type table.
for type in 10 18; do
    if ! printf '%s\n' "$headers" | grep -q "Entry: ID: 0x0000$type"; then
        echo "$program has no resource of type 0x$type"
        status=1
    fi
done
exit $status
