# Shared by the per-call ARM instruction counters: builds one target of the
# arm preset (unless BUILD is 0), builds the qemu counting plugin, and defines
# arm_count ARGS... which prints the guest instructions of one run of the tool.
#   . tools/arm_counter.sh NAME TARGET BUILD
arm_counter_name=$1
arm_counter_tool=build/arm/bin/$2
if [ "$3" -eq 1 ]; then
    . tools/deps.sh
    sonadec_need_packages cmake ninja-build gcc "${SONADEC_ARM_PACKAGES[@]}"
    sonadec_arm_deps || true
    cmake --preset arm >/dev/null
    cmake --build --preset arm -j 2 --target "$2"
fi
[ -x "$arm_counter_tool" ] || { echo "$arm_counter_name: $arm_counter_tool missing: build the arm preset first" >&2; exit 1; }

arm_counter_work=build/arm-insn
mkdir -p "$arm_counter_work"
arm_counter_plugin=$arm_counter_work/libinsncount.so
if [ ! -e "$arm_counter_plugin" ] || [ tools/qemu_insn_count.c -nt "$arm_counter_plugin" ]; then
    cc -shared -fPIC -O2 -Wall -Wextra -o "$arm_counter_plugin" tools/qemu_insn_count.c
fi

arm_count() {
    local out=$PWD/$arm_counter_work/$arm_counter_name.count
    rm -f "$out"
    qemu-arm -L /usr/arm-linux-gnueabi -plugin "$PWD/$arm_counter_plugin,out=$out" "$arm_counter_tool" "$@" >/dev/null 2>&1 ||
        { echo "$arm_counter_name: $arm_counter_tool $* failed under qemu-arm" >&2; return 1; }
    [ -s "$out" ] || { echo "$arm_counter_name: the qemu plugin reported nothing" >&2; return 1; }
    cat "$out"
}
