# shellcheck shell=bash
# Shared by the tests that run Windows programs with windows of their own under Wine: a
# virtual X display and a Wine prefix kept for them (not the headless prefix of the component's
# tests, whose desktop has no display).

# with_display "$0" "$@": runs the calling script again inside xvfb-run, once.
with_display() {
    [ -n "${QUENDAL_WINE_DISPLAY_READY:-}" ] && return 0
    export QUENDAL_WINE_DISPLAY_READY=1
    exec xvfb-run -a -s "-screen 0 800x600x24 -ac" "$@"
}

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# start_prefix PREFIX: makes the prefix on first use and starts its server for this run.
start_prefix() {
    export WINEPREFIX
    WINEPREFIX=$(realpath -m "$1")
    export WINEDEBUG=-all
    if [ ! -f "$WINEPREFIX/.complete" ]; then
        # Without Mono and Gecko, which the programs do not need and whose installers would ask.
        WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -u >/dev/null 2>&1
        "$wineserver" -w
        touch "$WINEPREFIX/.complete"
    fi
    # Its own output (a dump of its objects when it is stopped) is of no use here.
    "$wineserver" -p10 </dev/null >/dev/null 2>&1
}

stop_prefix() {
    "$wineserver" -k >/dev/null 2>&1 || true
}
