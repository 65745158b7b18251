#!/bin/sh
# The program must import nothing but kernel32, user32 and msvcrt: no MinGW
# runtime beside it, and no other system DLL, which (or whose own imports)
# Windows may look for in the program's folder first. These three and what
# they need are known DLLs, always taken from the system folder; the program
# loads the shell's DLLs itself, by their full path. It must also be a GUI
# program of the expected format and, when 32-bit, be marked
# large-address-aware.
# usage: check_imports.sh OBJDUMP PROGRAM [FORMAT]   (default pei-i386)
set -eu
# objdump words its output in the user's language; what is matched here is
# its English.
export LC_ALL=C
objdump=$1
program=$2
format=${3:-pei-i386}
dlls=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
if [ -z "$dlls" ]; then
    echo "no imports found in $program" >&2
    exit 1
fi
status=0
for dll in $dlls; do
    case "$dll" in
        kernel32.dll|user32.dll|msvcrt.dll) echo "known DLL: $dll" ;;
        *) echo "imports $dll: only kernel32, user32 and msvcrt may be imported" >&2; status=1 ;;
    esac
done
"$objdump" -f "$program" | grep -q "file format $format\$" || { echo "not a $format program" >&2; status=1; }
"$objdump" -p "$program" | grep -q 'Subsystem.*(Windows GUI)' || { echo "not a GUI program" >&2; status=1; }
# A 32-bit program gets 4 GiB of addresses on 64-bit Windows only when its
# header says it is large-address-aware.
if [ "$format" = pei-i386 ]; then
    "$objdump" -p "$program" | sed -n '/^Characteristics/,/^$/p' | grep -q 'large address aware' ||
        { echo "not marked large-address-aware" >&2; status=1; }
fi
exit $status
