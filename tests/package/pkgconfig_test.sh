#!/usr/bin/env bash
# Builds the example with nothing but the flags pkg-config gives for the installed cport.
#     pkgconfig_test.sh SOURCE_DIR PREFIX WORK_DIR CXX VERSION "WARNING FLAGS"
set -euo pipefail
source "$(dirname "$0")/lib.sh"
source_dir="$1" prefix="$2" work="$3" cxx="$4" version="$5" warnings="$6"
rm -rf "$work"
mkdir -p "$work"

pc=$(find "$prefix" -name cport.pc)
[ -n "$pc" ] || fail "no cport.pc below $prefix"
export PKG_CONFIG_PATH="$(dirname "$pc")"
[ "$(pkg-config --modversion cport)" = "$version" ] ||
    fail "cport.pc says version $(pkg-config --modversion cport), not $version"
read -ra flags <<<"$(pkg-config --cflags --libs cport)"
# The flags must point into the prefix the file was installed to, wherever that is.
printf '%s\n' "${flags[@]}" | grep -q "^-I$prefix/.*include$" ||
    fail "no include folder inside $prefix: ${flags[*]}"
read -ra warning_flags <<<"$warnings"
"$cxx" -std=c++20 "${warning_flags[@]}" -Werror "$source_dir/examples/readport.cpp" \
    "${flags[@]}" -o "$work/readport" || fail "cannot build with pkg-config's flags: ${flags[*]}"
expect 0 '^Usage: readport' "$work/readport" --help
echo "built with: ${flags[*]}"
