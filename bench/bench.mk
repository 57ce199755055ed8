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
