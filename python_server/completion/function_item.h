// A function item's detail and documentation from one list of signatures. jedi builds the
// signatures twice for such an item (get_signatures() for the detail, and again inside
// docstring()); here they are built once and each text made once, to the same bytes.
#pragma once

#include "pyobj/errors.h"

namespace completion {

// The items made while it lives (one request's, on this thread) may take their function parts
// from one list - when the bridge's formatter and jedi's classes are their own, so that no
// wrapper of theirs misses a call it would see. Anywhere else the items make the plain calls, and
// so do all items while LSP_BRIDGE_PLAIN_SIGNATURES is set (for tests that compare the two).
class OneSignatureList {
public:
    explicit OneSignatureList(py::handle self);
    ~OneSignatureList();
    OneSignatureList(const OneSignatureList&) = delete;
    OneSignatureList& operator=(const OneSignatureList&) = delete;

    // The detail (null when there is no signature) and the documentation (empty or not) of a
    // completion of type "function" as get_signatures(), self._format_signature and docstring()
    // would give them; false, with nothing set, where the plain calls must make them: outside
    // such a scope, where jedi takes another path, or on any exception (the plain calls then
    // raise and log as they always do).
    static bool parts(py::handle completion, py::object& detail, py::object& documentation);

private:
    struct Types;
    Types* types_ = nullptr;  // null: the plain calls
    OneSignatureList* outer_;
};

}  // namespace completion
