#!/usr/bin/env bash
# The Windows Installer package under Wine's own msiexec, one case per
# outcome: the speller not installed, install, reinstall, upgrade, a lower
# version over a higher one, uninstall, the feature removed (REMOVE=Update and
# REMOVE=ALL), the engine held by a word processor
# (and the restart), and an upgrade whose updater fails. After each: the exit
# code, the proofing folder, the payload folder and the registration.
#
#   msi_test.sh <build dir> <word_processor.exe>
#
# The packages are made by scripts/dist.sh, from the build tree. The restart
# ends every program of the prefix, so the case has a prefix, a wineserver
# and a display of its own (<build dir>/msi/wine, created once and reused).
# Under Wine everything runs as the prefix's user: that the updater runs as
# SYSTEM only Windows can show.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=$(realpath "$1")
word_processor=$(realpath "$2")
repo=$(cd "$here/../.." && pwd)
export LC_ALL=C

. "$repo/tests/support/check.sh"
unset DISPLAY
. "$repo/scripts/wine-env.sh"
wine_env_start "$build_dir/msi" || give_up "its Wine prefix is not ready"
drive_c=$WINEPREFIX/drive_c

key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
entry='C:\Office\Microsoft Shared\Web\X.DLL'
session='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
restart_key='HKLM\SOFTWARE\Actualizador corrector galego'
proof="$drive_c/Office/Microsoft Shared/PROOF"
payload="$drive_c/Program Files/Actualizador corrector galego"
# Made by the package under that name: Wine's own prefix has a "logs".
logs="$drive_c/windows/Logs"
# Packages and MSI logs, in a folder without spaces for cmd's sake.
packages=$drive_c/msi
tmp=$(mktemp -d)

# Each version of the product registered, as "<product code> <version>".
registered() {
  wine reg query "$uninstall" /s 2>/dev/null | tr -d '\r' | awk '
    /^HKEY_/ { code = $0; sub(/.*\\/, "", code) }
    $1 == "DisplayName" && /Actualizador do corrector de galego$/ { ours[code] = 1 }
    $1 == "DisplayVersion" { version[code] = $3 }
    END { for (c in ours) print c, version[c] }' | sort
}
clean_up() {
  local line
  registered | while read -r line; do wine msiexec /x "${line%% *}" /qn </dev/null >/dev/null 2>&1; done
  wineserver -k 2>/dev/null
  wine reg delete "$key" /v "$entry" /f >/dev/null 2>&1
  wine reg delete "$session" /v PendingFileRenameOperations /f >/dev/null 2>&1
  wine reg delete "$restart_key" /f >/dev/null 2>&1
  rm -rf "$drive_c/Office" "$packages" "$logs/actualizador-corrector-galego.log"
}
trap 'clean_up; wine_env_stop; rm -rf "$tmp"' EXIT
clean_up
# clean_up ended every program of the prefix, the desktop's holder too.
wine_env_hold_desktop || give_up "the desktop of its prefix is not held"

# The packages, as make dist makes them: 2.0.0 from the new engine's file
# version; 2.1.0 a new lexicon with the same engine; 2.2.0 the same files.
make_package() {  # make_package VERSION LEXICON [MSI_VERSION]
  local pair=$tmp/pair-$1
  mkdir -p "$pair" && cp "$build_dir/bin/engine_v2.dll" "$pair/QUENDOR.DLL" && printf '%s\r\n' "$2" >"$pair/QUENDOR.LEX"
  (cd "$repo" && env ${3:+MSI_VERSION=$3} DIST_DIR="$tmp/dist-$1" PAIR="$pair" bash scripts/dist.sh >"$tmp/dist-$1.log" 2>&1) &&
    mkdir -p "$packages" && cp "$tmp/dist-$1/actualizador-corrector-galego-$1.msi" "$packages/a$1.msi"
}
make_package 2.0.0 'QUENDOR.LEX novo' || give_up "make dist did not make the 2.0.0 package: $(cat "$tmp/dist-2.0.0.log")"
make_package 2.1.0 'QUENDOR.LEX aínda máis novo' 2.1.0 || give_up "make dist did not make the 2.1.0 package"
make_package 2.2.0 'QUENDOR.LEX aínda máis novo' 2.2.0 || give_up "make dist did not make the 2.2.0 package"
code_of() { msiinfo export "$packages/a$1.msi" Property | tr -d '\r' | awk '$1 == "ProductCode" { print $2 }'; }

