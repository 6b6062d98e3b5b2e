#!/usr/bin/env bash
# make demo: installs what is missing, builds, and runs the updater in a demo
# Wine prefix that holds a simulated installation of the office suite's
# shared proofing folder. On a display of your own you press the buttons;
# without one, the demo runs under Xvfb, presses "Seguinte" itself and saves
# screenshots. It ends by showing what changed in the proofing folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh --target actualizador automate fake_engine

interactive=""
[ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ] && interactive=1
. scripts/wine-env.sh
wine_env_start "$PWD/build/demo"
demo_root="$PWD/build/demo"
drive_c="$WINEPREFIX/drive_c"

title="Instalador corrector de galego Brenca"
proof="$drive_c/Program Files/Common Files/Microsoft Shared/PROOF"
downloads="$drive_c/Descargas/Corrector galego"
shots="$demo_root/screenshots"
mkdir -p "$proof" "$downloads" "$shots"

# The simulated installation: an old engine and lexicon of our own making,
# and the shared-DLL entries that a real installation leaves in the registry.
printf 'QUENDOR.DLL vello (demostración, versión anterior)\r\n' > "$proof/QUENDOR.DLL"
printf 'QUENDOR.LEX vello (demostración, versión anterior)\r\n' > "$proof/QUENDOR.LEX"
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
wine reg delete "$key" /f >/dev/null 2>&1 || true
for entry in \
  'C:\Program Files\Common Files\Microsoft Shared\PROOF\QUENDOR.DLL' \
  'C:\Program Files\Common Files\Microsoft Shared\PROOF\QUENDOR.LEX' \
  'C:\Program Files\Common Files\System\ado\msado15.dll' \
  'C:\WINDOWS\system32\comctl32.ocx'; do
  wine reg add "$key" /v "$entry" /t REG_DWORD /d 1 /f >/dev/null 2>&1
done

# The updater beside the new files, as a user downloads it.
cp build/bin/actualizador.exe "$downloads/"
# The new engine is a real DLL, as the updater checks, labelled at its end.
{ cat build/bin/fake_engine.dll; printf '\r\nQUENDOR.DLL novo (demostración, versión 1.00)\r\n'; } > "$downloads/QUENDOR.DLL"
printf 'QUENDOR.LEX novo (demostración, versión 1.00)\r\n' > "$downloads/QUENDOR.LEX"

show_proofing_folder() {
  echo "$1 ($(winepath -w "$proof" 2>/dev/null)):"
  for f in "$proof"/*; do
    printf '  %-12s %4d bytes  %s\n' "$(basename "$f")" "$(stat -c %s "$f")" "$(tail -n 1 "$f" | head -c 60 | tr -d '\r\n')"
  done
}
show_proofing_folder "Before"

program='C:\Descargas\Corrector galego\actualizador.exe'
automate=(wine "$(winepath -w build/bin/automate.exe 2>/dev/null)")
if [ -n "$interactive" ]; then
  echo "The updater is open on your display: press Seguinte (or Cancelar)."
  (cd "$downloads" && wine "$program") || true
else
  # The program keeps the launcher's error output open: read the id from standard output only.
  pid=$("${automate[@]}" launch "$program" --wait-title "$title" 2>/dev/null | tr -d '\r')
  "${automate[@]}" shot "$pid" "$title" "$(winepath -w "$shots/welcome.png")" 2>/dev/null
  "${automate[@]}" click "$pid" "$title" Seguinte 2>/dev/null
  "${automate[@]}" shot "$pid" '#32770' "$(winepath -w "$shots/message.png")" 2>/dev/null
  code=$("${automate[@]}" click "$pid" '#32770' OK --wait-exit 20000 2>/dev/null | tr -d '\r') || true
  echo "The updater pressed Seguinte, answered its message and ended with exit code $code."
  echo "Screenshots: build/demo/screenshots/welcome.png and message.png"
fi

show_proofing_folder "After"
