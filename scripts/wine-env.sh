# Sourced by the project's scripts: a display, the build tree's 32-bit Wine
# prefix (64-bit with "wine_env_start DIR win64") and a persistent wineserver
# for it, each started only when missing.
# Call wine_env_stop (or leave it to the EXIT trap) to stop what was started.

wine_env_start() {
  local build_dir="$1" arch="${2:-win32}"
  mkdir -p "$build_dir"
  export WINEPREFIX="$build_dir/wine"
  export WINEARCH="$arch"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="mscoree,mshtml="
  started_xvfb=""
  started_wineserver=""

  if [ -z "${DISPLAY:-}" ]; then
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    started_xvfb=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi

  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating the ${arch#win}-bit prefix in $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1
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
  fi
  trap wine_env_stop EXIT
}

wine_env_stop() {
  if [ -n "${started_wineserver:-}" ]; then wineserver -k 2>/dev/null || true; started_wineserver=""; fi
  if [ -n "${started_xvfb:-}" ]; then kill "$started_xvfb" 2>/dev/null || true; started_xvfb=""; fi
}
