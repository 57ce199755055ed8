/* Instruction counts of one stretch of Python code under callgrind: the counters are zeroed,
 * collection is switched on around the callback, and the counts are dumped under `label`.
 * Outside valgrind the client requests do nothing and the callback simply runs. */
#include <valgrind/callgrind.h>

typedef void (*work_fn)(void);

void lsp_bench_measure(const char *label, work_fn work) {
    CALLGRIND_ZERO_STATS;
    CALLGRIND_TOGGLE_COLLECT;
    work();
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_DUMP_STATS_AT(label);
}
