#!/usr/bin/env bash
# Installs what is missing, configures once and builds; any arguments are
# passed to the build (for example --target actualizador).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
[ -f build/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default "$@"
