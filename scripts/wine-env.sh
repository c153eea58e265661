# Running Windows programs under wine64 from a script: sourced by
# scripts/test-windows.sh and scripts/bench.sh.  The environment's values are
# in cmake/wine.env, which the toolchain file and tool_test read too.
#
#   wine_setup PREFIX    finds wine64 and wineserver (sets $wine64 and
#                        $wineserver; returns 1 when either is missing) and
#                        exports WINEPREFIX=PREFIX and cmake/wine.env
#   wine_make_prefix     makes the prefix once (wineboot), again when an
#                        interrupted run left it half made; returns 1 (and
#                        prints Wine's output) when it cannot
#   wine_start           starts a persistent session of the prefix
#   wine_stop            ends the Wine server (and programs) of this prefix only
#
# Wine's background programs (services.exe and the rest) inherit the output
# of the program that starts a session, and leave a few seconds after the last
# one ends.  Started by a test, they would hold ctest's pipe open and add those
# seconds to every test; so a script starts the session with wine_start, away
# from ctest, and ends it with wine_stop (also from an EXIT trap).

wine_env_file=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/cmake/wine.env

wine_setup() {
  # Debian puts wine64 on PATH only with the recommended "wine" package.
  wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
  wineserver=$(dirname "$wine64")/wineserver
  [ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)
  [ -x "$wine64" ] && [ -x "$wineserver" ] || return 1
  export WINEPREFIX=$1
  local line
  while IFS= read -r line; do
    case $line in '' | '#'*) continue ;; esac
    export "$line"
  done <"$wine_env_file"
  unset WAYLAND_DISPLAY
}

wine_make_prefix() {
  [ -f "$WINEPREFIX/.inireg-ready" ] && return 0
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  local log=$WINEPREFIX.wineboot.log
  if ! timeout 300 "$wine64" wineboot.exe --init >"$log" 2>&1 \
      || ! timeout 120 "$wineserver" -w; then
    cat "$log" >&2
    echo "could not create the Wine prefix $WINEPREFIX" >&2
    return 1
  fi
  touch "$WINEPREFIX/.inireg-ready"
}

wine_start() {
  "$wineserver" -p
  "$wine64" cmd.exe /c exit </dev/null >/dev/null 2>&1
}

wine_stop() {
  if [ -d "$WINEPREFIX" ]; then
    "$wineserver" -k 2>/dev/null || true
    timeout 30 "$wineserver" -w 2>/dev/null || true
  fi
}
