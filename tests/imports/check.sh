#!/usr/bin/env bash
# Checks that EXE can load on Windows XP SP3: Wine exports every function of every
# Windows, so only the import table can show it. Fails, naming each, on a DLL other
# than Windows' own five, an import missing from LIST or listed for a Windows after
# XP, and an OS or subsystem version in the PE header above 5.1.
#   check.sh EXE [LIST]
set -uo pipefail
exe=$1
list=${2:-$(dirname "$0")/xp.txt}
header=$(i686-w64-mingw32-objdump -p "$exe") || { echo "imports: cannot read $exe" >&2; exit 1; }
awk -v listfile="$list" '
    BEGIN {
        while ((getline line < listfile) > 0) {
            if (line ~ /^#/ || line ~ /^[ \t]*$/) continue
            split(line, f)
            version[f[1] " " f[2]] = f[3]
        }
        split("kernel32 user32 gdi32 advapi32 msvcrt", known)
        for (i in known) allowed[known[i]] = 1
    }
    /^Major(OSystem|Subsystem)Version/ { major[$1 ~ /OSystem/ ? "OS" : "subsystem"] = $2 }
    /^Minor(OSystem|Subsystem)Version/ { minor[$1 ~ /OSystem/ ? "OS" : "subsystem"] = $2 }
    /^(The|PE File)/ { dll = "" }
    /DLL Name:/ {
        dll = tolower($3); sub(/\.dll$/, "", dll); dlls++
        if (!(dll in allowed)) { print "FAIL DLL not allowed (only kernel32, user32, gdi32, advapi32, msvcrt): " $3; bad++ }
        next
    }
    # An import: "vma hint name", or "vma <none> ordinal" for one taken by number.
    dll != "" && /^\t[0-9a-f]+\t/ {
        name = NF >= 3 ? $3 : "ordinal " $2
        key = dll " " name; count++; seen[key] = 1
        if (!(key in version)) { print "FAIL not in the list: " dll " " name; bad++ }
        else if (version[key] != "2000" && version[key] != "XP") {
            print "FAIL needs Windows " version[key] ": " dll " " name; bad++
        }
    }
    END {
        for (k in major) if (major[k] * 100 + minor[k] > 501) {
            print "FAIL " k " version " major[k] "." minor[k] " is above 5.1"; bad++
        }
        if (!("OS" in major) || !("subsystem" in major)) { print "FAIL no OS or subsystem version in the header"; bad++ }
        for (k in version) if (!(k in seen)) { print "FAIL listed but not imported: " k; bad++ }
        if (count == 0) { print "FAIL no imports read"; bad++ }
        if (bad) exit 1
        printf "imports: %d functions from %d DLLs, all in Windows XP; OS version %d.%d, subsystem %d.%d\n",
            count, dlls, major["OS"], minor["OS"], major["subsystem"], minor["subsystem"]
    }' <<<"$header"
