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
for bench in registry_bench install_bench e2e_bench; do
  build/wine-run "build/bin/$bench.exe" 2>/dev/null | tr -d '\r' | grep '^| ' >> "$rows" || status=1
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
