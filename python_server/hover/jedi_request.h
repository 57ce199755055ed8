// The frame of the hover and signature-help requests: the request log outside the protected
// region, then, under the jedi lock, the shared preamble and the request's own jedi work.
#pragma once

#include "pyobj/log.h"
#include "workspace/jedi_lock.h"
#include "workspace/request.h"

namespace hover {

// `body(request, script)` runs with the lock held from before the script is built to its
// return, so every call on a jedi object it makes is covered; `failure(error_text)` answers a
// failed request.
template <class Body, class Failure>
py::object jedi_request(const workspace::Request& r, pyobj::Name& request_format, pyobj::Name& error_format, Body&& body,
                        Failure&& failure) {
    pyobj::debug(request_format, r.line, r.column, r.path);
    return workspace::answer(
        error_format,
        [&]() -> py::object {
            workspace::RequestLock lock;
            py::object script = workspace::prepare_script(r);
            return workspace::stoppable([&] { return body(r, script); });
        },
        std::forward<Failure>(failure));
}

}  // namespace hover
