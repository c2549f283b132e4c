#!/usr/bin/env bash
# Configures and builds tests/package/consumer against the installed tree: the CMake package's
# components, version checks and the Qt part's imported target.
#     find_package_test.sh SOURCE_DIR PREFIX WORK_DIR CXX LAUNCHER VERSION "WARNING FLAGS"
set -euo pipefail
source_dir="$1" prefix="$2" work="$3" cxx="$4" launcher="$5" version="$6" warnings="$7"
rm -rf "$work"

cmake -S "$source_dir/tests/package/consumer" -B "$work" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher"} \
    -DCMAKE_CXX_FLAGS="$warnings -Werror" -DEXPECTED_VERSION="$version"
cmake --build "$work"
