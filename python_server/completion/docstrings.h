// The __doc__ of the completion methods after their signature line (see workspace/docstrings.h).
#pragma once

#include "workspace/docstrings.h"

namespace completion::doc {

inline constexpr const char* get_word_prefix =
    "Extract the word being typed before the cursor position.\n\n"
    "Args:\n"
    "    code: The source code text.\n"
    "    line: 1-based line number.\n"
    "    column: 0-based column number.\n"
    "    \n"
    "Returns:\n"
    "    The identifier characters that end at the cursor, or an empty string.";

inline constexpr const char* get_completions = WORKSPACE_REQUEST_DOC(
    "Get code completions for the given position.",
    "        - completions: List of completion items in Monaco format\n"
    "        - error: Optional error message if completion failed");

}  // namespace completion::doc
