# Shared by the project's scripts: package installation and timed stages.
# shellcheck shell=bash

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_ROOT="${QUENDAL_BUILD_ROOT:-$ROOT/build}"
JOBS="${QUENDAL_JOBS:-$(nproc)}"

# Debian packages each part of the work needs.
PKG_BUILD=(build-essential cmake ninja-build ccache pkg-config clang-format)
# The soak runs the program on a virtual X display (xvfb-run needs xauth, only recommended);
# the fault tests use pySerial as a second program on a port.
PKG_TEST=(libgtest-dev libgmock-dev python3-serial xvfb xauth)
# Qt Charts' CMake package needs Qt OpenGL's, which Debian's qt6-charts-dev does not pull in.
PKG_QT=(qt6-base-dev libgl-dev libjpeg-dev fonts-dejavu-core qt6-charts-dev libqt6opengl6-dev)
# The cross compilers, 64-bit Wine for running the Windows tests, NSIS for the installers, and
# xdotool (with xwininfo) to drive the Windows program on a virtual display; ImageMagick's
# import takes its screenshot.
PKG_WINDOWS=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 nsis xdotool x11-utils imagemagick)
# clang with its runtime libraries (libFuzzer, sanitizers) for the fuzz targets.
PKG_FUZZ=(clang libclang-rt-14-dev)
PKG_BENCH=(libqt6serialport6-dev)
# Debian packages: dpkg-shlibdeps (dpkg-dev, which uses file), lintian, and the validators of
# the desktop entry and the metainfo.
PKG_PACKAGE=(dpkg-dev file lintian desktop-file-utils appstream)

# Installs the packages that are missing, with sudo when not root. Quick when all are there.
ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

STAGE_LOG=()
# Runs a command as a named stage and records how long it took.
stage() {
    local name="$1"
    shift
    local start end
    start=$(date +%s)
    echo "=== $name"
    "$@"
    end=$(date +%s)
    STAGE_LOG+=("$(printf '%-40s %5ss' "$name" "$((end - start))")")
    echo "=== $name: $((end - start))s"
}

print_stages() {
    echo "=== Stage durations"
    printf '%s\n' "${STAGE_LOG[@]}"
}

launcher_args() {
    command -v ccache >/dev/null && echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
}

# configure NAME [cmake args...]: configures build/NAME from the preset NAME in
# CMakePresets.json. CMake's chatter is left out, but not what it did not find (Wine, say).
configure() {
    local name="$1"
    shift
    (cd "$ROOT" && cmake --preset "$name" -B "$BUILD_ROOT/$name" $(launcher_args) "$@") |
        { grep -F 'not found' || true; }
}

build() {
    cmake --build "$BUILD_ROOT/$1" -j "$JOBS"
}
