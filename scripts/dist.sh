#!/usr/bin/env bash
# Packs the built updater for release: a reproducible zip with the program, its
# readme and an example startup script for administrators, the program itself,
# and their SHA-256 sums, in $DIST_DIR (dist/).
#
# Signing (optional): set ACTUALIZADOR_SIGN_CERT (PEM certificate or chain) and
# ACTUALIZADOR_SIGN_KEY (PEM private key); ACTUALIZADOR_SIGN_PASS if the key is
# encrypted; ACTUALIZADOR_SIGN_TIMESTAMP for an RFC 3161 timestamp server
# (the only time this script uses the network).
#
# PAIR (optional): a folder holding the new QUENDOR.DLL and QUENDOR.LEX. They
# go into the zip beside the program, with QUENDOR.LST, the list that the
# updater checks them against: one line per file, "<SHA-256> <size> <name>",
# and with detectar-corrector.ps1, the detection script for deployment tools,
# holding their SHA-256 and the engine's file version in four parts. With a
# pair, also the Windows Installer package (msi/make-msi.sh),
# actualizador-corrector-galego-<version>.msi: its version is MSI_VERSION=x.y.z,
# or the engine's first three parts; without either, the rest is made and the
# run fails.
set -euo pipefail
pair=${PAIR:+$(realpath -- "$PAIR")}
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$(pwd -P)

version=1.00
exe_name=actualizador.exe
zip_name=actualizador-corrector-galego-$version.zip
description="Actualizador do corrector de galego"
built_exe=build/bin/$exe_name
readme=packaging/LEME.txt
startup_script=packaging/actualizar-corrector.cmd
detection_script=packaging/detectar-corrector.ps1
# Every staged file gets this time, so the zip does not depend on when it was made.
fixed_time=2026-01-01T00:00:00

