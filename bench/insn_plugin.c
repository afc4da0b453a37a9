// SPDX-License-Identifier: MIT
/*
 * A TCG plugin for qemu-user that counts the guest instructions a program
 * executes and prints "insns: N" when it exits:
 *
 *   qemu-arm -plugin ./libinsn.so -d plugin -D count.log ./program ...
 *
 * Each translated block gets an inline add of its instruction count, run
 * every time the block executes, so the count is exact and the same on
 * every run of the same program and input. With the argument "blocks=on"
 * (-plugin ./libinsn.so,blocks=on) it also prints "block ADDR N" for every
 * guest address where a block starts, N the instructions run in blocks
 * starting there, so that a script can add them up by function. Written against plugin API
 * version 1 (QEMU 7.x); the few functions it calls are declared here, as
 * the distribution ships no plugin header.
 */
#include <inttypes.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
typedef struct qemu_info_t qemu_info_t;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
typedef void (*qemu_plugin_vcpu_tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb *tb);
typedef void (*qemu_plugin_udata_cb_t)(qemu_plugin_id_t id, void *userdata);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_tb_trans_cb_t cb);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb *tb);
uint64_t qemu_plugin_tb_vaddr(const struct qemu_plugin_tb *tb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb *tb, enum qemu_plugin_op op, void *ptr,
                                              uint64_t imm);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void *userdata);
void qemu_plugin_outs(const char *string);

__attribute__((visibility("default"))) int qemu_plugin_version = 1;

/* One counter: the programs measured run on one guest thread. */
static uint64_t insn_count;

/* With blocks=on, a counter per translated block: its start, its length and
   how often it ran. A block translated again gets a row of its own; the rows
   of one address are added up when printed. */
#define MAX_BLOCKS 262144
static struct Block {
  uint64_t vaddr, insns, runs;
} blocks[MAX_BLOCKS];
static size_t block_count;
static int by_block;

static void on_translate(qemu_plugin_id_t id, struct qemu_plugin_tb *tb) {
  const size_t n = qemu_plugin_tb_n_insns(tb);
  (void)id;
  qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &insn_count, n);
  if (by_block && block_count < MAX_BLOCKS) {
    struct Block *b = &blocks[block_count++];
    b->vaddr = qemu_plugin_tb_vaddr(tb);
    b->insns = n;
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &b->runs, 1);
  }
}

static void on_exit(qemu_plugin_id_t id, void *userdata) {
  char line[64];
  size_t i;
  (void)id;
  (void)userdata;
  snprintf(line, sizeof line, "insns: %" PRIu64 "\n", insn_count);
  qemu_plugin_outs(line);
  for (i = 0; i < block_count; ++i) {
    if (blocks[i].runs == 0) continue;
    snprintf(line, sizeof line, "block %" PRIx64 " %" PRIu64 "\n", blocks[i].vaddr, blocks[i].insns * blocks[i].runs);
    qemu_plugin_outs(line);
  }
  if (block_count == MAX_BLOCKS) qemu_plugin_outs("blocks: too many, the rest not counted by block\n");
}

__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t *info,
                                                               int argc, char **argv) {
  int i;
  (void)info;
  for (i = 0; i < argc; ++i) by_block |= strcmp(argv[i], "blocks=on") == 0;
  qemu_plugin_register_vcpu_tb_trans_cb(id, on_translate);
  qemu_plugin_register_atexit_cb(id, on_exit, NULL);
  return 0;
}
