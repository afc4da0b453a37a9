// SPDX-License-Identifier: MIT
/*
 * A TCG plugin for qemu-user that counts the guest instructions a program
 * executes and prints "insns: N" when it exits:
 *
 *   qemu-arm -plugin ./libinsn.so -d plugin -D count.log ./program ...
 *
 * Each translated block gets an inline add of its instruction count, run
 * every time the block executes, so the count is exact and the same on
 * every run of the same program and input. Written against plugin API
 * version 1 (QEMU 7.x); the few functions it calls are declared here, as
 * the distribution ships no plugin header.
 */
#include <inttypes.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
typedef struct qemu_info_t qemu_info_t;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
typedef void (*qemu_plugin_vcpu_tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb *tb);
typedef void (*qemu_plugin_udata_cb_t)(qemu_plugin_id_t id, void *userdata);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_tb_trans_cb_t cb);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb *tb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb *tb, enum qemu_plugin_op op, void *ptr,
                                              uint64_t imm);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void *userdata);
void qemu_plugin_outs(const char *string);

__attribute__((visibility("default"))) int qemu_plugin_version = 1;

/* One counter: the programs measured run on one guest thread. */
static uint64_t insn_count;

static void on_translate(qemu_plugin_id_t id, struct qemu_plugin_tb *tb) {
  (void)id;
  qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &insn_count,
                                           qemu_plugin_tb_n_insns(tb));
}

static void on_exit(qemu_plugin_id_t id, void *userdata) {
  char line[64];
  (void)id;
  (void)userdata;
  snprintf(line, sizeof line, "insns: %" PRIu64 "\n", insn_count);
  qemu_plugin_outs(line);
}

__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t *info,
                                                               int argc, char **argv) {
  (void)info;
  (void)argc;
  (void)argv;
  qemu_plugin_register_vcpu_tb_trans_cb(id, on_translate);
  qemu_plugin_register_atexit_cb(id, on_exit, NULL);
  return 0;
}
