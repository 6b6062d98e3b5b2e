# Sourced by the project's scripts: a display, the build tree's 32-bit Wine
# prefix (64-bit with "wine_env_start DIR win64") and a persistent wineserver
# for it, each started only when missing, and a program that keeps the
# prefix's desktop open while the server runs.
# Call wine_env_stop (or leave it to the EXIT trap) to stop what was started.

wine_env_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

wine_env_start() {
  local build_dir="$1" arch="${2:-win32}"
  mkdir -p "$build_dir"
  export WINEPREFIX="$build_dir/wine"
  export WINEARCH="$arch"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="mscoree,mshtml="
  started_xvfb=""
  started_wineserver=""
  holding_desktop=""
  trap wine_env_stop EXIT

  # Xvfb takes a free display number itself, under its lock file, and tells
  # it once it accepts clients: two scripts that start together never share
  # a display, as they could when each looked for a free number first.
  if [ -z "${DISPLAY:-}" ]; then
    local number_file
    number_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number_file" </dev/null >/dev/null 2>&1 &
    started_xvfb=$!
    for _ in $(seq 100); do [ "$(wc -l <"$number_file")" -ge 1 ] && break; sleep 0.1; done
    local number
    number=$(head -n 1 "$number_file")
    rm -f "$number_file"
    if [ -z "$number" ]; then
      echo "wine: Xvfb did not start" >&2
      return 1
    fi
    export DISPLAY=":$number"
  fi

  # A prefix that is missing or incomplete (a run killed while making it) is
  # made; one that comes out incomplete is made once more, after its report,
  # which stays in the test's output either way.
  if [ -n "$(wine_env_prefix_lacks "$arch")" ]; then
    wine_env_create_prefix "$build_dir" "$arch" || wine_env_create_prefix "$build_dir" "$arch" || return 1
  fi

  # Drive Q: is an empty folder of the build tree, for the tests of an
  # installer started from the root of a drive.
  mkdir -p "$build_dir/drive-q"
  [ -e "$WINEPREFIX/dosdevices/q:" ] || ln -s "$build_dir/drive-q" "$WINEPREFIX/dosdevices/q:"

  # "wineserver -p" returns once the server listens on its socket, and exits
  # with 2 when the prefix has a server already. Looking for the socket file
  # tells nothing: Debian's server keeps it in a folder of random name and
  # leaves it behind when it ends.
  if wineserver -p </dev/null >/dev/null 2>&1; then
    started_wineserver=1
    # Wine's own services start with the first program and live as long as
    # the server; started here, they hold no test's output pipe open.
    wineboot </dev/null >/dev/null 2>&1
    wine_env_hold_desktop || return 1
  fi
}

# Creates the prefix and checks that it holds what every program needs
# before a test meets it. A prefix made incomplete (by a full disk, say) is
# reported with wineboot's own words and the free space, and removed, so
# that no test fails its checks one by one for the prefix's sake.
wine_env_create_prefix() {
  local build_dir="$1" arch="$2"
  local log="$build_dir/wineboot.log"
  echo "wine: creating the ${arch#win}-bit prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  WINEDEBUG=-all,err+all wineboot -i </dev/null >"$log" 2>&1
  local wineboot_status=$?
  wineserver -w
  # A virtual desktop gives every window a fixed screen and dependable
  # focus, with no window manager on the display; no crash dialog ever
  # waits for a click.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wineserver -w
  # Wine's own fonts (Marlett draws the caption buttons) where Windows keeps fonts.
  cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true

  local missing
  missing=$(wine_env_prefix_lacks "$arch")
  [ -z "$missing" ] && return 0

  {
    echo "wine: the new prefix in $WINEPREFIX is incomplete; it lacks:"
    echo "$missing"
    echo "wine: free space where it lives:"
    df -h "$build_dir" | sed 's/^/  /'
    echo "wine: wineboot -i ended with status $wineboot_status; the last lines it wrote ($log):"
    tail -n 20 "$log" | awk '{ print "  " $0 }'
  } >&2
  wineserver -k 2>/dev/null
  rm -rf "$WINEPREFIX"
  return 1
}

# Prints, one to a line, what the prefix lacks of what every program of the
# architecture needs; nothing when it is complete.
wine_env_prefix_lacks() {
  local arch="$1" drive_c="$WINEPREFIX/drive_c"
  local needed=("$drive_c/windows/system32/kernel32.dll" "$drive_c/windows/Fonts/marlett.ttf")
  if [ "$arch" = win64 ]; then
    needed+=("$drive_c/windows/syswow64/kernel32.dll" "$drive_c/Program Files (x86)")
  fi
  local path
  for path in "${needed[@]}"; do [ -e "$path" ] || echo "  ${path#"$WINEPREFIX"/}"; done
  grep -qx "#arch=$arch" "$WINEPREFIX/system.reg" 2>/dev/null || echo "  system.reg of a $arch prefix"
}

# The wineserver closes a desktop one second after the last program on it
# has ended, and a program that starts while the desktop goes away is killed
# by X (BadWindow) at its first window. A program of ours stays on the
# desktop until the server is stopped, so it is never closed: every program
# of the run meets the same desktop. Call it again after "wineserver -k".
wine_env_hold_desktop() {
  local source="$wine_env_scripts/hold_desktop.c"
  local dir
  dir=$(dirname "$WINEPREFIX")
  local holder="$dir/hold_desktop.exe"
  if [ ! "$holder" -nt "$source" ]; then
    i686-w64-mingw32-gcc -Os -s -mwindows -Wall -Wextra -Werror -o "$holder.new" "$source"
    mv -f "$holder.new" "$holder"
  fi
  local ready="$dir/hold_desktop.out"
  rm -f "$ready"
  wine "$holder" </dev/null >"$ready" 2>/dev/null &
  holding_desktop=1
  # About a second here; the margin is for a machine busy with other tests.
  for _ in $(seq 300); do grep -q ready "$ready" 2>/dev/null && return 0; sleep 0.1; done
  echo "wine: the program that holds the desktop did not start" >&2
  return 1
}

# Stopping the server ends every program of the prefix, the holder too. No
# process is killed by its number once it may have ended: the numbers come
# round again within a run, and the kill would reach another test's program.
wine_env_stop() {
  if [ -n "${started_wineserver:-}${holding_desktop:-}" ]; then wineserver -k 2>/dev/null || true; fi
  started_wineserver=""
  holding_desktop=""
  if [ -n "${started_xvfb:-}" ] && [ "$(cat "/proc/$started_xvfb/comm" 2>/dev/null)" = Xvfb ]; then kill "$started_xvfb" || true; fi
  started_xvfb=""
}
