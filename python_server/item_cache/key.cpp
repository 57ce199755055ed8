#include "item_cache/key.h"

#include "pyobj/globals.h"
#include "pyobj/names.h"

namespace item_cache::key {

std::string record_key(const std::string& context, const std::string& module) { return context + '\n' + module; }

py::object entry_key(char kind, py::handle line, py::handle column, py::handle text) {
    return pyobj::steal(PyUnicode_FromFormat(kEntryKey, kind, line.ptr(), column.ptr(), text.ptr()));
}

py::dict header(const std::string& context, py::handle module) {
    py::dict fields;
    fields["format"] = py::int_(kFormat);
    fields["python"] = pyobj::attr(pyobj::import(PYOBJ_NAME("sys")), PYOBJ_NAME("version"));
    fields["jedi"] = pyobj::attr(pyobj::import(PYOBJ_NAME("jedi")), PYOBJ_NAME("__version__"));
    fields["module"] = module;
    fields["context"] = py::str(context);
    return fields;
}

}  // namespace item_cache::key