die() { echo "dist: $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null 2>&1 || die "'$1' is missing (Debian package: $2)"; }

need zip zip
need sha256sum coreutils

[ -f "$built_exe" ] || die "$built_exe not found: build first (make build)"
[ -f "$readme" ] || die "$readme not found"
[ -f "$startup_script" ] || die "$startup_script not found"

cert=${ACTUALIZADOR_SIGN_CERT:-}
key=${ACTUALIZADOR_SIGN_KEY:-}
if [ -n "$cert" ] && [ -n "$key" ]; then
  sign=1
  need osslsigncode osslsigncode
  [ -r "$cert" ] || die "ACTUALIZADOR_SIGN_CERT: cannot read '$cert'"
  [ -r "$key" ] || die "ACTUALIZADOR_SIGN_KEY: cannot read '$key'"
elif [ -n "$cert" ] || [ -n "$key" ]; then
  die "signing needs both ACTUALIZADOR_SIGN_CERT and ACTUALIZADOR_SIGN_KEY; only ${cert:+ACTUALIZADOR_SIGN_CERT}${key:+ACTUALIZADOR_SIGN_KEY} is set"
else
  sign=0
fi

# The output folder is removed and made again: refuse anything that would take
# the repository (or a folder above it) with it.
out=${DIST_DIR:-dist}
[ -n "$out" ] || die "DIST_DIR is empty"
out_abs=$(realpath -m -- "$out")
if [ "$out_abs" = / ] || [[ "$root/" == "$out_abs/"* ]]; then
  die "DIST_DIR '$out' is the repository or a folder above it"
fi
[ ! -e "$out_abs" ] || [ -d "$out_abs" ] || die "DIST_DIR '$out' exists and is not a folder"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

sign_file() {  # sign_file UNSIGNED SIGNED
  local args=(sign -certs "$cert" -key "$key" -h sha256 -n "$description" -in "$1" -out "$2")
  if [ -n "${ACTUALIZADOR_SIGN_PASS:-}" ]; then
    # From a private file rather than the command line, where ps would show it.
    (umask 077 && printf '%s' "$ACTUALIZADOR_SIGN_PASS" >"$stage/pass")
    args+=(-readpass "$stage/pass")
  fi
  if [ -n "${ACTUALIZADOR_SIGN_TIMESTAMP:-}" ]; then
    args+=(-ts "$ACTUALIZADOR_SIGN_TIMESTAMP")
  fi
  osslsigncode "${args[@]}" >"$stage/sign.log" 2>&1 || { cat "$stage/sign.log" >&2; die "signing failed"; }
  rm -f -- "$stage/pass"
  echo "dist: signed $(basename -- "$2") with $(basename -- "$cert")"
}

# The build tree's program is only read: it is copied, and the copy is signed.
cp -- "$built_exe" "$stage/unsigned.exe"
if [ "$sign" = 1 ]; then
  sign_file "$stage/unsigned.exe" "$stage/$exe_name"
else
  mv -- "$stage/unsigned.exe" "$stage/$exe_name"
  echo "dist: ACTUALIZADOR_SIGN_CERT and ACTUALIZADOR_SIGN_KEY are not set: $exe_name ships unsigned"
fi
rm -f -- "$stage/unsigned.exe"

# The readme is converted to CRLF line ends with a UTF-8 byte-order mark, so
# that Notepad on every Windows version shows it right, whatever line ends the
# checkout has.
{ printf '\xEF\xBB\xBF'; sed '1s/^\xEF\xBB\xBF//' "$readme" | awk '{ sub(/\r$/, ""); printf "%s\r\n", $0 }'; } \
  >"$stage/LEME.txt"

# The startup script gets CRLF line ends too (cmd.exe misreads labels in a
# batch file with bare LF line ends) but no byte-order mark, which cmd.exe
# would take for part of the first command.
sed '1s/^\xEF\xBB\xBF//' "$startup_script" | awk '{ sub(/\r$/, ""); printf "%s\r\n", $0 }' \
  >"$stage/actualizar-corrector.cmd"

packed=("$exe_name" LEME.txt actualizar-corrector.cmd)
if [ -n "$pair" ]; then
  : >"$stage/QUENDOR.LST"
  for name in QUENDOR.DLL QUENDOR.LEX; do
    [ -f "$pair/$name" ] || die "PAIR: $pair/$name not found"
    cp -- "$pair/$name" "$stage/$name"
    printf '%s %s %s\r\n' "$(sha256sum <"$stage/$name" | cut -d' ' -f1)" "$(stat -c %s -- "$stage/$name")" "$name" \
      >>"$stage/QUENDOR.LST"
  done
  # The engine's file version, major.minor.build.private, from its version
  # resource as windres reads the resources (the same bytes may stand in
  # its code or data too): exactly one, ID 1, the one the updater reads;
  # '' without any.
  [ -f "$detection_script" ] || die "$detection_script not found"
  need i686-w64-mingw32-windres binutils-mingw-w64-i686
  engine_version=
  if resources=$(i686-w64-mingw32-windres -J coff -O rc -i "$stage/QUENDOR.DLL" 2>"$stage/windres.log"); then
    blocks=$(grep -c ' VERSIONINFO$' <<<"$resources" || true)
    [ "$blocks" -le 1 ] || die "QUENDOR.DLL has $blocks version resources: it must have one, ID 1, which the updater reads"
    if [ "$blocks" = 1 ]; then
      grep -qx '1 VERSIONINFO' <<<"$resources" || die "QUENDOR.DLL's version resource is not ID 1, which the updater reads"
      engine_version=$(awk '$0 == "1 VERSIONINFO" { v = 1 } v && $1 == "FILEVERSION" { print $2 $3 $4 $5; exit }' \
        <<<"$resources" | tr , .)
    fi
  elif ! grep -q 'no resource section' "$stage/windres.log"; then
    die "QUENDOR.DLL: its resources cannot be read: $(cat "$stage/windres.log")"
  fi
  [ -n "$engine_version" ] || echo "dist: QUENDOR.DLL has no version resource (ID 1)" >&2
  sed -e "s/@QUENDOR.DLL SHA-256@/$(sha256sum <"$stage/QUENDOR.DLL" | cut -d' ' -f1)/" \
      -e "s/@QUENDOR.LEX SHA-256@/$(sha256sum <"$stage/QUENDOR.LEX" | cut -d' ' -f1)/" \
      -e "s/@QUENDOR.DLL version@/$engine_version/" "$detection_script" |
    awk '{ sub(/\r$/, ""); printf "%s\r\n", $0 }' >"$stage/detectar-corrector.ps1"
  packed+=(QUENDOR.DLL QUENDOR.LEX QUENDOR.LST detectar-corrector.ps1)
fi

# Fixed modes and times: zip stores both. Zip writes times as local time, so
# the time zone is fixed too. -X leaves out owner and extra time fields, -D
# directory entries; the files are named in a fixed order.
(cd "$stage" && chmod 0644 "${packed[@]}" && TZ=UTC touch -d "$fixed_time" "${packed[@]}" &&
  TZ=UTC zip -X -D -q -9 "$zip_name" "${packed[@]}")

# Without a pair the package would deliver nothing: no MSI.
made=("$zip_name" "$exe_name")
msi_status=0
if [ -n "$pair" ]; then
  if msi_name=$(bash msi/make-msi.sh "$stage" "$engine_version" "$fixed_time"); then
    if [ "$sign" = 1 ]; then
      mv -- "$stage/$msi_name" "$stage/unsigned.msi"
      sign_file "$stage/unsigned.msi" "$stage/$msi_name"
    fi
    made+=("$msi_name")
  else
    msi_status=$?
    [ "$msi_status" = 2 ] || die "the Windows Installer package failed"
  fi
fi

rm -rf -- "$out_abs"
mkdir -p -- "$out_abs"
for f in "${made[@]}"; do cp -p -- "$stage/$f" "$out_abs/"; done
(cd "$out_abs" && sha256sum -- "${made[@]}" >SHA256SUMS)

echo "dist: made in $out:"
for f in "${made[@]}" SHA256SUMS; do
  printf '  %-42s %9d bytes\n' "$f" "$(stat -c %s -- "$out_abs/$f")"
done
# The package was refused (make-msi.sh said why): the run fails all the same.
[ "$msi_status" = 0 ]
