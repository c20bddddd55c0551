# Debian packages the build, the tests and the run use, and a way to install the
# missing ones.
VELGOR_BUILD_PACKAGES=(cmake g++ make pkg-config zlib1g-dev qt6-base-dev)
VELGOR_TEST_PACKAGES=("${VELGOR_BUILD_PACKAGES[@]}" libgtest-dev libbenchmark-dev
    dump1090-mutability xvfb trayer xdotool x11-utils libx11-dev clang libclang-rt-14-dev
    groff-base prometheus prometheus-node-exporter python3)
# The fuzz targets: clang with its libFuzzer and sanitizer run-times, and the real
# receiver for the seed corpora.
VELGOR_FUZZ_PACKAGES=(cmake make zlib1g-dev clang libclang-rt-14-dev dump1090-mutability)
# The Windows build of the core and its tests under wine (scripts/test-windows).
VELGOR_WINDOWS_TEST_PACKAGES=(cmake make g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest
    wine wine64 xvfb xauth xdotool x11-utils imagemagick zip unzip dump1090-mutability python3 prometheus)
# The headless package for 64-bit ARM boards: Debian's cross compiler and the arm64
# libraries of multiarch, for linking, for dpkg-shlibdeps and for running the
# programs under qemu-user.
VELGOR_ARM64_PACKAGES=(cmake make g++-aarch64-linux-gnu zlib1g-dev:arm64 zlib1g:arm64
    libc6:arm64 libstdc++6:arm64 libgcc-s1:arm64 qemu-user)
# The installed packages' test (scripts/test-package): the real receiver, and what
# rates the unit (systemd-analyze) and runs the relay under its system-call filter.
VELGOR_PACKAGE_TEST_PACKAGES=(dump1090-mutability python3 python3-seccomp systemd)
VELGOR_RUN_PACKAGES=("${VELGOR_BUILD_PACKAGES[@]}" dump1090-mutability python3)

# ensure_packages pkg...: installs those not yet installed (apt-get update first).
ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}

# ensure_architecture arch: lets dpkg install packages of that foreign architecture
# (the next ensure_packages reads the archive's lists again, since what it asks for
# is missing).
ensure_architecture() {
    local arch=$1
    [ "$arch" = "$(dpkg --print-architecture)" ] && return 0
    dpkg --print-foreign-architectures | grep -qx "$arch" && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "adding the foreign architecture $arch"
    $sudo dpkg --add-architecture "$arch"
}
