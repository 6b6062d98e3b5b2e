#!/usr/bin/env bash
# Sets a PE file's header checksum to 0 (none), which a file with a block
# appended to it then still honours.
set -euo pipefail
header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
printf '\0\0\0\0' | dd of="$1" bs=1 seek=$((header + 88)) conv=notrunc status=none
