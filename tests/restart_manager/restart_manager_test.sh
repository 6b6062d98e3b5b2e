#!/usr/bin/env bash
# Who holds the files, as every Windows since Vista answers it: through
# Restart Manager. Wine's own rstrtmgr.dll names nobody, so this prefix has a
# stand-in in its system folder (where the program loads it from, by full
# path) and a DLL override that makes Wine prefer it there; every other prefix
# keeps Wine's. The stand-in names whom each case writes into its answers,
# while a word processor holds the files, and writes down how it was called.
#
#   restart_manager_test.sh <actualizador.exe> <word_processor.exe> <engine_v1.dll>
#                           <rstrtmgr.dll> <automate.exe> <build dir>
#
# The prefix, its wineserver and its display are its own
# (<build dir>/restart-manager/wine, created once and reused).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=$(realpath "$1")
word_processor=$(realpath "$2")
engine_v1=$(realpath "$3")
stand_in=$(realpath "$4")
automate=$(realpath "$5")
build_dir=$(realpath "$6")
export LC_ALL=C

. "$here/../support/check.sh"
unset DISPLAY
. "$here/../../scripts/wine-env.sh"
wine_env_start "$build_dir/restart-manager" || give_up "its Wine prefix is not ready"
drive_c=$WINEPREFIX/drive_c
system32=$drive_c/windows/system32

key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
entry='C:\Office\Microsoft Shared\Web\X.DLL'
proof="$drive_c/Office/Microsoft Shared/PROOF"
downloads="$drive_c/Descargas"
session='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'
answers=$system32/rstrtmgr.answers
calls=$system32/rstrtmgr.calls
title='Instalador corrector de galego Brenca'

clean_up() {
  wineserver -k 2>/dev/null
  wine reg delete "$key" /v "$entry" /f >/dev/null 2>&1
  wine reg delete "$session" /v PendingFileRenameOperations /f >/dev/null 2>&1
  rm -rf "$drive_c/Office" "$downloads" "$answers" "$calls"
}
trap 'clean_up; wine_env_stop' EXIT
clean_up
# clean_up ended every program of the prefix, the desktop's holder too.
wine_env_hold_desktop || give_up "the desktop of its prefix is not held"

cp "$stand_in" "$system32/rstrtmgr.dll"
wine reg add 'HKCU\Software\Wine\DllOverrides' /v rstrtmgr /d native /f >/dev/null 2>&1
mkdir -p "$proof" "$downloads"
cp "$engine_v1" "$proof/QUENDOR.DLL"
printf 'QUENDOR.LEX vello\r\n' >"$proof/QUENDOR.LEX"
# The new engine: the build's fake engine, a real DLL, labelled at its end.
{ cat "$(dirname "$engine_v1")/fake_engine.dll"; printf 'QUENDOR.DLL novo\r\n'; } >"$downloads/QUENDOR.DLL"
printf 'QUENDOR.LEX novo\r\n' >"$downloads/QUENDOR.LEX"
cp "$program" "$downloads/actualizador.exe"
cp "$word_processor" "$downloads/word_processor.exe"
wine reg add "$key" /v "$entry" /t REG_DWORD /d 1 /f >/dev/null 2>&1

# The word processor has the engine loaded and holds both files open.
installed='C:\Office\Microsoft Shared\PROOF'
wine 'C:\Descargas\word_processor.exe' "$installed\\QUENDOR.DLL" "$installed\\QUENDOR.DLL" "$installed\\QUENDOR.LEX" \
  </dev/null >/dev/null 2>&1 &
for _ in $(seq 100); do [ -e "$downloads/word_processor.exe.ready" ] && break; sleep 0.1; done
check "the word processor holds the files" test -e "$downloads/word_processor.exe.ready"
# How the module snapshot names it: by its description.
snapshot='Procesador de textos de proba'

