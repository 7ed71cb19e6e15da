#!/bin/sh
# The launcher template's import table: user32.dll is loaded only where a window or message box is needed,
# advapi32.dll at the first call of one of its functions (launcher/common/advapi32.cpp), so the template
# must import neither. usage: imports_test.sh OBJDUMP LAUNCHER
objdump=$1
launcher=$2
imports=$("$objdump" -p "$launcher" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "$launcher imports:" $imports
# An empty list would mean the table was not read at all, not that it is clean.
echo "$imports" | grep -qix 'kernel32.dll' || { echo "no import of kernel32.dll found"; exit 1; }
if echo "$imports" | grep -qix 'user32.dll'; then
    echo "user32.dll is imported"
    exit 1
fi
if echo "$imports" | grep -qix 'advapi32.dll'; then
    echo "advapi32.dll is imported:" $("$objdump" -p "$launcher" |
        sed -n '/DLL Name: ADVAPI32/I,/DLL Name/p' | awk 'NF >= 3 && $1 ~ /^[0-9a-f]+$/ && $NF !~ /^[0-9a-f]+$/ { print $NF }')
    echo "give each of these functions a slot in launcher/common/advapi32.cpp"
    exit 1
fi
