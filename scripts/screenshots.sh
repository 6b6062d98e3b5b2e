#!/usr/bin/env bash
# make screenshots: the pictures in docs/, of the program itself on Xvfb,
# taken by the end-to-end cases that drive it: the welcome window, the
# installer window, the two messages, and the question when the speller's
# files are in use.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
# The same screen whatever display you work on.
unset DISPLAY
. scripts/wine-env.sh
wine_env_start "$PWD/build"

pictures=(welcome installer success failure in-use)
shots=build/bin/screenshots
for name in "${pictures[@]}"; do rm -f "$shots/$name.png"; done
ctest --preset default -R '^EndToEnd\.(WelcomeWindowIsCentredWithEveryTextFromTheTable|SeguinteInstallsAndReportsSuccessWithTheWindowHidden|WithoutTheEngineTheFailureShowsOverTheInstallerWindow|AWordProcessorHoldingTheSpellerIsNamedAndThePersonChooses)$'
mkdir -p docs
for name in "${pictures[@]}"; do cp "$shots/$name.png" "docs/$name.png"; done
ls -l docs/*.png