# Each case starts with nothing queued and the stand-in's answers (";" between lines).
prepare() {
  wine reg delete "$session" /v PendingFileRenameOperations /f >/dev/null 2>&1
  rm -f "$proof"/QND* "$downloads/a.log" "$calls"
  tr ';' '\n' <<<"$1" >"$answers"
}
queued() {
  local queue
  queue=$(wine reg query "$session" /v PendingFileRenameOperations 2>/dev/null | tr -d '\r')
  grep -qF "!\\??\\$installed\\QUENDOR.DLL" <<<"$queue" && grep -qF "!\\??\\$installed\\QUENDOR.LEX" <<<"$queue"
}
logged_names() { grep -F 'Programa que os usa: ' "$downloads/a.log" | sed 's/.*Programa que os usa: //' | tr -d '\r' | paste -sd';'; }
# Each RmGetList call as "buffer->result:needed".
list_calls() { grep '^RmGetList ' "$calls" 2>/dev/null | awk '{ print $3 "->" $5 ":" $6 }' | paste -sd' '; }
# Every session started is ended, and registers the two installed files by their full paths.
sessions_kept() {
  local started
  started=$(grep -c '^RmStartSession -> 0 ' "$calls" 2>/dev/null)
  test "${started:-0}" = "$(grep -c '^RmEndSession [0-9]* -> 0$' "$calls" 2>/dev/null)" &&
    test "$(grep -c '^  file ' "$calls" 2>/dev/null)" = $((${started:-0} * 2)) &&
    { [ "${started:-0}" = 0 ] || { grep -qxF "  file $installed\\QUENDOR.DLL" "$calls" &&
                                   grep -qxF "  file $installed\\QUENDOR.LEX" "$calls"; }; } &&
    ! grep -q '^unknown answer' "$calls"
}

# A silent run with these answers: the names it logs (";" between them), its
# RmGetList calls, and always the unattended outcome: both files queued, 3010.
row() {
  local what=$1 code
  prepare "$2"
  timeout 120 wine 'C:\Descargas\actualizador.exe' /S '/LOG=C:\Descargas\a.log' </dev/null >/dev/null 2>&1
  code=$?
  check "$what: names \"$3\" (logged \"$(logged_names)\")" test "$(logged_names)" = "$3"
  check "$what: RmGetList calls \"$4\" (got \"$(list_calls)\")" test "$(list_calls)" = "$4"
  check "$what: every session ended, the two files registered" sessions_kept
  # Only the low 8 bits of the exit code reach this shell: 3010 arrives as 194.
  check "$what: ends with 3010 (got $code, 194 here)" test "$code" = 194
  check "$what: queues both files for the restart" queued
}

rm_name='Editor de textos Ñandú'  # a name the module snapshot cannot give
row "Restart Manager's names, each once" \
  "app 4242 1 $rm_name;app 4243 1 $rm_name;app 4250 5 Revisor ortográfico" \
  "$rm_name;Revisor ortográfico" "0->234:3 3->0:3"
row "Restart Manager names nobody: the module snapshot's name" "" "$snapshot" "0->0:0"
row "a list that grows between calls" "grow;app 11 1 Primeiro;app 12 1 Segundo;app 13 5 Terceiro" \
  "Primeiro;Segundo;Terceiro" "0->234:1 1->234:2 2->234:3 3->0:3"
row "a list that never settles" "grow$(for i in 1 2 3 4 5 6 7 8; do printf ';app 2%s 1 Programa %s' $i $i; done)" \
  "$snapshot" "0->234:1 1->234:2 2->234:3 3->234:4 4->234:5 5->234:6"
row "no session can be started" "fail RmStartSession 353;app 4242 1 $rm_name" "$snapshot" ""
row "the files cannot be registered" "fail RmRegisterResources 29;app 4242 1 $rm_name" "$snapshot" ""
row "RmGetList fails" "fail RmGetList 121;app 4242 1 $rm_name" "$snapshot" "0->121:0"
row "RmGetList fails once the list is sized" "fail RmGetList 1223 2;app 4242 1 $rm_name;app 4250 5 Outro" \
  "$snapshot" "0->234:2 2->1223:0"

# A person sees Restart Manager's names in the question, and may finish at the restart.
prepare "app 4242 1 $rm_name;app 4250 5 Revisor ortográfico"
run_automate() { wine "$automate" "$@" 2>/dev/null | tr -d '\r'; }
pid=$(cd "$downloads" && run_automate launch 'C:\Descargas\actualizador.exe' --wait-title "$title")
run_automate click "$pid" "$title" Seguinte >/dev/null
box=""
for _ in $(seq 50); do
  box=$(run_automate list "$pid" | grep -A20 '#32770')
  grep -qF Continuar <<<"$box" && break
  sleep 0.2
done
check "the question names Restart Manager's programs" \
  grep -qF "\\n\\n$rm_name\\nRevisor ortográfico\\n\\n" <<<"$box"
check "and not the module snapshot's" bash -c '! grep -qF "$1" <<<"$2"' _ "$snapshot" "$box"
run_automate click "$pid" '#32770' Continuar >/dev/null
code=$(run_automate click "$pid" '#32770' OK --wait-exit 30000)
check "Continuar ends with 3010 (got $code)" test "$code" = 3010
check "and queues both files" queued

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
