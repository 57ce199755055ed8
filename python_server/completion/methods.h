// The completion methods of LSPBridge.
#pragma once

#include "boundary/args.h"
#include "workspace/request.h"

namespace completion {

#define COMPLETION_CODE_POSITION_PARAMS(P) \
    P(self, Untyped, required, nullptr)    \
    P(code, Str, required, nullptr)        \
    P(line, Int, required, nullptr)        \
    P(column, Int, required, nullptr)
BOUNDARY_ARGS(CodePositionArgs, COMPLETION_CODE_POSITION_PARAMS);
#undef COMPLETION_CODE_POSITION_PARAMS

py::object get_word_prefix(const CodePositionArgs& a);     // word_prefix.cpp
py::object get_completions(const workspace::Request& r);  // completion.cpp

}  // namespace completion
