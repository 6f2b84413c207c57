# Wine environment for the end-to-end tests. Source this file, then call
# wine_env_start before the tests and wine_env_stop after them:
#
#   . tests/e2e/wine_env.sh [PREFIX_DIR]
#   wine_env_start || exit 1
#   ...
#   wine_env_stop
#
# The prefix defaults to $BUILD_ROOT/wineprefix ($BUILD_ROOT defaults to
# <repo>/build). Sourced without arguments, a script's own "$1" is seen
# here: scripts that take arguments should source it with "".
# Sourcing twice is harmless: settings already made are kept, and a display
# or server started here is remembered.
# Deliberately no `set -e` here: this file runs inside the caller's shell.

_wine_env_here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
: "${BUILD_ROOT:=$(cd "$_wine_env_here/../.." && pwd)/build}"
export BUILD_ROOT

if [ -n "${1:-}" ]; then
    WINEPREFIX="$1"
fi
: "${WINEPREFIX:=$BUILD_ROOT/wineprefix}"
# Wine refuses relative prefix paths.
case "$WINEPREFIX" in
    /*) ;;
    *) WINEPREFIX="$(pwd)/$WINEPREFIX" ;;
esac
export WINEPREFIX
export WINEARCH=win64
# No Mono/Gecko: their install prompts would hang a headless prefix creation.
export WINEDLLOVERRIDES="mscoree=;mshtml="
# Wine derives the Unix file-name encoding from the locale; non-ASCII folder
# names only survive the round trip with a UTF-8 locale.
export LC_ALL=C.UTF-8
export WINEDEBUG=-all

# What wine_env_start launched itself, and so wine_env_stop ends. Shell
# variables, not exported: a nested script sourcing this file must not stop
# its caller's display or server.
: "${_WINE_ENV_XVFB_PID:=}"
: "${_WINE_ENV_OWN_SERVER:=}"

_wine_env_log() { printf 'wine_env: %s\n' "$*" >&2; }

_wine_env_display_works() {
    [ -n "${DISPLAY:-}" ] || return 1
    if command -v xdpyinfo >/dev/null 2>&1; then
        xdpyinfo -display "$DISPLAY" >/dev/null 2>&1
        return
    fi
    # Without xdpyinfo, a local socket is the best evidence we can get.
    local n="${DISPLAY#*:}"
    n="${n%%.*}"
    [ -S "/tmp/.X11-unix/X$n" ]
}

_wine_env_start_xvfb() {
    if ! command -v Xvfb >/dev/null 2>&1; then
        _wine_env_log "Xvfb is not installed (scripts/install-deps.sh installs it)"
        return 1
    fi
    local n
    for n in $(seq 90 199); do
        [ -e "/tmp/.X$n-lock" ] && continue
        [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        local pid=$!
        # Wait for the socket; if another starter won the race for this
        # number, Xvfb exits and we move on to the next one.
        for _ in $(seq 1 100); do
            kill -0 "$pid" 2>/dev/null || break
            if [ -S "/tmp/.X11-unix/X$n" ]; then
                _WINE_ENV_XVFB_PID=$pid
                export DISPLAY=":$n"
                return 0
            fi
            sleep 0.1
        done
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    _wine_env_log "could not start Xvfb on any display :90..:199"
    return 1
}

# Without a window manager on the Xvfb, Wine waits 2 s for every managed
# window it hides; unmanaged windows close at once.
_wine_env_unmanaged_windows() {
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

wine_env_start() {
    if ! command -v wine >/dev/null 2>&1; then
        _wine_env_log "wine is not installed (scripts/install-deps.sh installs it)"
        return 1
    fi
    if [ -n "$_WINE_ENV_XVFB_PID" ] && kill -0 "$_WINE_ENV_XVFB_PID" 2>/dev/null \
        && _wine_env_display_works; then
        :
    elif _wine_env_display_works; then
        :
    else
        _WINE_ENV_XVFB_PID=
        _wine_env_start_xvfb || return 1
    fi

    # system.reg is written last by wineboot; a prefix without it is a
    # half-made one (an interrupted first run) and gets made again.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        _wine_env_log "creating Wine prefix $WINEPREFIX (first run takes a while)"
        mkdir -p "$(dirname "$WINEPREFIX")" || return 1
        local t0=$SECONDS
        if ! wineboot -i >/dev/null 2>&1; then
            _wine_env_log "wineboot -i failed"
            return 1
        fi
        _wine_env_unmanaged_windows
        # Registry files are flushed when the server goes idle.
        wineserver -w
        _wine_env_log "prefix ready after $((SECONDS - t0)) s"
    fi
    # A persistent server spares every test the server start-up and the
    # prefix update check. Status 2: one is already running for this prefix
    # (then it is not ours to stop).
    wineserver -p
    case $? in
        0) _WINE_ENV_OWN_SERVER=1 ;;
        2) ;;
        *) _wine_env_log "wineserver -p failed"; return 1 ;;
    esac
    # After the server start, so that this call cannot leave a short-lived
    # server behind in its place.
    if ! grep -q '^"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
        _wine_env_unmanaged_windows
    fi
    # Bring up the prefix's desktop and service processes now, with their
    # output going nowhere: started by a later program they would inherit its
    # output pipe and keep a caller such as CTest waiting for its end.
    wine reg query 'HKCU\Software\Wine' >/dev/null 2>&1 </dev/null
    return 0
}

wine_env_stop() {
    if [ -n "$_WINE_ENV_OWN_SERVER" ]; then
        wineserver -k >/dev/null 2>&1
        _WINE_ENV_OWN_SERVER=
    fi
    if [ -n "$_WINE_ENV_XVFB_PID" ]; then
        kill "$_WINE_ENV_XVFB_PID" 2>/dev/null
        wait "$_WINE_ENV_XVFB_PID" 2>/dev/null
        _WINE_ENV_XVFB_PID=
        unset DISPLAY
    fi
    return 0
}
