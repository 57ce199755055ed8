# Longer reliability runs than `make test`, included by the top-level Makefile.
#   make fuzz    the fuzz tests with FUZZ_SCALE times their examples (fresh random seeds, the
#                whole standard library as corpus), under 3.9 and then 3.11; hypothesis prints
#                how many examples ran. FUZZ_SCALE=20 takes about 25 minutes per interpreter.
#   make soak    tools/soak.py under 3.9: SOAK_REQUESTS mixed requests on real jedi (memory,
#                descriptors, threads, sync directory), then SOAK_CALLS calls of every method
#                on fake jedi (reference counts); prints the figures, fails on a broken limit.
#                About 1.5 minutes.
#   make test-changes  tests/test_item_cache_changes.py with CHANGE_STEPS steps of library
#                changes and requests in its random sequence (a fresh seed, printed, unless
#                CHANGE_SEED is given), under 3.9 and then 3.11. CHANGE_STEPS=200 takes about
#                3 minutes per interpreter.
#   make test-budget  tests/test_request_budget.py with BUDGET_STEPS requests stopped at random
#                moments over inputs BUDGET_SCALE times the short run's size, and BUDGET_STEPS/4
#                steps of whole processes (bursts of requests with budgets of 0.3-30 ms, helper
#                restarts, exits mid-request; one thread, then two) (a fresh seed, printed, unless
#                BUDGET_SEED is given), under 3.9 and then 3.11. The defaults take about 20
#                minutes per interpreter.
#   make test-exit  tests/test_exit.py with EXIT_ROUNDS interpreter exits while a request of each
#                kind (or the warm-up) runs, each followed by a check of the parser cache and,
#                every 3 rounds, of later answers in a new process (a fresh seed, printed, unless
#                EXIT_SEED is given), under 3.9 and then 3.11. The defaults take about 10 minutes
#                per interpreter.
#   make test-kills  tools/kill_rounds.py: KILL_ROUNDS processes killed with SIGKILL at random
#                moments while they write parso's pickles and item store entries, each followed by
#                a new process's answers, then KILL_CROWD processes on one cache folder for
#                KILL_SECONDS seconds, most of them killed and started again; every answer must
#                equal a fresh cache folder's, none an error, and no bad file may be left (a fresh
#                seed, printed, unless KILL_SEED is given), under 3.9 and then 3.11. The defaults
#                take about 15 minutes per interpreter on two idle cores.
#   make test-wide-changes  tools/wide_changes.py under 3.9 (test-wide-changes311: under 3.11):
#                about forty standard-library modules copied under new names into a library
#                folder, completion at sites reaching them (bare and typed, in both orders),
#                edits of the files they reach through decorators, bases and re-exports,
#                restarts reading the store; every cached answer against an uncached one.
#                WIDE_SEED (default 1, or "random"), WIDE_STEPS rounds (default 40), no round
#                started after WIDE_MINUTES (default 8: about 10 minutes in all). The report
#                (faults with their steps, for --replay/--minimize) goes to build/wide_changes/.

FUZZ_SCALE ?= 20
FUZZ_TESTS := tests/test_fuzz_arguments.py tests/test_fuzz_code.py tests/test_fuzz_jedi_answers.py \
	tests/test_file_safety.py
SOAK_REQUESTS ?= 5000
SOAK_CALLS ?= 10000
CHANGE_STEPS ?= 200
CHANGE_SEED ?= random
# No per-test time limit: a long run is the point here.
FUZZ_RUN = LSP_BRIDGE_FUZZ_SCALE=$(FUZZ_SCALE) $(PYTEST_ENV)
FUZZ_ARGS = $(FUZZ_TESTS) --timeout=0 --hypothesis-show-statistics $(PYTEST_ARGS)

BUDGET_STEPS ?= 200
BUDGET_SCALE ?= 3
BUDGET_SEED ?= random
BUDGET_RUN = LSP_BRIDGE_BUDGET_STEPS=$(BUDGET_STEPS) LSP_BRIDGE_BUDGET_SCALE=$(BUDGET_SCALE) \
	LSP_BRIDGE_BUDGET_SEED=$(BUDGET_SEED) $(PYTEST_ENV)
