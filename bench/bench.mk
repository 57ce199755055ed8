# make bench: every benchmark under CPython 3.9 (about 15-20 minutes on two cores), the tables
# printed, and build/bench/report.md with its PNG plots, then the request budget's figures
# (bench/suite_budget.py, build/bench/budget.json; about 3 minutes). Not part of `make test`.
# Knobs: BENCH_ARGS="--quick" (a few rounds only) or "--only completion,hover" or "--repeats 5";
#        LSP_BENCH_TYPING_SITES=64 (typing sites in standard-library files; 12 by default),
#        LSP_BENCH_TYPING_SEED=2 (another draw of them).

BENCH_OUT := $(BUILD)/bench
BENCH_ARGS ?=

.PHONY: bench

# The plots are drawn even when a suite failed, so the report is whole; the status still fails.
bench: build39
	@mkdir -p $(BENCH_OUT)
	@status=0; $(RUN39) bench/run.py --out $(BENCH_OUT) $(BENCH_ARGS) || status=$$?; \
	echo "== request budget =="; \
	$(RUN39) bench/suite_budget.py --out $(BENCH_OUT) $(filter --quick,$(BENCH_ARGS)) || status=1; \
	if $(PY311) -c 'import matplotlib' 2>/dev/null; then \
	    $(RUN311) bench/plots.py $(BENCH_OUT)/results.json || status=1; \
	else echo "bench: no plots (python3-matplotlib is not installed)"; fi; \
	exit $$status

# make bench-typing-real: completion at sites drawn from the standard library as users type them
# (every dot alike, no quota per class), the module against the floor and pyright's language
# server, two draws; then numpy (`np.`, `np.ze`, `arr.`, warm and in a new process) when the
# interpreter has it (Debian's python3-numpy; skipped otherwise). Under 3.11, whose numpy and
# matplotlib are Debian's. pyright is the version pinned in bench/package.json, installed by
# `npm ci` when node is there; without it its columns are skipped. About 30-40 minutes.
# Writes build/bench/typing_real.{json,md,png}.
# make bench-typing-profile: where jedi's time goes at every site of that run (and `np.`,
# `arr.`), cProfile at the 10 heaviest, and the item cache's levers estimated from it (about 30
# minutes for 160 sites): build/bench/profile_sites.{json,md}; PROFILE_ARGS="--report" writes the
# tables again from the JSON.
# Knobs: TYPING_REAL_ARGS="--sites 64 --seeds 3,4 --repeats 5 --no-numpy --no-pyright",
#        PROFILE_ARGS="--top 10 --runs 3".
TYPING_REAL_ARGS ?=
PROFILE_ARGS ?=

.PHONY: bench-typing-real bench-typing-profile bench-peers

bench-peers:
	@if [ ! -d bench/node_modules/pyright ] && command -v npm >/dev/null; then \
	    (cd bench && npm ci --no-audit --no-fund) || echo "bench: pyright could not be installed; its columns are skipped"; \
	fi

bench-typing-real: build311 bench-peers
	@mkdir -p $(BENCH_OUT)
	$(RUN311) bench/suite_typing_real.py --out $(BENCH_OUT) $(TYPING_REAL_ARGS)

bench-typing-profile: build311
	$(RUN311) bench/profile_sites.py --out $(BENCH_OUT) $(PROFILE_ARGS)