# msiexec's exit code as Windows gives it, read inside Wine: the shell that
# started wine would see only its low 8 bits (3010 as 194, 1603 as 67).
msiexec_code() {  # msiexec_code CASE ARGUMENTS...: with a verbose log, C:\msi\CASE.log
  local case=$1; shift
  wine cmd /v:on /c "msiexec $* /qn /l*v C:\\msi\\$case.log & echo !errorlevel!" </dev/null 2>/dev/null | tr -d '\r' | tail -1
}
# The updater's closing line, as the package wrote it into its own log.
told() { grep -aq "^Actualizador do corrector: Remata co c[^ ]*digo $2:" "$packages/$1.log"; }
# How many runs of the updater the log has closed; nothing without a log.
runs() { [ -f "$logs/actualizador-corrector-galego.log" ] && grep -ac 'Remata co c' "$logs/actualizador-corrector-galego.log"; }
runs_since() { [ -n "$1" ] && [ "$(runs)" = $(($1 + $2)) ]; }  # runs_since BEFORE HOW_MANY
same_pair() {  # same_pair FOLDER VERSION
  cmp -s "$build_dir/bin/engine_v2.dll" "$1/QUENDOR.DLL" && cmp -s "$tmp/pair-$2/QUENDOR.LEX" "$1/QUENDOR.LEX"
}
payload_of() {  # payload_of VERSION: the updater, the pair and its list, as the package holds them
  same_pair "$payload" "$1" && cmp -s "$build_dir/bin/actualizador.exe" "$payload/actualizador.exe" &&
    unzip -p "$tmp/dist-$1/actualizador-corrector-galego-1.00.zip" QUENDOR.LST | cmp -s - "$payload/QUENDOR.LST"
}
old_speller() { cp "$build_dir/bin/engine_v1.dll" "$proof/QUENDOR.DLL" && printf 'QUENDOR.LEX vello\r\n' >"$proof/QUENDOR.LEX"; }
# Where Wine does otherwise than Windows: checked all the same, and told;
# a Wine that does it as Windows fails the test, so that the line becomes a check.
todo_wine() {
  local what=$1; shift
  if "$@"; then failed=$((failed + 1)); echo "FAIL - $what: Wine now does it, make it a check"
  else echo "todo - $what (Wine: $todo_why)"; fi
}
wine reg add "$key" /v "$entry" /t REG_DWORD /d 1 /f >/dev/null 2>&1
# XP has no C:\Windows\Logs, and a log the updater cannot open ends it with 1639.
rm -rf "$logs" "$drive_c/windows/logs"

# --- the speller not installed: the updater ends 4, the install fails ---
mkdir -p "$proof"
code=$(msiexec_code not-installed /i 'C:\msi\a2.0.0.msi')
check "speller not installed: msiexec ends 1603 (got $code)" test "$code" = 1603
check "the package ran the updater with /S and the startup script's log" grep -aqF \
  'Actualizador do corrector: "C:\Program Files\Actualizador corrector galego\actualizador.exe" /S /LOG="C:\windows\Logs\actualizador-corrector-galego.log"' \
  "$packages/not-installed.log"
check "whose folder it made first" test "$(runs)" = 1
check "its log gives the updater's closing line for 4" told not-installed 4
check "the payload is rolled back" test ! -e "$payload"
check "and nothing is registered" test -z "$(registered)"

# --- install, with a request for a restart left by an earlier install ---
old_speller
wine reg add "$restart_key" /v RestartRequested /t REG_DWORD /d 1 /f >/dev/null 2>&1
code=$(msiexec_code install /i 'C:\msi\a2.0.0.msi')
check "install: msiexec ends 0, the earlier request for a restart cleared (got $code)" test "$code" = 0
check "the proofing folder has the new pair" same_pair "$proof" 2.0.0
check "the payload folder has the updater, the pair and its list" payload_of 2.0.0
check "2.0.0 is registered, by the product code of its version" test "$(registered)" = "$(code_of 2.0.0) 2.0.0"
check "its log gives the updater's closing line for 0" told install 0
wine reg delete "$restart_key" /f >/dev/null 2>&1

# --- reinstall (Wine's msiexec /f is not implemented) ---
before=$(runs)
code=$(msiexec_code reinstall /i 'C:\msi\a2.0.0.msi' REINSTALL=ALL REINSTALLMODE=omus)
check "reinstall: msiexec ends 0 (got $code)" test "$code" = 0
check "the updater ran again" runs_since "$before" 1
check "and the proofing folder still has the pair" same_pair "$proof" 2.0.0
check "one registration, the same" test "$(registered)" = "$(code_of 2.0.0) 2.0.0"

