/* qemu_insn_count: a qemu-user plugin that counts the guest instructions a
 * program executes (for tools/arm_insn_count.sh). Each translated block adds
 * its instruction count to one counter when it runs, inline in the generated
 * code, so the count is exact for single-threaded user-mode programs and
 * costs little time.
 *
 * With profile=FILE it also keeps one counter per translated block and
 * writes "start-address instructions" lines (decimal, all blocks that
 * start there summed) for the script to map onto the program's symbols.
 *
 * Built for the host: cc -shared -fPIC -O2 -o libinsncount.so qemu_insn_count.c
 * Used as: qemu-arm -plugin ./libinsncount.so,out=COUNTFILE[,profile=FILE] PROGRAM ARGS...
 *
 * qemu installs no plugin header, so the few entry points used are declared
 * here, as the plugin interface (version 1, qemu 7.x) defines them. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
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
uint64_t qemu_plugin_tb_vaddr(const struct qemu_plugin_tb *tb);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void *userdata);
void qemu_plugin_outs(const char *string);

#define EXPORT __attribute__((visibility("default")))

EXPORT int qemu_plugin_version = 1;

static uint64_t executed;
static char outPath[4096];
static char profilePath[4096];

/* One record per translation; the generated code adds to its counter, so
 * records never move: they are allocated in fixed chunks. */
struct Block {
    uint64_t vaddr;
    uint64_t insns;
};
enum { kChunk = 4096 };
struct Chunk {
    struct Chunk *next;
    size_t used;
    struct Block blocks[kChunk];
};
static struct Chunk *chunks;

static struct Block *newBlock(uint64_t vaddr) {
    if (chunks == NULL || chunks->used == kChunk) {
        struct Chunk *c = calloc(1, sizeof *c);
        if (c == NULL) return NULL;
        c->next = chunks;
        chunks = c;
    }
    struct Block *b = &chunks->blocks[chunks->used++];
    b->vaddr = vaddr;
    return b;
}

static void onTranslate(qemu_plugin_id_t id, struct qemu_plugin_tb *tb) {
    (void)id;
    const size_t n = qemu_plugin_tb_n_insns(tb);
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &executed, n);
    if (profilePath[0] != '\0') {
        struct Block *b = newBlock(qemu_plugin_tb_vaddr(tb));
        if (b != NULL) qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &b->insns, n);
    }
}

static int byAddress(const void *a, const void *b) {
    const struct Block *x = a, *y = b;
    return x->vaddr < y->vaddr ? -1 : x->vaddr > y->vaddr;
}

/* Blocks translated more than once (same start) are summed into one line. */
static void writeProfile(void) {
    size_t total = 0;
    for (struct Chunk *c = chunks; c != NULL; c = c->next) total += c->used;
    struct Block *all = malloc((total ? total : 1) * sizeof *all);
    FILE *f = fopen(profilePath, "w");
    if (all == NULL || f == NULL) {
        free(all);
        if (f != NULL) fclose(f);
        return;
    }
    size_t k = 0;
    for (struct Chunk *c = chunks; c != NULL; c = c->next) {
        memcpy(all + k, c->blocks, c->used * sizeof *all);
        k += c->used;
    }
    qsort(all, total, sizeof *all, byAddress);
    for (size_t i = 0; i < total;) {
        uint64_t sum = 0;
        size_t j = i;
        for (; j < total && all[j].vaddr == all[i].vaddr; ++j) sum += all[j].insns;
        if (sum != 0) fprintf(f, "%llu %llu\n", (unsigned long long)all[i].vaddr, (unsigned long long)sum);
        i = j;
    }
    fclose(f);
    free(all);
}

static void onExit(qemu_plugin_id_t id, void *userdata) {
    (void)id;
    (void)userdata;
    if (profilePath[0] != '\0') writeProfile();
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
        if (strncmp(argv[i], "profile=", 8) == 0 && strlen(argv[i] + 8) < sizeof profilePath)
            strcpy(profilePath, argv[i] + 8);
    }
    qemu_plugin_register_vcpu_tb_trans_cb(id, onTranslate);
    qemu_plugin_register_atexit_cb(id, onExit, NULL);
    return 0;
}
