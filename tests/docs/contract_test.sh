#!/usr/bin/env bash
# Every exit code the program declares (host/exit_codes.h) is told with the
# words the log writes for it (host/exit_codes.cpp) in the help box, in the
# README's table and in LEME.txt; the last line of the sample log in the
# administrators' guide (docs/deploying.md) is the one the program writes for 0.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
export LC_ALL=C.UTF-8
. tests/support/check.sh

# The C++ sources write non-ASCII letters as \u escapes.
decode() { printf '%b' "$1"; }
# The text of the first C++ wide literal on the first line that matches the pattern.
literal() { grep -E "$1" "$2" | head -1 | grep -oE 'L"[^"]*"' | head -1 | sed -E 's/^L"(.*)"$/\1/'; }
help_text=$(decode "$(grep -E '^ *IDS_HELP "' resources/app.rc | sed -E 's/^ *IDS_HELP "(.*)"$/\1/')")
leme=$(tr -d '\r' <packaging/LEME.txt | tr -s ' \n' '  ')
closing=$(decode "$(literal 'Remata co c' host/log.cpp)")

names=$(grep -oE 'kExit[A-Za-z]+ = [0-9]+' host/exit_codes.h)
check "host/exit_codes.h declares the codes" test -n "$names"
while read -r name _ code; do
  meaning=$(decode "$(literal "case $name:" host/exit_codes.cpp)")
  check "$code has a meaning in the log" test -n "$meaning"
  check "$code: the help box says \"$meaning\"" grep -qxF "$code"$'\t'"$meaning" <<<"$help_text"
  check "$code: the README's table says it" grep -qE "^\| $code \| .* \| $(sed 's/[][\.*^$()|?+]/\\&/g' <<<"$meaning") \|$" README.md
  check "$code: LEME.txt says it" grep -qF " $code $meaning" <<<" $leme"
done <<<"$names"

meaning0=$(decode "$(literal 'case kExitUpdated:' host/exit_codes.cpp)")
check "the sample log in docs/deploying.md ends with the line the program writes for 0" \
  grep -qE "\]  $(sed 's/[][\.*^$()|?+]/\\&/g' <<<"$closing")0: $meaning0\$" docs/deploying.md

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
