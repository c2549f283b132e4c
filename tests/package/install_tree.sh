#!/usr/bin/env bash
# Installs the build into a fresh temporary prefix for the tests of the installed tree.
#     install_tree.sh BUILD_DIR PREFIX
set -euo pipefail
rm -rf "$2"
cmake --install "$1" --prefix "$2" >/dev/null
