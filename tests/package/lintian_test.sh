#!/usr/bin/env bash
# Runs lintian on the packages: errors fail the test; warnings and remarks are kept in
# PACKAGE_DIR/lintian.txt, which scripts/test shows.
#     lintian_test.sh PACKAGE_DIR
set -euo pipefail
source "$(dirname "$0")/lib.sh"
packages="$1"
command -v lintian >/dev/null || fail "lintian is not installed (scripts/test installs it)"
shopt -s nullglob
debs=("$packages"/*.deb)
[ ${#debs[@]} -eq 2 ] || fail "expected two packages in $packages, found: ${debs[*]}"
status=0
lintian --fail-on error --display-info "${debs[@]}" >"$packages/lintian.txt" 2>&1 || status=$?
cat "$packages/lintian.txt"
[ "$status" -eq 0 ] || fail "lintian reported errors (status $status)"
echo "lintian: no errors in ${debs[*]##*/}"
