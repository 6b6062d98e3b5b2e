#!/usr/bin/env bash
# make test: installs what is missing, builds, and runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
. scripts/wine-env.sh
wine_env_start "$PWD/build"
ctest --preset default
