#!/usr/bin/env bash
# The update finished by a restart: while a word processor holds the engine,
# a silent run queues both new files for the next restart and ends with 3010;
# a second run queues nothing more; the restart puts both in place.
#
#   restart_test.sh <actualizador.exe> <word_processor.exe> <engine_v1.dll> <build dir> <automate.exe>
#
# The restart ends every program of the prefix, so the case has a prefix, a
# wineserver and a display of its own (<build dir>/restart/wine, created once
# and reused): the cases that run at the same time on the shared prefix never
# see it. Wine carries out the queued renames when the prefix starts again.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=$(realpath "$1")
word_processor=$(realpath "$2")
engine_v1=$(realpath "$3")
build_dir=$(realpath "$4")
automate=$(realpath "$5")
export LC_ALL=C

. "$here/../support/check.sh"
unset DISPLAY
. "$here/../../scripts/wine-env.sh"
wine_env_start "$build_dir/restart" || give_up "its Wine prefix is not ready"
drive_c=$WINEPREFIX/drive_c

key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
entry='C:\Office\Microsoft Shared\Web\X.DLL'
proof="$drive_c/Office/Microsoft Shared/PROOF"
downloads="$drive_c/Descargas"
session='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'

clean_up() {
  wineserver -k 2>/dev/null
  wine reg delete "$key" /v "$entry" /f >/dev/null 2>&1
  wine reg delete "$session" /v PendingFileRenameOperations /f >/dev/null 2>&1
  rm -rf "$drive_c/Office" "$drive_c/Office.real" "$drive_c/Other" "$downloads"
}
trap 'clean_up; wine_env_stop' EXIT
clean_up
# clean_up ended every program of the prefix, the desktop's holder too.
wine_env_hold_desktop || give_up "the desktop of its prefix is not held"

mkdir -p "$proof" "$downloads"
cp "$engine_v1" "$proof/QUENDOR.DLL"
printf 'QUENDOR.LEX vello\r\n' >"$proof/QUENDOR.LEX"
# The new engine: the build's fake engine, a real DLL, labelled at its end.
{ cat "$(dirname "$engine_v1")/fake_engine.dll"; printf 'QUENDOR.DLL novo\r\n'; } >"$downloads/QUENDOR.DLL"
printf 'QUENDOR.LEX novo\r\n' >"$downloads/QUENDOR.LEX"
cp "$program" "$downloads/actualizador.exe"
cp "$word_processor" "$downloads/word_processor.exe"
wine reg add "$key" /v "$entry" /t REG_DWORD /d 1 /f >/dev/null 2>&1

# Wine's event log is a stub: it prints each event's text on the eventlog
# channel, and its type and ID in a fixme line of advapi.
events=$build_dir/restart/events.txt
# A run without switches, cancelled at the welcome window, writes no event
# and registers no event source.
source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Actualizador corrector galego'
wine reg delete "$source_key" /f >/dev/null 2>&1
title='Instalador corrector de galego Brenca'
pid=$(WINEDEBUG=-all,+eventlog,fixme+advapi wine "$automate" launch 'C:\Descargas\actualizador.exe' --wait-title "$title" \
  </dev/null 2>"$events" | tr -d '\r')
wine "$automate" click "$pid" "$title" Cancelar --wait-exit 10000 </dev/null >/dev/null 2>&1
code=$?
check "a run without switches, cancelled, ends with 2 (got $code)" test "$code" = 2
check "and writes no event" test "$(grep -c ReportEventW "$events")" = 0
check "nor registers the event source" bash -c '! wine reg query "$1" >/dev/null 2>&1' _ "$source_key"

# The word processor has the engine loaded and holds it open.
engine='C:\Office\Microsoft Shared\PROOF\QUENDOR.DLL'
wine 'C:\Descargas\word_processor.exe' "$engine" "$engine" </dev/null >/dev/null 2>&1 &
for _ in $(seq 100); do [ -e "$downloads/word_processor.exe.ready" ] && break; sleep 0.1; done
check "the word processor holds the engine" test -e "$downloads/word_processor.exe.ready"

