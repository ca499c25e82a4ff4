#!/bin/bash
# rivak_imports_check.sh RIVAK_EXE: reads rivak.exe's import table (objdump -p)
# and names every DLL in it that may not be there. The loader brings these in
# before the program's first line, that is before it restricts the DLL search
# to System32, so only KnownDLLs that load nothing by name may stay; user32,
# shell32, ole32, comctl32 and the like have to be delay-loaded
# (cmake/DelayImport.cmake).
set -u
exe=$1
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump) || { echo "FAIL: no objdump"; exit 1; }
table=$("$objdump" -p "$exe") || { echo "FAIL: objdump cannot read $exe"; exit 1; }
mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$table" | tr '[:upper:]' '[:lower:]')
((${#dlls[@]})) || { echo "FAIL: no import table found in $exe"; exit 1; }

# KnownDLLs whose loading reaches no other DLL by a bare name. Not user32 or
# gdi32: Wine's user32 imports version.dll, the most planted name of all.
safe=" kernel32.dll msvcrt.dll ntdll.dll "
failures=0
for dll in "${dlls[@]}"; do
  if [[ $safe == *" $dll "* ]]; then
    echo "ok: $dll"
  else
    case $dll in
      comctl32.dll) why="common controls (version 6 through the manifest) load other DLLs by name" ;;
      user32.dll | gdi32.dll | shell32.dll | ole32.dll | oleaut32.dll | shlwapi.dll)
        why="a KnownDLL, but it loads others by name" ;;
      *) why="not a KnownDLL: Windows would look for it beside rivak.exe first" ;;
    esac
    echo "FAIL: $dll is imported at start-up ($why); delay-load it"
    failures=$((failures + 1))
  fi
done
((failures == 0))
