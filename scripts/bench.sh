#!/usr/bin/env bash
# make bench: builds, then runs every benchmark under Xvfb in the build
# tree's Wine prefix and prints one table.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
# Window work costs nothing without a display: always measure on Xvfb.
unset DISPLAY
. scripts/wine-env.sh
wine_env_start "$PWD/build"

rows=$(mktemp)
trap 'rm -f "$rows"; wine_env_stop' EXIT
status=0
# PREVIOUS="old/actualizador.exe ...": earlier builds, whose press of
# "Seguinte" is measured in turns with this build's and the naive floor's.
previous=()
for build in ${PREVIOUS:-}; do
  previous+=("$(build/wine-run winepath -w "$(realpath "$build")" 2>/dev/null | tr -d '\r')")
done
for bench in registry_bench install_bench e2e_bench; do
  arguments=()
  [ "$bench" = e2e_bench ] && arguments=("${previous[@]}")
  build/wine-run "build/bin/$bench.exe" "${arguments[@]}" 2>/dev/null | tr -d '\r' | grep '^| ' >> "$rows" || status=1
done
printf '| program size | %s bytes |\n' "$(stat -c %s build/bin/actualizador.exe)" >> "$rows"
mkdir -p build/bench
(cd build/bench && makensis -V1 -NOCD ../../bench/smallest_stub.nsi)
printf '| smallest installer stub of a general-purpose builder (NSIS, nothing to install) | %s bytes |\n' \
  "$(stat -c %s build/bench/smallest_stub.exe)" >> "$rows"

echo "| measure | figure |"
echo "|---|---|"
cat "$rows"
exit $status
