// Warm-up: one completion on the host's own module so jedi's caches hold it before the editor
// asks. It takes the jedi lock but not the collector pause: it is no request, nobody waits for
// its answer, and it runs for a second or more while the host starts up, which a pause would
// leave without collections all that time. It has no time budget, but the interpreter's exit
// stops it as it stops a request (runtime/process_state.h).
#include "workspace/methods.h"
#include "pyobj/log.h"
#include "runtime/jedi_lock.h"
#include "runtime/parso_pickles.h"
#include "runtime/request_budget.h"

namespace workspace {

using pyobj::global;

py::object preload_corvane_module(const SelfArgs& a) {
    py::handle self = a.self;
    runtime::RequestBudget exit_stop(runtime::RequestBudget::untimed);
    pyobj::except(
        exit_stop.caught(),
        [&] {
            py::str warmup_code("import corvane\ncorvane.");
            Py_ssize_t found = 0;
            {
                runtime::JediLock lock;
                runtime::parso_pickles::guard();
                runtime::stoppable([&] {
                    py::object script = global(PYOBJ_NAME("jedi")).attr("Script")(
                        py::arg("code") = warmup_code, py::arg("path") = "<warmup>",
                        py::arg("project") = self.attr("_jedi_project"));
                    py::list completions(script.attr("complete")(py::arg("line") = 2, py::arg("column") = 8));
                    found = py::len(completions);
                });
            }
            pyobj::info(PYOBJ_NAME("[LSP] Preloaded corvane module cache (%d completions found)"), found);
        },
        [](py::error_already_set& e) {
            if (e.matches(runtime::watchdog::stop_type())) return;  // the interpreter is exiting
            pyobj::warning(PYOBJ_NAME("[LSP] Failed to preload corvane module: %s"), e.value());
        });
    return py::none();
}

py::object preload_corvane_module_async(const SelfArgs& a) {
    py::handle self = a.self;
    py::object thread = global(PYOBJ_NAME("threading")).attr("Thread")(
        py::arg("target") = self.attr("preload_corvane_module"), py::arg("name") = "LSP-corvane-preload",
        py::arg("daemon") = true);
    thread.attr("start")();
    pyobj::debug(PYOBJ_NAME("[LSP] Started async corvane module preloading"));
    return py::none();
}

}  // namespace workspace
