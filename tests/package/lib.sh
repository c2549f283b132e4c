# Shared by the package tests.
# shellcheck shell=bash

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# expect EXIT PATTERN COMMAND...: runs COMMAND (bounded: 30 s) and checks its exit status and
# that its standard output matches the extended regular expression PATTERN.
expect() {
    local want="$1" pattern="$2" out status=0
    shift 2
    out=$(timeout 30 "$@" 2>&1) || status=$?
    [ "$status" -eq "$want" ] || fail "$* exited with $status, not $want; it printed: $out"
    grep -Eq -- "$pattern" <<<"$out" || fail "$* printed no match for /$pattern/: $out"
}

# Put before a command: runs it as on a machine without any display.
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