# --- upgrade to a higher version ---
code=$(msiexec_code upgrade /i 'C:\msi\a2.1.0.msi')
check "upgrade: msiexec ends 0 (got $code)" test "$code" = 0
check "the proofing folder has the newer lexicon" same_pair "$proof" 2.1.0
check "the payload is the newer package's" payload_of 2.1.0
check "one registration left, the newer" test "$(registered)" = "$(code_of 2.1.0) 2.1.0"

# --- a lower version over a higher one ---
before=$(runs)
code=$(msiexec_code lower /i 'C:\msi\a2.0.0.msi')
check "lower over higher: refused with 1603 (got $code)" test "$code" = 1603
check "the updater did not run" runs_since "$before" 0
check "the higher version stays registered, alone" test "$(registered)" = "$(code_of 2.1.0) 2.1.0"
check "and its payload in place" payload_of 2.1.0

# --- uninstall ---
before=$(runs)
code=$(msiexec_code uninstall /x 'C:\msi\a2.1.0.msi')
check "uninstall: msiexec ends 0 (got $code)" test "$code" = 0
check "the payload is gone" test ! -e "$payload"
check "nothing is registered" test -z "$(registered)"
check "the speller is still the new one" same_pair "$proof" 2.1.0
check "the updater did not run" runs_since "$before" 0

# --- the feature removed, by name and as ALL, with a restart an earlier install left: nothing is run ---
code=$(msiexec_code install-again /i 'C:\msi\a2.1.0.msi')
check "installed again: msiexec ends 0 (got $code)" test "$code" = 0
wine reg add "$restart_key" /v RestartRequested /t REG_DWORD /d 1 /f >/dev/null 2>&1
before=$(runs)
for remove in Update ALL; do
  code=$(msiexec_code remove-$remove /i 'C:\msi\a2.1.0.msi' REMOVE=$remove)
  check "REMOVE=$remove: msiexec ends 0, no restart asked for (got $code)" test "$code" = 0
  check "the updater did not run" runs_since "$before" 0
  check "the payload is gone" test ! -e "$payload"
done
check "nothing is registered" test -z "$(registered)"
wine reg delete "$restart_key" /f >/dev/null 2>&1

# --- the engine held by a word processor: queued for the restart, 3010 ---
old_speller
engine='C:\Office\Microsoft Shared\PROOF\QUENDOR.DLL'
cp "$word_processor" "$packages/word_processor.exe"
wine 'C:\msi\word_processor.exe' "$engine" "$engine" </dev/null >/dev/null 2>&1 &
for _ in $(seq 100); do [ -e "$packages/word_processor.exe.ready" ] && break; sleep 0.1; done
check "the word processor holds the engine" test -e "$packages/word_processor.exe.ready"
code=$(msiexec_code held /i 'C:\msi\a2.0.0.msi')
check "engine in use: msiexec ends 3010 (got $code)" test "$code" = 3010
check "its log gives the updater's closing line for 3010" told held 3010
check "nothing is replaced yet" cmp -s "$build_dir/bin/engine_v1.dll" "$proof/QUENDOR.DLL"
check "2.0.0 is registered" test "$(registered)" = "$(code_of 2.0.0) 2.0.0"
wineserver -k 2>/dev/null
wineboot -r </dev/null >/dev/null 2>&1
wineserver -w
check "after the restart the proofing folder has the new pair" same_pair "$proof" 2.0.0
check "and the request for the restart, volatile, is gone" bash -c '! wine reg query "$1" >/dev/null 2>&1' _ "$restart_key"
wine_env_hold_desktop || give_up "the desktop of its prefix is not held after the restart"

# --- an upgrade whose updater fails: the speller was removed meanwhile ---
rm "$proof/QUENDOR.DLL"
code=$(msiexec_code failed-upgrade /i 'C:\msi\a2.2.0.msi')
check "failed upgrade: msiexec ends 1603 (got $code)" test "$code" = 1603
check "its log gives the updater's closing line for 4" told failed-upgrade 4
check "2.2.0 is not registered" bash -c '! grep -q " 2.2.0$" <<<"$1"' _ "$(registered)"
todo_why="its RemoveExistingProducts runs a separate msiexec for the older version, outside the transaction"
todo_wine "the older version stays registered" test "$(registered)" = "$(code_of 2.0.0) 2.0.0"
todo_wine "and its payload in place" payload_of 2.0.0

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
