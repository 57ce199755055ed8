// The hover and signature methods of LSPBridge, and the hover mode they follow; each body is
// declared with its docstring after the signature line.
#pragma once

#include "boundary/args.h"
#include "workspace/request.h"

namespace hover {

#define HOVER_MODE_PARAMS(P) P(self, Untyped, required, nullptr) P(mode, Str, required, nullptr)
BOUNDARY_ARGS(ModeArgs, HOVER_MODE_PARAMS);
#undef HOVER_MODE_PARAMS

py::object set_hover_mode(const ModeArgs& a);  // hover_mode.cpp
inline constexpr const char* set_hover_mode_doc =
    "Set the hover mode for displaying type information.\n\n"
    "Args:\n"
    "    mode: Either \"compact\" or \"detailed\"";

#define HOVER_SIGNATURE_PARAMS(P) P(self, Untyped, required, nullptr) P(signature, Untyped, required, nullptr)
BOUNDARY_ARGS(SignatureArgs, HOVER_SIGNATURE_PARAMS);
#undef HOVER_SIGNATURE_PARAMS

py::object format_signature(const SignatureArgs& a);  // signature_format.cpp
inline constexpr const char* format_signature_doc =
    "Format a Jedi signature object into a clean, human-readable string.\n\n"
    "Args:\n"
    "    signature: A Jedi signature object.\n"
    "    \n"
    "Returns:\n"
    "    A clean signature string like '(arg1: str, arg2: int) -> None'.";

#define HOVER_DEFINITION_PARAMS(P) P(self, Untyped, required, nullptr) P(definition, Untyped, required, nullptr)
BOUNDARY_ARGS(DefinitionArgs, HOVER_DEFINITION_PARAMS);
#undef HOVER_DEFINITION_PARAMS

py::object format_compact_hover(const DefinitionArgs& a);  // hover_format.cpp
inline constexpr const char* format_compact_hover_doc =
    "Format hover information in compact mode: (type) name: signature\n\n"
    "Args:\n"
    "    definition: A Jedi name object from Script.infer().\n"
    "    \n"
    "Returns:\n"
    "    A one-line markdown code block, or None if formatting fails.";

#define HOVER_TYPE_DESCRIPTION_PARAMS(P)     \
    P(self, Untyped, required, nullptr)      \
    P(definition, Untyped, required, nullptr) \
    P(fallback_type, Str, required, nullptr)
BOUNDARY_ARGS(TypeDescriptionArgs, HOVER_TYPE_DESCRIPTION_PARAMS);
#undef HOVER_TYPE_DESCRIPTION_PARAMS

py::object get_type_description(const TypeDescriptionArgs& a);  // hover_format.cpp
inline constexpr const char* get_type_description_doc =
    "Get a type description for a definition, with fallback.\n\n"
    "Args:\n"
    "    definition: A Jedi name object.\n"
    "    fallback_type: The type to use if description is not available\n"
    "    \n"
    "Returns:\n"
    "    The definition's description, or fallback_type.";

py::object get_hover(const workspace::Request& r);           // hover.cpp
py::object get_signature_help(const workspace::Request& r);  // signature_help.cpp

inline constexpr const char* get_hover_doc = WORKSPACE_REQUEST_DOC(
    "Get hover information (type and docstring) for the symbol at the given position.",
    "        - contents: Markdown content ({\"kind\": \"markdown\", \"value\": ...}) or None\n"
    "        - error: Optional error message if the request failed");

inline constexpr const char* get_signature_help_doc = WORKSPACE_REQUEST_DOC(
    "Get signature help for function calls at the given position.",
    "        - signatures: List of signature information in Monaco format\n"
    "        - activeSignature: Index of the active signature\n"
    "        - activeParameter: Index of the active parameter\n"
    "        - error: Optional error message if the request failed");

}  // namespace hover