queue() { wine reg query "$session" /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' | grep Pending; }
staged() { ls "$proof" | grep -c '^QND'; }
run() {
  WINEDEBUG=-all,+eventlog,fixme+advapi timeout 120 wine 'C:\Descargas\actualizador.exe' /S '/LOG=C:\Descargas\a.log' \
    </dev/null >/dev/null 2>"$events"
}
# Only the low 8 bits of the exit code reach this shell: 3010 arrives as 194.
run
code=$?
check "the silent run ends with 3010 (got $code, 194 here)" test "$code" = 194
check "its log says so" grep -qF "Remata co código 3010:" "$downloads/a.log"
check "and so does its one Application event" test "$(grep -cF 'ReportEventW L"Remata co c\00f3digo 3010:' "$events")" = 1
check "a warning (2) of ID 130" grep -qE 'ReportEventW \([0-9A-F]+,0x0002,0x0000,0x00000082,' "$events"
check "and the source it is written under is registered" bash -c 'wine reg query "$1" /v EventMessageFile >/dev/null 2>&1' _ "$source_key"
check "the log says so before its closing line, which stays the last" \
  bash -c 'grep -qF "Rexistrada a orixe de eventos" "$1" && tail -n 1 "$1" | grep -qF "Remata co código 3010:"' _ "$downloads/a.log"
check "and that Windows refused the engine for a sharing violation" \
  grep -qF "erro de Windows 32 (Sharing violation.): $engine" "$downloads/a.log"
first=$(queue)
for name in QUENDOR.DLL QUENDOR.LEX; do
  check "the queue replaces $name" grep -qF "!\\??\\C:\\Office\\Microsoft Shared\\PROOF\\$name" <<<"$first"
done
check "the engine is still the old one" cmp -s "$engine_v1" "$proof/QUENDOR.DLL"
check "two new files wait beside the old ones" test "$(staged)" = 2

run
code=$?
check "a second run ends with 3010 too (got $code)" test "$code" = 194
check "and queues nothing more" test "$(queue)" = "$first"
check "nor leaves another copy" test "$(staged)" = 2

# The restart: every program ends, and Windows starts again.
restart() {
  wineserver -k 2>/dev/null
  wineboot -r </dev/null >/dev/null 2>&1
  wineserver -w
  wine_env_hold_desktop || give_up "the desktop of its prefix is not held after the restart"
}
restart
check "after the restart the engine is the new one" cmp -s "$downloads/QUENDOR.DLL" "$proof/QUENDOR.DLL"
check "and the lexicon too" cmp -s "$downloads/QUENDOR.LEX" "$proof/QUENDOR.LEX"
check "nothing else is left in the proofing folder but the empty lock file" \
  test "$(ls -A "$proof" | tr '\n' ' ')" = "QUENDOR.DLL QUENDOR.LEX actualizador-corrector-galego.lock " -a ! -s "$proof/actualizador-corrector-galego.lock"
check "the queue is empty" test -z "$(queue)"

# Another program's work queued on the files' names, with nothing holding
# them: ours is queued after it, and the restart leaves the new pair. From
# here the proofing folder is reached through a link, which the log names.
mv "$drive_c/Office" "$drive_c/Office.real"
ln -s Office.real "$drive_c/Office"
mkdir -p "$drive_c/Other"
cp "$(dirname "$engine_v1")/engine_v2.dll" "$drive_c/Other/newer.dll"
# The new engine is of version 1.0 now, the installed one of none: theirs, 2.0, is newer.
cp "$engine_v1" "$downloads/QUENDOR.DLL"
set_queue() {
  local hex
  hex=$({ printf '%s\0' "$@"; printf '\0'; } | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',')
  { printf '\xff\xfe'; printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n"PendingFileRenameOperations"=hex(7):%s\r\n' \
      "HKEY_LOCAL_MACHINE${session#HKLM}" "$(sed 's/^,//; s/,$//' <<<"$hex")" | iconv -f UTF-8 -t UTF-16LE; } \
    >"$build_dir/restart/queue.reg"
  wine regedit /s "$(winepath -w "$build_dir/restart/queue.reg" 2>/dev/null)"
}
# theirs <what> <exit code, its low 8 bits> <queued strings...>
theirs() {
  cp "$(dirname "$engine_v1")/fake_engine.dll" "$proof/QUENDOR.DLL"
  printf 'QUENDOR.LEX vello\r\n' >"$proof/QUENDOR.LEX"
  set_queue "${@:3}"
  run
  code=$?
  check "$1: the run ends with $2 (got $code)" test "$code" = "$2"
  restart
  check "$1: after the restart the new pair is in place" \
    bash -c 'cmp -s "$1/QUENDOR.DLL" "$2/QUENDOR.DLL" && cmp -s "$1/QUENDOR.LEX" "$2/QUENDOR.LEX"' _ "$downloads" "$proof"
}
folder='C:\Office\Microsoft Shared\PROOF'
theirs "their delete of the lexicon" 194 "\\??\\$folder\\QUENDOR.LEX" ""
check "the log names the link" grep -qF "ligazón simbólica en C:\\Office:" "$downloads/a.log"
# Without "!" their rename fails at the restart: it changes nothing, and the pair is replaced now.
theirs "their newer engine without !" 0 '\??\C:\Other\newer.dll' "\\??\\$folder\\QUENDOR.DLL"
check "whose rename failed" cmp -s "$(dirname "$engine_v1")/engine_v2.dll" "$drive_c/Other/newer.dll"
# Their chain ends in an older engine, though its last link is now a twin of ours.
printf 'QUENDOR.DLL vello\r\n' >"$drive_c/Other/old.dll"
cp "$downloads/QUENDOR.DLL" "$drive_c/Other/B.dll"
theirs "their chain, old onto B and B onto the engine" 194 '\??\C:\Other\old.dll' '!\??\C:\Other\B.dll' \
  '\??\C:\Other\B.dll' "!\\??\\$folder\\QUENDOR.DLL"

# Another program removes the speller while a newer engine is installed:
# nothing is changed or queued, and the restart leaves no speller.
cp "$(dirname "$engine_v1")/engine_v2.dll" "$proof/QUENDOR.DLL"
set_queue "\\??\\$folder\\QUENDOR.DLL" "" "\\??\\$folder\\QUENDOR.LEX" ""
run
code=$?
check "the speller being removed over a newer engine: the run ends with 4 (got $code)" test "$code" = 4
restart
check "and after the restart neither file is there" test ! -e "$proof/QUENDOR.DLL" -a ! -e "$proof/QUENDOR.LEX"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
