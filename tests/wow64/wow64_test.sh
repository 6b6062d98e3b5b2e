#!/usr/bin/env bash
# The updater on 64-bit Windows: in a 64-bit (WoW64) Wine prefix, a 32-bit
# program reads the 32-bit view of HKLM\SOFTWARE, where a 32-bit office suite
# lists its shared files under "Program Files (x86)". The 64-bit view lists a
# proofing folder of its own that holds an old engine too; the updater must
# replace the files of the first and leave the second alone.
#
#   wow64_test.sh <actualizador.exe> <build dir>
#
# The updater runs silently (/S), as an administrator deploys it. The prefix
# lives in <build dir>/wow64/wine, is created once and reused, and has a
# wineserver and a display of its own: the 32-bit prefix's server and the
# shared desktop of the other cases are never touched.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=$(realpath "$1")
build_dir=$(realpath "$2")
export LC_ALL=C

. "$here/../support/check.sh"

[ -f "$program" ] || give_up "$1 not found: build first"

# A display of its own: whatever Wine shows for this prefix never takes the
# focus from a case running at the same time on the shared one.
unset DISPLAY
. "$here/../../scripts/wine-env.sh"
wine_env_start "$build_dir/wow64" win64 || give_up "its Wine prefix is not ready"
drive_c=$WINEPREFIX/drive_c

key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
entry32='C:\Program Files (x86)\Common Files\Microsoft Shared\PROOF\QUENDOR.DLL'
entry64='C:\Program Files\Common Files\Microsoft Shared\PROOF\QUENDOR.DLL'
proof32="$drive_c/Program Files (x86)/Common Files/Microsoft Shared/PROOF"
proof64="$drive_c/Program Files/Common Files/Microsoft Shared/PROOF"
downloads="$drive_c/Descargas/Corrector galego"
log="$drive_c/Descargas/actualizador.log"

# A fresh prefix has no shared-DLL key in either view and no proofing folder;
# "Microsoft Shared" under the 64-bit Common Files is Wine's own.
remove_folders() {
  rm -rf "$proof32" "$proof64" "$drive_c/Descargas"
  rmdir "$drive_c/Program Files (x86)/Common Files/Microsoft Shared" 2>/dev/null
  return 0
}
clean_up() {
  wine reg delete "$key" /v "$entry32" /f /reg:32 >/dev/null 2>&1
  wine reg delete "$key" /v "$entry64" /f /reg:64 >/dev/null 2>&1
  remove_folders
  cleaned=1
}
cleaned=""
trap '[ -n "$cleaned" ] || clean_up; wine_env_stop' EXIT
trap 'exit 130' INT TERM
# What a killed run left behind; its entries are written again below.
remove_folders

check "the prefix is a 64-bit one" grep -q '^#arch=win64' "$WINEPREFIX/system.reg"
check "it has a \"Program Files (x86)\" folder" test -d "$drive_c/Program Files (x86)"

mkdir -p "$proof32" "$proof64" "$downloads"
printf 'QUENDOR.DLL vello, 32 bits\r\n' >"$proof32/QUENDOR.DLL"
printf 'QUENDOR.LEX vello, 32 bits\r\n' >"$proof32/QUENDOR.LEX"
printf 'QUENDOR.DLL vello, 64 bits\r\n' >"$proof64/QUENDOR.DLL"
printf 'QUENDOR.LEX vello, 64 bits\r\n' >"$proof64/QUENDOR.LEX"
# The new engine: the build's fake engine beside the program, a real DLL, labelled at its end.
{ cat "$(dirname "$program")/fake_engine.dll"; printf 'QUENDOR.DLL novo\r\n'; } >"$downloads/QUENDOR.DLL"
printf 'QUENDOR.LEX novo\r\n' >"$downloads/QUENDOR.LEX"
cp "$program" "$downloads/actualizador.exe"
touch -d '2001-01-01 12:00' "$proof64"/*
state64_before=$(cd "$proof64" && ls -l --time-style=full-iso && sha256sum -- *)
wine reg add "$key" /v "$entry32" /t REG_DWORD /d 1 /f /reg:32 >/dev/null 2>&1
wine reg add "$key" /v "$entry64" /t REG_DWORD /d 1 /f /reg:64 >/dev/null 2>&1

# Were the two views one key, the "(x86)" entry would come first in it (Wine
# lists values sorted by name) and the case would prove nothing.
view() { wine reg query "$key" "/reg:$1" 2>/dev/null | tr -d '\r'; }
views_apart() {
  local v32 v64
  v32=$(view 32) && v64=$(view 64) &&
    grep -qF "$entry32" <<<"$v32" && ! grep -qF "$entry64" <<<"$v32" &&
    grep -qF "$entry64" <<<"$v64" && ! grep -qF "$entry32" <<<"$v64"
}
check "each view of the shared-DLL key lists its own proofing folder only" views_apart

# Only the low 8 bits of the exit code reach this shell; the log has all of it.
downloads_before=$(cd "$downloads" && sha256sum -- *)
start_ms=$(date +%s%3N)
timeout 120 wine 'C:\Descargas\Corrector galego\actualizador.exe' /S '/LOG=C:\Descargas\actualizador.log' \
  </dev/null >/dev/null 2>&1
code=$?
ms=$(($(date +%s%3N) - start_ms))
check "the silent updater ends with exit code 0 (got $code, after $ms ms)" test "$code" = 0
logged() { grep -qF "$1" "$log" || { sed 's/^/    | /' "$log" 2>/dev/null; return 1; }; }
check "its log says it ended with code 0" logged "Remata co código 0:"
check "its log says it ran under WoW64" logged "WoW64"
check "its log names the proofing folder under \"Program Files (x86)\"" \
  logged "Cartafol de corrección: C:\Program Files (x86)\Common Files\Microsoft Shared\PROOF"

check "the engine under \"Program Files (x86)\" is the new one" cmp -s "$downloads/QUENDOR.DLL" "$proof32/QUENDOR.DLL"
check "the lexicon under \"Program Files (x86)\" is the new one" cmp -s "$downloads/QUENDOR.LEX" "$proof32/QUENDOR.LEX"
check "that folder holds nothing else but the empty lock file" \
  test "$(ls -A "$proof32" | tr '\n' ' ')" = "QUENDOR.DLL QUENDOR.LEX actualizador-corrector-galego.lock " -a ! -s "$proof32/actualizador-corrector-galego.lock"
check "the 64-bit view's folder is untouched" \
  test "$(cd "$proof64" && ls -l --time-style=full-iso && sha256sum -- *)" = "$state64_before"
check "the program and the new files beside it are untouched" \
  test "$(cd "$downloads" && sha256sum -- *)" = "$downloads_before"

clean_up
check "cleaning up leaves neither view with an entry of the case" \
  bash -c '! grep -qF "Microsoft Shared" <<<"$1$2"' _ "$(view 32)" "$(view 64)"
check "nor a folder of the case" \
  bash -c '[ ! -e "$1" ] && [ ! -e "$2" ] && [ ! -e "$3" ]' _ "$proof32" "$proof64" "$drive_c/Descargas"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
