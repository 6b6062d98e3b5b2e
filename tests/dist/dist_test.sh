#!/usr/bin/env bash
# Checks scripts/dist.sh: what the zip holds, the readme's line ends and
# messages, the startup script's line ends and what it runs, the checksums,
# the Windows Installer package's tables and version, byte-identical zips and
# packages from two runs, signing with a throwaway certificate, and that the
# build tree's program is never touched.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

# Only what this test sets may reach dist.sh.
unset DIST_DIR ACTUALIZADOR_SIGN_CERT ACTUALIZADOR_SIGN_KEY ACTUALIZADOR_SIGN_PASS ACTUALIZADOR_SIGN_TIMESTAMP
export LC_ALL=C
umask 022

exe=build/bin/actualizador.exe
zip_name=actualizador-corrector-galego-1.00.zip

for tool in zip unzip openssl osslsigncode sha256sum cmp msiinfo; do
  command -v "$tool" >/dev/null 2>&1 || { echo "dist_test: '$tool' is missing"; echo "0 passed, 1 failed"; exit 1; }
done
[ -f "$exe" ] || { echo "dist_test: $exe not found: build first"; echo "0 passed, 1 failed"; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT TERM

. tests/support/check.sh

# dist.sh's output goes to a log, shown only when its run is checked and fails.
run_dist() {  # run_dist LOG [VAR=value...]
  local log=$1; shift
  env "$@" bash scripts/dist.sh >"$log" 2>&1
}
show_log_on_fail() { "$@" || { sed 's/^/    | /' "$log"; return 1; }; }

state_of_repo_dist() { if [ -e dist ]; then ls -la --time-style=full-iso dist; else echo absent; fi; }
exe_sum_before=$(sha256sum <"$exe")
repo_dist_before=$(state_of_repo_dist)

# --- unsigned ---
out1=$tmp/out1
log=$tmp/unsigned.log
check "dist.sh succeeds without signing variables" show_log_on_fail run_dist "$log" DIST_DIR="$out1"
check "it says the program ships unsigned" grep -q "ships unsigned" "$log"
check "it prints the zip's name and size" \
  grep -Eq "$zip_name +$(stat -c %s "$out1/$zip_name" 2>/dev/null || echo none) bytes" "$log"

zip_lists() { [ "$(unzip -Z1 "$1")" = "$(printf 'actualizador.exe\nLEME.txt\nactualizar-corrector.cmd')" ]; }
check "the zip holds exactly actualizador.exe, LEME.txt and actualizar-corrector.cmd, in that order" \
  zip_lists "$out1/$zip_name"

x1=$tmp/x1
mkdir -p "$x1" && unzip -q "$out1/$zip_name" -d "$x1"
check "the unsigned zipped program is byte-identical to the build's" cmp -s "$x1/actualizador.exe" "$exe"

crlf_only() {  # every line ends in CRLF, including the last, and no CR stands alone
  local f=$1 lines crlf
  lines=$(tr -cd '\n' <"$f" | wc -c)
  crlf=$(grep -c $'\r$' "$f")
  [ "$lines" -gt 0 ] && [ "$lines" -eq "$crlf" ] &&
    [ "$(tail -c 2 "$f" | od -An -tx1 | tr -d ' ')" = 0d0a ] &&
    [ "$(tr -cd '\r' <"$f" | wc -c)" -eq "$lines" ]
}
check "LEME.txt has CRLF line ends only" crlf_only "$x1/LEME.txt"
check "LEME.txt starts with a UTF-8 byte-order mark" \
  test "$(head -c 3 "$x1/LEME.txt" | od -An -tx1 | tr -d ' ')" = efbbbf
check "LEME.txt is valid UTF-8" iconv -f UTF-8 -t UTF-8 -o /dev/null "$x1/LEME.txt"
check "LEME.txt explains \"O corrector foi actualizado\"" grep -qF "O corrector foi actualizado" "$x1/LEME.txt"
check "LEME.txt explains \"Non é posible continuar a instalación\"" \
  grep -qF "Non é posible continuar a instalación" "$x1/LEME.txt"
# The end users read down to the administrators' section, which comes last.
users_part_lines() { sed -n '/^Para administradores/q;p' "$1" | wc -l; }
check "LEME.txt has a section for administrators" grep -q "^Para administradores" "$x1/LEME.txt"
check "LEME.txt's part for end users is under 40 lines" test "$(users_part_lines "$x1/LEME.txt")" -lt 40
# wc -L counts characters, not bytes, in a UTF-8 locale; the CR takes no column.
check "LEME.txt's lines fit in 76 columns" test "$(LC_ALL=C.UTF-8 wc -L <"$x1/LEME.txt")" -le 76
every_exit_code() {
  local code
  for code in 0 1 2 3 4 5 7 8 1618 1639; do
    grep -Eq "^ *$code +[^ ]" "$1" || { echo "    | no line for exit code $code"; return 1; }
  done
}
check "LEME.txt gives every exit code" every_exit_code "$x1/LEME.txt"
check "LEME.txt names the startup script" grep -qF "actualizar-corrector.cmd" "$x1/LEME.txt"

# The startup script: what cmd.exe reads correctly, run from its own folder.
cmd=$x1/actualizar-corrector.cmd
check "actualizar-corrector.cmd has CRLF line ends only" crlf_only "$cmd"
no_bom() { [ -s "$1" ] && [ "$(head -c 3 "$1" | od -An -tx1 | tr -d ' ')" != efbbbf ]; }
check "actualizar-corrector.cmd has no byte-order mark" no_bom "$cmd"
check "actualizar-corrector.cmd is plain ASCII, the same in every code page" iconv -f ASCII -t ASCII -o /dev/null "$cmd"
check "the zipped script is the repository's, apart from line ends" \
  cmp -s <(tr -d '\r' <"$cmd") <(tr -d '\r' <packaging/actualizar-corrector.cmd)
# The updater is run from the script's folder (%~dp0), silently, with a log
# in a folder only administrators may write to, made on the line before; its
# exit code is kept on the very next line and is the script's. The log goes
# to a share only when one is set, and a failed copy changes nothing.
runs_updater() {
  local lines
  lines=$(tr -d '\r' <"$1")
  grep -qxF 'set "source=%~dp0"' <<<"$lines" &&
    grep -qxF 'set "logshare="' <<<"$lines" &&
    grep -qxF 'set "log=%SystemRoot%\Logs\actualizador-corrector-galego.log"' <<<"$lines" &&
    [ "$(grep -A1 -E '^"%source%actualizador\.exe" /S /LOG=' <<<"$lines")" = \
      "$(printf '%s\n%s' '"%source%actualizador.exe" /S /LOG="%log%"' 'set "code=%ERRORLEVEL%"')" ] &&
    grep -B1 -F '"%source%actualizador.exe"' <<<"$lines" | grep -qxF 'if not exist "%SystemRoot%\Logs\" mkdir "%SystemRoot%\Logs"' &&
    [ "$(grep -vE '^(rem|@echo|setlocal|set |if not exist|"%source%)|^$' <<<"$lines")" = \
      "$(printf '%s\n%s' 'if defined logshare copy /y "%log%" "%logshare%\%COMPUTERNAME%.log" >nul 2>&1' 'exit /b %code%')" ]
}
check "actualizar-corrector.cmd runs the updater beside it with /S and a local log, copies the log only to a share that is set, and exits with the updater's code" runs_updater "$cmd"

sums_names() { [ "$(awk '{print $2}' "$1/SHA256SUMS")" = "$(printf '%s\n' "$zip_name" actualizador.exe)" ]; }
check "SHA256SUMS names the zip and the program, without folders" sums_names "$out1"
check "sha256sum -c SHA256SUMS passes in the output folder" \
  bash -c 'cd "$1" && sha256sum --quiet -c SHA256SUMS' _ "$out1"
check "the program beside the zip is the zipped one" cmp -s "$out1/actualizador.exe" "$x1/actualizador.exe"

# A second run in another time zone and umask must give the same bytes.
out2=$tmp/out2
log=$tmp/second.log
check "a second run succeeds" show_log_on_fail \
  bash -c 'umask 077 && TZ=America/Los_Angeles DIST_DIR="$1" bash scripts/dist.sh >"$2" 2>&1' _ "$out2" "$log"
check "the second run's zip is byte-identical" cmp -s "$out1/$zip_name" "$out2/$zip_name"

# Running into a folder that already has files makes it afresh.
touch "$out2/left-over"
log=$tmp/again.log
run_dist "$log" DIST_DIR="$out2"
check "the output folder is made afresh" test ! -e "$out2/left-over"

# --- with PAIR: the tests' engine of version 2.0 and a lexicon ---
pair=$tmp/pair
mkdir -p "$pair" && cp build/bin/engine_v2.dll "$pair/QUENDOR.DLL" && printf 'lexicon\r\n' >"$pair/QUENDOR.LEX"
log=$tmp/pair.log
check "dist.sh succeeds with PAIR" show_log_on_fail run_dist "$log" DIST_DIR="$tmp/out-pair" PAIR="$pair"
xp=$tmp/xp
mkdir -p "$xp" && unzip -q "$tmp/out-pair/$zip_name" -d "$xp"
check "the zip holds the pair, its list and the detection script" test "$(unzip -Z1 "$tmp/out-pair/$zip_name" | tr '\n' ' ')" = \
  "actualizador.exe LEME.txt actualizar-corrector.cmd QUENDOR.DLL QUENDOR.LEX QUENDOR.LST detectar-corrector.ps1 "
# The list the updater checks the pair against: "<SHA-256> <size> <name>".
for name in QUENDOR.DLL QUENDOR.LEX; do
  check "QUENDOR.LST gives the zipped $name's SHA-256 and size" grep -qxF \
    "$(sha256sum <"$xp/$name" | cut -d' ' -f1) $(stat -c %s "$xp/$name") $name" <(tr -d '\r' <"$xp/QUENDOR.LST")
done
# The values the script compares with, as PowerShell reads them from it.
ps_value() { tr -d '\r' <"$xp/detectar-corrector.ps1" | grep -E "^ *$1 = '" | sed -E "s/.*= '([^']*)'.*/\1/"; }
for name in QUENDOR.DLL QUENDOR.LEX; do
  check "the detection script holds the zipped $name's SHA-256" \
    test "$(ps_value "'$name'")" = "$(sha256sum <"$xp/$name" | cut -d' ' -f1)"
done
check "the detection script holds the engine's version in four parts" test "$(ps_value '\$newEngineVersion')" = 2.0.0.0
check "the zipped detection script is the repository's apart from those values" \
  cmp -s <(tr -d '\r' <"$xp/detectar-corrector.ps1" | grep -v "^ *\('QUENDOR\|\$newEngineVersion = '\)") \
  <(grep -v "^ *\('QUENDOR\|\$newEngineVersion = '\)" packaging/detectar-corrector.ps1)

# --- the Windows Installer package: only with a pair; its tables as msiexec reads them ---
msi=$tmp/out-pair/actualizador-corrector-galego-2.0.0.msi
listed() { [ -f "$1/$2" ] && (cd "$1" && sha256sum --quiet -c SHA256SUMS) && grep -q " $2\$" "$1/SHA256SUMS"; }
check "with PAIR, the package of the engine's version, 2.0.0, is made and listed in SHA256SUMS" listed "$tmp/out-pair" "${msi##*/}"
check "without PAIR, none" test -z "$(ls "$out1" | grep '\.msi$')"
table() { msiinfo export "$2" "$1" | tr -d '\r' | tail -n +4; }
check "the custom actions: type 51 sets the updater's path, a deferred DLL action without impersonation (1+1024+2048) runs it, an immediate one asks for the restart" \
  test "$(table CustomAction "$msi" | cut -f1-4 | sort)" = "$(printf '%s\t%s\t%s\t%s\n' \
  AskForRestart 1 CustomActions AskForRestart RunUpdater 3073 CustomActions RunUpdater RunUpdaterData 51 RunUpdater '[#actualizador.exe]')"
order=" $(table InstallExecuteSequence "$msi" | sort -t$'\t' -k3n | cut -f1 | tr '\n' ' ')"
check "RemoveExistingProducts comes right after InstallInitialize, inside the transaction" grep -qF " InstallInitialize RemoveExistingProducts " <<<"$order"
check "the updater runs right after InstallFiles, before InstallFinalize; the restart is asked for after it" \
  grep -qE " InstallFiles RunUpdaterData RunUpdater .*InstallFinalize AskForRestart $" <<<"$order"
check "all three only when the feature is installed or reinstalled" test "$(table InstallExecuteSequence "$msi" | awk -F'\t' '$2 == "&Update=3" { print $1 }' | sort | tr '\n' ' ')" = \
  "AskForRestart RunUpdater RunUpdaterData "
check "per machine and never restarting: ALLUSERS 1, REBOOT ReallySuppress" \
  test "$(table Property "$msi" | grep -E '^(ALLUSERS|REBOOT)'$'\t' | sort)" = "$(printf 'ALLUSERS\t1\nREBOOT\tReallySuppress')"
check "32-bit, English template" grep -qx "Template: Intel;1033" <(msiinfo suminfo "$msi")
check "Windows Installer 2.0, which XP SP3 has" grep -q "^Version: 200 " <(msiinfo suminfo "$msi")
check "a higher version installed stops it" grep -q $'^NOT NEWERVERSIONFOUND\t.' <(table LaunchCondition "$msi")
check "the install as SYSTEM is told what was found" grep -qx $'SecureCustomProperties\tNEWERVERSIONFOUND;OLDERVERSIONFOUND' <(table Property "$msi")
check "it installs the updater, the pair and its list" test "$(table File "$msi" | cut -f3 | sort | tr '\n' ' ')" = \
  "QUENDOR.DLL QUENDOR.LEX QUENDOR.LST actualizador.exe "
check "into Program Files\\Actualizador corrector galego" grep -qx $'INSTALLDIR\tProgramFilesFolder\tActualizador corrector galego' <(table Directory "$msi")
check "its custom actions are the build's DLL" cmp -s <(msiinfo extract "$msi" Binary.CustomActions) build/bin/msi_actions.dll
objdump_of() { i686-w64-mingw32-objdump -p build/bin/msi_actions.dll | tr -d '\r'; }
check "which imports only kernel32, advapi32 and msi" \
  test "$(objdump_of | awk '/DLL Name:/ { print toupper($3) }' | sort | tr '\n' ' ')" = "ADVAPI32.DLL KERNEL32.DLL MSI.DLL "
check "and exports its actions by their plain names" \
  test "$(objdump_of | sed -n '/Ordinal\/Name Pointer/,/^$/p' | awk '/^\t\[ *[0-9]+\]/ { print $NF }' | tr '\n' ' ')" = "AskForRestart RunUpdater "
log=$tmp/pair-again.log
check "a second run with PAIR, in another time zone and umask, succeeds" show_log_on_fail \
  bash -c 'umask 077 && TZ=America/Los_Angeles DIST_DIR="$1" PAIR="$2" bash scripts/dist.sh >"$3" 2>&1' _ "$tmp/out-pair2" "$pair" "$log"
check "and gives a byte-identical package" cmp -s "$msi" "$tmp/out-pair2/${msi##*/}"
# The version: MSI_VERSION, else the engine's; the fake engine has none.
cp build/bin/fake_engine.dll "$pair/QUENDOR.DLL"
refused() {  # the run fails asking for MSI_VERSION, with the zip made and no package
  ! run_dist "$log" DIST_DIR="$1" PAIR="$pair" MSI_VERSION="$2" && grep -q "MSI_VERSION=x.y.z" "$log" &&
    [ "$(ls "$1" | tr '\n' ' ')" = "SHA256SUMS $zip_name actualizador.exe " ]
}
for version in '' 256.0.0 1.256.0 1.2.65536 1.2.3.4 1.2; do
  log=$tmp/version-$version.log
  check "MSI_VERSION='$version' with an engine without a version: no package" refused "$tmp/out-version-$version" "$version"
done
for version in 2.0.0 255.255.65535; do
  log=$tmp/version-$version.log
  check "MSI_VERSION=$version: the package is named by it" show_log_on_fail \
    run_dist "$log" DIST_DIR="$tmp/out-version-$version" PAIR="$pair" MSI_VERSION="$version"
  check "  and listed" listed "$tmp/out-version-$version" "actualizador-corrector-galego-$version.msi"
done
other=$tmp/out-version-2.0.0/${msi##*/}
check "the same version is the same product" test "$(table Property "$msi" | grep ^ProductCode)" = "$(table Property "$other" | grep ^ProductCode)"
check "another pair, another package" test "$(msiinfo suminfo "$msi" | grep Revision)" != "$(msiinfo suminfo "$other" | grep Revision)"

# In a throwaway copy of the repository, so that a broken guard deletes only that.
fake=$tmp/fake-repo
mkdir -p "$fake/scripts" "$fake/build/bin" "$fake/packaging"
cp scripts/dist.sh "$fake/scripts/" && cp "$exe" "$fake/build/bin/" &&
  cp packaging/LEME.txt packaging/actualizar-corrector.cmd "$fake/packaging/"
log=$tmp/unsafe.log
check "DIST_DIR set to the repository is refused" bash -c '! DIST_DIR=. bash "$1/scripts/dist.sh" >"$2" 2>&1' _ "$fake" "$log"
check "and the repository is left in place" test -f "$fake/scripts/dist.sh"
check "DIST_DIR set to a folder above the repository is refused" \
  bash -c '! DIST_DIR="$1" bash "$1/fake-repo/scripts/dist.sh" >"$2" 2>&1' _ "$tmp" "$log"
check "and that folder is left in place" test -f "$fake/scripts/dist.sh"

# --- signing variables, one without the other ---
certs=$tmp/certs
mkdir -p "$certs"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Proba de sinatura" \
  -addext extendedKeyUsage=codeSigning -keyout "$certs/key.pem" -out "$certs/cert.pem" 2>"$certs/req.log" ||
  cat "$certs/req.log"

log=$tmp/only-cert.log
check "only ACTUALIZADOR_SIGN_CERT set: dist.sh fails" \
  bash -c '! env ACTUALIZADOR_SIGN_CERT="$1" DIST_DIR="$2" bash scripts/dist.sh >"$3" 2>&1' _ "$certs/cert.pem" "$tmp/only-cert" "$log"
check "and names the missing variable" grep -q "ACTUALIZADOR_SIGN_KEY" "$log"
check "and makes no output" test ! -e "$tmp/only-cert"
log=$tmp/only-key.log
check "only ACTUALIZADOR_SIGN_KEY set: dist.sh fails" \
  bash -c '! env ACTUALIZADOR_SIGN_KEY="$1" DIST_DIR="$2" bash scripts/dist.sh >"$3" 2>&1' _ "$certs/key.pem" "$tmp/only-key" "$log"
check "and names the missing variable" grep -q "ACTUALIZADOR_SIGN_CERT" "$log"

# --- signed ---
# osslsigncode verify exits 0 and prints "Signature verification: ok" only when
# the signature checks out against -CAfile; the signer's subject and the
# description are printed from the signature itself.
signed_by_test_cert() {  # signed_by_test_cert EXE
  local v=$tmp/verify.log
  osslsigncode verify -CAfile "$certs/cert.pem" -in "$1" >"$v" 2>&1 &&
    grep -q "Signature verification: ok" "$v" &&
    grep -q "Subject: /CN=Proba de sinatura" "$v" &&
    grep -q "Text description: Actualizador do corrector de galego" "$v" &&
    grep -q "Message digest algorithm *: SHA256" "$v" ||
    { sed 's/^/    | /' "$v"; return 1; }
}

out3=$tmp/out3
log=$tmp/signed.log
check "dist.sh succeeds with a certificate and key" show_log_on_fail \
  run_dist "$log" DIST_DIR="$out3" ACTUALIZADOR_SIGN_CERT="$certs/cert.pem" ACTUALIZADOR_SIGN_KEY="$certs/key.pem"
check "it does not say unsigned" bash -c '! grep -q unsigned "$1"' _ "$log"
x3=$tmp/x3
mkdir -p "$x3" && unzip -q "$out3/$zip_name" -d "$x3"
check "the signed zip still holds exactly the three files" zip_lists "$out3/$zip_name"
check "the zipped program carries a valid SHA-256 signature by the test certificate" signed_by_test_cert "$x3/actualizador.exe"
check "sha256sum -c SHA256SUMS passes for the signed output" \
  bash -c 'cd "$1" && sha256sum --quiet -c SHA256SUMS' _ "$out3"
check "the signed program beside the zip is the zipped one" cmp -s "$out3/actualizador.exe" "$x3/actualizador.exe"

# An encrypted key with its passphrase; a wrong passphrase must stop the run.
openssl pkey -in "$certs/key.pem" -aes256 -passout pass:segredo-de-proba -out "$certs/key-enc.pem" 2>/dev/null
out4=$tmp/out4
log=$tmp/signed-pass.log
check "dist.sh signs with an encrypted key and ACTUALIZADOR_SIGN_PASS" show_log_on_fail \
  run_dist "$log" DIST_DIR="$out4" ACTUALIZADOR_SIGN_CERT="$certs/cert.pem" \
  ACTUALIZADOR_SIGN_KEY="$certs/key-enc.pem" ACTUALIZADOR_SIGN_PASS=segredo-de-proba PAIR="$pair" MSI_VERSION=1.0.0
x4=$tmp/x4
mkdir -p "$x4" && unzip -q "$out4/$zip_name" -d "$x4" 2>/dev/null
check "that program carries a valid signature too" signed_by_test_cert "$x4/actualizador.exe"
check "and so does the Windows Installer package" signed_by_test_cert "$out4/actualizador-corrector-galego-1.0.0.msi"
log=$tmp/wrong-pass.log
check "a wrong ACTUALIZADOR_SIGN_PASS makes dist.sh fail" \
  bash -c '! env DIST_DIR="$1" ACTUALIZADOR_SIGN_CERT="$2" ACTUALIZADOR_SIGN_KEY="$3" ACTUALIZADOR_SIGN_PASS=mal bash scripts/dist.sh >"$4" 2>&1' \
  _ "$tmp/out5" "$certs/cert.pem" "$certs/key-enc.pem" "$log"
check "and makes no output" test ! -e "$tmp/out5"

# --- nothing outside the temporary folders changed ---
check "the build tree's program is unchanged" test "$(sha256sum <"$exe")" = "$exe_sum_before"
check "the repository's dist/ is untouched" test "$(state_of_repo_dist)" = "$repo_dist_before"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
