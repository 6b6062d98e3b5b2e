#!/usr/bin/env bash
# Checks the program's import table against the committed list of what it may
# import, each entry with the oldest Windows that has it.
set -u
exe="$1"
list="$(dirname "$0")/allowed-imports.txt"
passed=0
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

imports=$(i686-w64-mingw32-objdump -p "$exe" |
  awk '/DLL Name:/{dll=toupper($3); next} dll!="" && /^\t[0-9a-f]+\t/{print dll, $3}' | sort -u)
[ -n "$imports" ] || fail "no import table read from $exe"

while read -r dll function; do
  [ -n "$dll" ] || continue
  case "$dll" in
    KERNEL32.DLL|USER32.DLL|GDI32.DLL|ADVAPI32.DLL|MSVCRT.DLL) ;;
    *) fail "$dll is imported: only kernel32, user32, gdi32, advapi32 and msvcrt are always taken from the system folder"; continue ;;
  esac
  if grep -qE "^$dll +$function +" "$list"; then
    passed=$((passed + 1))
  else
    fail "$dll $function is not in the list: add it with the oldest Windows that has it, or look it up at run time if that is newer than XP"
  fi
done <<< "$imports"

# Every entry of the list is something XP SP3 already has.
while read -r dll function oldest; do
  case "$dll" in ''|'#'*) continue ;; esac
  case "$oldest" in
    95|98|NT4|2000|XP|XP-SP1|XP-SP2|XP-SP3) passed=$((passed + 1)) ;;
    *) fail "$dll $function needs Windows $oldest, newer than XP SP3" ;;
  esac
done < "$list"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
