#include "pyobj/names.h"

namespace pyobj {

PyObject* Name::get() {
    if (!obj_) {
        obj_ = check(PyUnicode_InternFromString(text_));
    }
    return obj_;
}

PyObject* KeywordNames::get() {
    if (!obj_) {
        py::tuple names(size());
        Py_ssize_t i = 0;
        for (const char* text : names_) {
            PyObject* name = check(PyUnicode_InternFromString(text));
            PyTuple_SET_ITEM(names.ptr(), i++, name);
        }
        obj_ = names.release().ptr();
    }
    return obj_;
}

}  // namespace pyobj
