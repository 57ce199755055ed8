// Module globals and attributes read at call time, as Python code reads them: a body sees the
// module's current names, so a patched global or attribute takes effect on the next call.
#pragma once

#include "pyobj/names.h"

namespace pyobj {

// The globals of the method running on this thread: set by the boundary for each call, so a
// body reads its module's names as a Python function reads its __globals__.
class GlobalsScope {
public:
    explicit GlobalsScope(PyObject* globals);
    ~GlobalsScope();
    GlobalsScope(const GlobalsScope&) = delete;
    GlobalsScope& operator=(const GlobalsScope&) = delete;

private:
    PyObject* previous_;
};
PyObject* current_globals();  // borrowed

// Module global, else builtin, else NameError "name 'x' is not defined" - as LOAD_GLOBAL does.
py::object global(Name& name);

// The module `name` (dotted), from sys.modules, else imported: `import name` at call time.
py::object import(Name& name);

// getattr(obj, name); for a plain module object straight from its dict (what module getattr
// finds first anyway), which keeps hot look-ups such as os.path.sep cheap.
py::object attr(py::handle obj, Name& name);

// Python 3 hasattr(): only AttributeError means absent; every other failure propagates.
// On success `value` holds the attribute.
bool get_attr_if_present(py::handle obj, Name& name, py::object& value);

}  // namespace pyobj
