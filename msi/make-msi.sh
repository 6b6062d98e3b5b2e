#!/usr/bin/env bash
# Builds the Windows Installer package of a release from the files that
# scripts/dist.sh has staged (actualizador.exe, QUENDOR.DLL, QUENDOR.LEX,
# QUENDOR.LST) and the build's custom actions, and prints its file name,
# actualizador-corrector-galego-<version>.msi, written into the staging folder.
#
#   make-msi.sh <staging folder> <engine's file version, or ''> <fixed time>
#
# The version is MSI_VERSION (x.y.z) or else the engine's first three parts:
# Windows Installer ignores a fourth and holds up to 255.255.65535. Without a
# version it can hold, nothing is built and the exit status is 2.
#
# The same inputs give the same bytes: wixl runs with its clock stopped at a
# fixed time (it writes the time into the compound file and the cabinet), and the package code,
# which wixl draws at random, is replaced by one derived from the inputs.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
stage=$1
engine_version=$2
fixed_time=$3

# Never change it: Windows Installer tells the versions of one product by it,
# and a package upgrades only the versions installed under the same code.
upgrade_code=59077B77-0F34-4D77-A975-11AB93CC9BB3
actions=$here/../build/bin/msi_actions.dll
payload=(actualizador.exe QUENDOR.DLL QUENDOR.LEX QUENDOR.LST)

refuse() { echo "dist: no Windows Installer package: $*; give its version with MSI_VERSION=x.y.z" >&2; exit 2; }
need() { command -v "$1" >/dev/null 2>&1 || { echo "dist: '$1' is missing (Debian package: $2)" >&2; exit 1; }; }

need wixl wixl
need msibuild msitools
need faketime faketime
[ -f "$actions" ] || { echo "dist: $actions not found: build first (make build)" >&2; exit 1; }

if [ -n "${MSI_VERSION:-}" ]; then
  version=$MSI_VERSION
  from="MSI_VERSION"
elif [ -n "$engine_version" ]; then
  version=${engine_version%.*}
  from="the engine's file version $engine_version"
else
  refuse "QUENDOR.DLL has no file version"
fi
if ! [[ $version =~ ^([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,5})$ ]] ||
   ((10#${BASH_REMATCH[1]} > 255 || 10#${BASH_REMATCH[2]} > 255 || 10#${BASH_REMATCH[3]} > 65535)); then
  refuse "$version ($from) is not a version Windows Installer can hold, x.y.z up to 255.255.65535"
fi
# Written without leading zeros, so that one version has one product code.
version=$((10#${BASH_REMATCH[1]})).$((10#${BASH_REMATCH[2]})).$((10#${BASH_REMATCH[3]}))

# A name-based UUID (RFC 4122, version 5): the SHA-1 of the namespace's 16
# bytes and the name, with the version and variant bits set.
name_uuid() {  # name_uuid NAMESPACE NAME
  local hex
  hex=$({ printf "$(sed 's/-//g; s/../\\x&/g' <<<"$1")"; printf '%s' "$2"; } | sha1sum | cut -c1-32)
  hex=${hex:0:12}5${hex:13:3}$(printf '%x' $(((0x${hex:16:1} & 3) | 8)))${hex:17:15}
  echo "${hex:0:8}-${hex:8:4}-${hex:12:4}-${hex:16:4}-${hex:20:12}" | tr a-f A-F
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for name in "${payload[@]}"; do cp -- "$stage/$name" "$work/"; done
cp -- "$actions" "$here/package.wxs" "$work/"
(cd "$work" && chmod 0644 -- * && TZ=UTC touch -d "$fixed_time" -- *)

# The same version is always the same product, so that installing it again
# is a reinstall; a package differs from another in any of its inputs.
product_code=$(name_uuid "$upgrade_code" "$version")
package_code=$(name_uuid "$upgrade_code" "package $version $(cd "$work" && sha256sum -- * | sha256sum | cut -c1-64)")

msi_name=actualizador-corrector-galego-$version.msi
# Stopped at that time: a clock that ran from it would give other bytes
# whenever a run, slowed by a busy machine, crossed a second.
frozen=$(TZ=UTC date -d "$fixed_time" '+%Y-%m-%d %H:%M:%S')
(cd "$work" &&
  TZ=UTC faketime -f "$frozen" wixl -a x86 -D Version="$version" -D ProductCode="$product_code" \
    -D UpgradeCode="$upgrade_code" -o package.msi package.wxs &&
  TZ=UTC faketime -f "$frozen" msibuild package.msi \
    -s "Actualizador do corrector de galego $version" "Corrector de galego Brenca" "Intel;1033" "{$package_code}")
mv -- "$work/package.msi" "$stage/$msi_name"
echo "$msi_name"
