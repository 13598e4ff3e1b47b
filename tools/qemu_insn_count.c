/* qemu_insn_count: a qemu-user plugin that counts the guest instructions a
 * program executes (for tools/arm_insn_count.sh). Each translated block adds
 * its instruction count to one counter when it runs, inline in the generated
 * code, so the count is exact for single-threaded user-mode programs and
 * costs little time.
 *
 * Built for the host: cc -shared -fPIC -O2 -o libinsncount.so qemu_insn_count.c
 * Used as: qemu-arm -plugin ./libinsncount.so,out=COUNTFILE PROGRAM ARGS...
 *
 * qemu installs no plugin header, so the few entry points used are declared
 * here, as the plugin interface (version 1, qemu 7.x) defines them. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
typedef struct qemu_info_t qemu_info_t; /* read by nothing here */

enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };

typedef void (*qemu_plugin_vcpu_tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb *tb);
typedef void (*qemu_plugin_udata_cb_t)(qemu_plugin_id_t id, void *userdata);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_tb_trans_cb_t cb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb *tb, enum qemu_plugin_op op,
                                              void *ptr, uint64_t imm);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb *tb);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void *userdata);
void qemu_plugin_outs(const char *string);

#define EXPORT __attribute__((visibility("default")))

EXPORT int qemu_plugin_version = 1;

static uint64_t executed;
static char outPath[4096];

static void onTranslate(qemu_plugin_id_t id, struct qemu_plugin_tb *tb) {
    (void)id;
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &executed,
                                             qemu_plugin_tb_n_insns(tb));
}

static void onExit(qemu_plugin_id_t id, void *userdata) {
    (void)id;
    (void)userdata;
    char line[64];
    snprintf(line, sizeof line, "%llu\n", (unsigned long long)executed);
    if (outPath[0] != '\0') {
        FILE *f = fopen(outPath, "w");
        if (f != NULL) {
            fputs(line, f);
            fclose(f);
            return;
        }
    }
    qemu_plugin_outs(line); /* shown with -d plugin */
}

EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t *info, int argc, char **argv) {
    (void)info;
    for (int i = 0; i < argc; ++i) {
        if (strncmp(argv[i], "out=", 4) == 0 && strlen(argv[i] + 4) < sizeof outPath)
            strcpy(outPath, argv[i] + 4);
    }
    qemu_plugin_register_vcpu_tb_trans_cb(id, onTranslate);
    qemu_plugin_register_atexit_cb(id, onExit, NULL);
    return 0;
}
