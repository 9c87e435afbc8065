/* A TCG plug-in for qemu-user that counts the guest instructions a program
 * executes and prints the total when it exits (with -d plugin). Debian's
 * qemu-user is built with plug-in support but ships none of QEMU's example
 * plug-ins, so bench/instructions.sh builds this one.
 *
 * The few declarations below are those of the plug-in interface at version
 * 1 (QEMU 7.2), whose functions the qemu-aarch64 program exports. */

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
struct qemu_info_t;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id,
                                           void (*callback)(qemu_plugin_id_t, struct qemu_plugin_tb *));
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb *tb, enum qemu_plugin_op op, void *counter,
                                              uint64_t amount);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb *tb);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, void (*callback)(qemu_plugin_id_t, void *), void *data);
void qemu_plugin_outs(const char *text);

__attribute__((visibility("default"))) int qemu_plugin_version = 1;

static uint64_t executed;

/* Each translated block adds its instruction count every time it runs. */
static void on_translate(qemu_plugin_id_t id, struct qemu_plugin_tb *tb) {
  (void)id;
  qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &executed, qemu_plugin_tb_n_insns(tb));
}

static void report_total(qemu_plugin_id_t id, void *data) {
  (void)id;
  (void)data;
  char line[64];
  snprintf(line, sizeof line, "instructions %llu\n", (unsigned long long)executed);
  qemu_plugin_outs(line);
}

__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id, const struct qemu_info_t *info,
                                                               int argc, char **argv) {
  (void)info;
  (void)argc;
  (void)argv;
  qemu_plugin_register_vcpu_tb_trans_cb(id, on_translate);
  qemu_plugin_register_atexit_cb(id, report_total, NULL);
  return 0;
}
