// The __doc__ of the hover and signature methods after their signature line (see
// workspace/docstrings.h).
#pragma once

#include "workspace/docstrings.h"

namespace hover::doc {

inline constexpr const char* set_hover_mode =
    "Set the hover mode for displaying type information.\n\n"
    "Args:\n"
    "    mode: Either \"compact\" or \"detailed\"";

inline constexpr const char* format_signature =
    "Format a Jedi signature object into a clean, human-readable string.\n\n"
    "Args:\n"
    "    signature: A Jedi signature object.\n"
    "    \n"
    "Returns:\n"
    "    A clean signature string like '(arg1: str, arg2: int) -> None'.";

inline constexpr const char* format_compact_hover =
    "Format hover information in compact mode: (type) name: signature\n\n"
    "Args:\n"
    "    definition: A Jedi name object from Script.infer().\n"
    "    \n"
    "Returns:\n"
    "    A one-line markdown code block, or None if formatting fails.";

inline constexpr const char* get_type_description =
    "Get a type description for a definition, with fallback.\n\n"
    "Args:\n"
    "    definition: A Jedi name object.\n"
    "    fallback_type: The type to use if description is not available\n"
    "    \n"
    "Returns:\n"
    "    The definition's description, or fallback_type.";

inline constexpr const char* get_signature_help = WORKSPACE_REQUEST_DOC(
    "Get signature help for function calls at the given position.",
    "        - signatures: List of signature information in Monaco format\n"
    "        - activeSignature: Index of the active signature\n"
    "        - activeParameter: Index of the active parameter\n"
    "        - error: Optional error message if the request failed");

inline constexpr const char* get_hover = WORKSPACE_REQUEST_DOC(
    "Get hover information (type and docstring) for the symbol at the given position.",
    "        - contents: Markdown content ({\"kind\": \"markdown\", \"value\": ...}) or None\n"
    "        - error: Optional error message if the request failed");

}  // namespace hover::doc
