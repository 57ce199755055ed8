// The completion methods of LSPBridge, each declared with its docstring after the signature line.
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

py::object get_word_prefix(const CodePositionArgs& a);  // word_prefix.cpp
inline constexpr const char* get_word_prefix_doc =
    "Extract the word being typed before the cursor position.\n\n"
    "Args:\n"
    "    code: The source code text.\n"
    "    line: 1-based line number.\n"
    "    column: 0-based column number.\n"
    "    \n"
    "Returns:\n"
    "    The identifier characters that end at the cursor, or an empty string.";

py::object get_completions(const workspace::Request& r);  // completion.cpp
inline constexpr const char* get_completions_doc = WORKSPACE_REQUEST_DOC(
    "Get code completions for the given position.",
    "        - completions: List of completion items in Monaco format\n"
    "        - error: Optional error message if completion failed");

}  // namespace completion
