#!/usr/bin/env bash
# Builds examples/ against the installed tree only (find_package(cport) through
# CMAKE_PREFIX_PATH), then runs the example against the installed simulator: it must print the
# readings it polls for, report a port that does not exist, and end cleanly on Ctrl+C.
#     example_test.sh SOURCE_DIR PREFIX WORK_DIR CXX LAUNCHER "WARNING FLAGS"
set -euo pipefail
source "$(dirname "$0")/lib.sh"
source_dir="$1" prefix="$2" work="$3" cxx="$4" launcher="$5" warnings="$6"
rm -rf "$work"
mkdir -p "$work"

cmake -S "$source_dir/examples" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
    ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher"} \
    -DCMAKE_CXX_FLAGS="$warnings -Werror" >"$work/configure.log" ||
    fail "configuring the example failed: $(cat "$work/configure.log")"
# Found in the prefix, not in the build tree or the system.
grep -q "cport_DIR:PATH=$prefix/" "$work/build/CMakeCache.txt" ||
    fail "cport was not found in $prefix: $(grep cport_DIR "$work/build/CMakeCache.txt")"
cmake --build "$work/build" >"$work/build.log" ||
    fail "building the example failed: $(cat "$work/build.log")"
readport="$work/build/readport"

expect 0 '^Usage: readport' "$readport" --help
expect 2 '^Usage: readport' "$readport"
expect 1 '^readport: .+' "$readport" "$work/no-such-port"

export CPORT_REGISTRY_DIR="$work/registry"
exec {sim}< <(exec "$prefix/bin/rq71sim" --no-publish --seed 71)
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
read -r -t 10 -u "$sim" pty || fail "the simulator printed no terminal path"

# Two polled readings, each "+dd.ddd" or "-dd.ddd", a blank, the degree sign as byte 0xB0, "C",
# CR LF.
timeout 20 "$readport" --poll --lines 2 "$pty" >"$work/readings" ||
    fail "readport --poll --lines 2 did not end with status 0 within 20 s"
[ "$(wc -l <"$work/readings")" -eq 2 ] || fail "not two lines: $(od -c "$work/readings")"
LC_ALL=C grep -Evq $'^[+-][0-9]{2}\\.[0-9]{3} \xb0C\r$' "$work/readings" &&
    fail "not a reading: $(od -c "$work/readings")"

# Without --lines it runs until it is told to stop (SIGTERM, handled like Ctrl+C, which a
# background job of a script ignores), then closes the port and ends with status 0. timeout
# passes the signal on and bounds the wait.
exec {out}< <(exec timeout 20 "$readport" --poll "$pty")
reader_pid=$!
trap 'kill "$sim_pid" "$reader_pid" 2>/dev/null || true' EXIT
read -r -t 10 -u "$out" line || fail "readport printed no reading within 10 s"
LC_ALL=C grep -Eq '^[+-][0-9]{2}\.[0-9]{3} ' <<<"$line" || fail "not a reading: $line"
kill -TERM "$reader_pid"
status=0
wait "$reader_pid" || status=$?
[ "$status" -eq 0 ] || fail "readport ended with status $status when told to stop (124: it hung)"
echo "example built against $prefix and read from $pty"
