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
SONADEC_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libsqlite3-dev)
SONADEC_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
SONADEC_BENCH_PACKAGES=(libbenchmark-dev libyuv-dev libavcodec-dev)
