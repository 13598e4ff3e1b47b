# Sourced by the quick-start scripts: installs missing Debian packages when
# run as root, otherwise prints the apt-get line to run.
sonadec_need_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq >/dev/null && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    else
        echo "Missing packages. Run: sudo apt-get install -y ${missing[*]}" >&2
        return 1
    fi
}

# What building and testing needs; the benchmarks' peers are optional.
# libavformat-dev: MP4 input of the CLI (its container parser only).
SONADEC_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libsqlite3-dev libpng-dev libx11-dev xvfb libavformat-dev)
SONADEC_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
SONADEC_BENCH_PACKAGES=(libbenchmark-dev libyuv-dev libavcodec-dev)

# The ARM cross check (tools/arm_check.sh): the armel soft-float cross
# toolchain, the user-mode emulator and GoogleTest's sources.
SONADEC_ARM_PACKAGES=(g++-arm-linux-gnueabi qemu-user googletest)

# Unpacks the armel libraries the ARM build links beyond the toolchain's own
# (SQLite, for the platform layer's registry) into build/arm-deps, where the
# toolchain file looks. Unpacked rather than installed: multiarch installs
# need every shared package at the host's exact version, which the armel
# archive does not always have.
sonadec_arm_deps() {
    local root=${SONADEC_ARM_DEPS:-$PWD/build/arm-deps}
    [ -e "$root/usr/include/sqlite3.h" ] && [ -e "$root/usr/lib/arm-linux-gnueabi/libsqlite3.so" ] && return 0
    if ! apt-cache show libsqlite3-dev:armel >/dev/null 2>&1; then
        if [ "$(id -u)" -eq 0 ]; then
            dpkg --add-architecture armel && apt-get update -qq >/dev/null || true
        else
            echo "No armel package lists. Run: sudo dpkg --add-architecture armel && sudo apt-get update" >&2
            return 1
        fi
    fi
    local tmp
    tmp=$(mktemp -d) && chmod 755 "$tmp"
    if ! (cd "$tmp" && apt-get download -qq libsqlite3-0:armel libsqlite3-dev:armel >/dev/null 2>&1); then
        echo "Could not download libsqlite3-dev:armel; the ARM build goes on without it" >&2
        rm -rf "$tmp"
        return 1
    fi
    mkdir -p "$root"
    for deb in "$tmp"/*.deb; do dpkg-deb -x "$deb" "$root"; done
    rm -rf "$tmp"
    echo "Unpacked armel SQLite into $root"
}
