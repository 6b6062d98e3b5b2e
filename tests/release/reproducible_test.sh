#!/usr/bin/env bash
# Two clean builds of the program from the same sources, in two different
# folders, give the same bytes; and the program stays under 264 KiB.
set -u
cd "$(dirname "$0")/../.."
reference="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
check() { if eval "$2"; then passed=$((passed + 1)); else echo "FAIL: $1"; failed=$((failed + 1)); fi; }

for copy in first "second folder"; do
  mkdir -p "$work/$copy"
  tar --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$work/$copy"
  cmake -S "$work/$copy" -B "$work/$copy/out" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$work/$copy/cmake/toolchain-i686-w64-mingw32.cmake" >/dev/null &&
    cmake --build "$work/$copy/out" --target actualizador >/dev/null
  check "clean build in '$copy'" "[ -f '$work/$copy/out/bin/actualizador.exe' ]"
done

a="$work/first/out/bin/actualizador.exe"
b="$work/second folder/out/bin/actualizador.exe"
check "the two clean builds are byte-identical" "cmp -s '$a' '$b'"
check "the build tree's program is identical to the clean builds" "cmp -s '$a' '$reference'"
size=$(stat -c %s "$reference")
echo "program size: $size bytes"
check "the program is under 264 KiB ($size bytes)" "[ '$size' -lt 270336 ]"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