BUDGET_ARGS = tests/test_request_budget.py --timeout=0 -s $(PYTEST_ARGS)

EXIT_ROUNDS ?= 150
EXIT_SEED ?=
EXIT_RUN = LSP_BRIDGE_EXIT_ROUNDS=$(EXIT_ROUNDS) LSP_BRIDGE_EXIT_SEED=$(EXIT_SEED) $(PYTEST_ENV)
EXIT_ARGS = tests/test_exit.py --timeout=0 -s $(PYTEST_ARGS)

KILL_ROUNDS ?= 60
KILL_CROWD ?= 6
KILL_SECONDS ?= 60
KILL_SEED ?=
KILL_ARGS = --kills $(KILL_ROUNDS) --crowd $(KILL_CROWD) --crowd-seconds $(KILL_SECONDS) $(if $(KILL_SEED),--seed $(KILL_SEED))

WIDE_SEED ?= 1
WIDE_STEPS ?= 40
WIDE_MINUTES ?= 8
WIDE_RUN = LSP_BRIDGE_WIDE_SEED=$(WIDE_SEED) LSP_BRIDGE_WIDE_STEPS=$(WIDE_STEPS) LSP_BRIDGE_WIDE_MINUTES=$(WIDE_MINUTES)
WIDE_OUT = $(BUILD)/wide_changes/report-$(1)-seed$(WIDE_SEED).json

CHANGE_RUN = LSP_BRIDGE_CHANGE_STEPS=$(CHANGE_STEPS) LSP_BRIDGE_CHANGE_SEED=$(CHANGE_SEED) $(PYTEST_ENV)
CHANGE_ARGS = tests/test_item_cache_changes.py --timeout=0 -s $(PYTEST_ARGS)

.PHONY: fuzz fuzz39 fuzz311 soak test-changes test-changes39 test-changes311 test-budget test-budget39 \
	test-budget311 test-exit test-exit39 test-exit311 test-kills test-kills39 test-kills311 \
	test-wide-changes test-wide-changes39 test-wide-changes311

fuzz: fuzz39 fuzz311

fuzz39: build39
	$(FUZZ_RUN) $(RUN39) -m pytest $(FUZZ_ARGS)

fuzz311: build311
	$(FUZZ_RUN) $(RUN311) -m pytest $(FUZZ_ARGS)

soak: build39
	$(RUN39) tools/soak.py --requests $(SOAK_REQUESTS) --refcount-calls $(SOAK_CALLS)

test-changes: test-changes39 test-changes311

test-changes39: build39
	$(CHANGE_RUN) $(RUN39) -m pytest $(CHANGE_ARGS)

test-changes311: build311
	$(CHANGE_RUN) $(RUN311) -m pytest $(CHANGE_ARGS)

test-budget: test-budget39 test-budget311

test-budget39: build39
	$(BUDGET_RUN) $(RUN39) -m pytest $(BUDGET_ARGS)

test-budget311: build311
	$(BUDGET_RUN) $(RUN311) -m pytest $(BUDGET_ARGS)

test-exit: test-exit39 test-exit311

test-exit39: build39
	$(EXIT_RUN) $(RUN39) -m pytest $(EXIT_ARGS)

test-exit311: build311
	$(EXIT_RUN) $(RUN311) -m pytest $(EXIT_ARGS)

test-kills: test-kills39 test-kills311

test-kills39: build39
	$(RUN39) tools/kill_rounds.py $(KILL_ARGS)

test-kills311: build311
	$(RUN311) tools/kill_rounds.py $(KILL_ARGS)

test-wide-changes: test-wide-changes39

test-wide-changes39: build39
	$(WIDE_RUN) $(RUN39) tools/wide_changes.py --out $(call WIDE_OUT,py39)

test-wide-changes311: build311
	$(WIDE_RUN) $(RUN311) tools/wide_changes.py --out $(call WIDE_OUT,py311)
