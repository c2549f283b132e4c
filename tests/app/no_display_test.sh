#!/usr/bin/env bash
# quendal answers --help and --version before Qt starts, so they work where there is no
# display at all; anything else would need one.
#     no_display_test.sh QUENDAL VERSION
set -euo pipefail
quendal="$1" version="$2"
run() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 30 "$quendal" "$@"
}
out=$(run --version)
[ "$out" = "quendal $version" ] || { echo "FAIL: --version printed: $out" >&2; exit 1; }
out=$(run --help)
grep -q '^Usage: quendal \[--help\] \[--version\]$' <<<"$out" ||
    { echo "FAIL: --help printed: $out" >&2; exit 1; }
echo "quendal --help and --version work without a display"
