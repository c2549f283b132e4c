#!/usr/bin/env bash
# Builds the Debian packages of the build folder afresh into PACKAGE_DIR.
#     build_debs.sh CPACK BUILD_DIR PACKAGE_DIR
set -euo pipefail
cpack="$1" build="$2" packages="$3"
rm -rf "$packages"
"$cpack" --config "$build/CPackConfig.cmake" -B "$packages"
