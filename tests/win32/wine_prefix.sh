# Sourced by scripts/test-windows and tests/win32/e2e_wine.sh.
#
# choose_wine: the Wine of the stage's path. 32-bit Wine in a win32 prefix;
# with VORBEX_WINE64=1 (the 64-bit path, see scripts/test-windows) 64-bit
# Wine in a win64 prefix, its loader named outright: scripts/wine64 goes
# first on PATH, so every `wine` below and in the callers is that loader.
choose_wine() {
  if [ "${VORBEX_WINE64:-0}" = 1 ]; then
    export WINEARCH=win64
    export PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine64" && pwd):$PATH"
  else
    export WINEARCH=win32
  fi
}

# start_wine_prefix: makes a fresh Wine prefix at $WINEPREFIX (the caller
# calls choose_wine and exports WINEPREFIX and the rest) and keeps one
# server running for it until `wineserver -k`.
#
# Returns 75 when the prefix itself did not start: wineboot failed or took
# more than three minutes, or a first program run in the prefix did not come
# back with its own exit code within two minutes. scripts/test runs the
# Windows stage a second time for that code and for nothing else.
start_wine_prefix() {
  mkdir -p "$WINEPREFIX"
  # Through `wine`: Debian's wineboot starts the 32-bit loader wherever
  # wine32 is installed.
  if ! timeout 180 wine wineboot -i </dev/null >/dev/null 2>&1; then
    echo "wine prefix: wineboot did not make $WINEPREFIX" >&2
    return 75
  fi
  wineserver -w
  wineserver -p </dev/null >/dev/null 2>&1
  # The first program of the new server starts the prefix's services, which
  # keep that program's output open for as long as the server runs; started
  # here, they hold nothing that a test waits for.
  local rc=0
  timeout 120 wine cmd /c exit 7 </dev/null >/dev/null 2>&1 || rc=$?
  if [ "$rc" -ne 7 ]; then
    echo "wine prefix: a first program in $WINEPREFIX ended with $rc, not 7" >&2
    return 75
  fi
}
