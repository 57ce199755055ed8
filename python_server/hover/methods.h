// The hover and signature methods of LSPBridge, and the hover mode they follow.
#pragma once

#include "boundary/args.h"
#include "workspace/request.h"

namespace hover {

#define HOVER_MODE_PARAMS(P) P(self, Untyped, required, nullptr) P(mode, Str, required, nullptr)
BOUNDARY_ARGS(ModeArgs, HOVER_MODE_PARAMS);
#undef HOVER_MODE_PARAMS

#define HOVER_SIGNATURE_PARAMS(P) P(self, Untyped, required, nullptr) P(signature, Untyped, required, nullptr)
BOUNDARY_ARGS(SignatureArgs, HOVER_SIGNATURE_PARAMS);
#undef HOVER_SIGNATURE_PARAMS

#define HOVER_DEFINITION_PARAMS(P) P(self, Untyped, required, nullptr) P(definition, Untyped, required, nullptr)
BOUNDARY_ARGS(DefinitionArgs, HOVER_DEFINITION_PARAMS);
#undef HOVER_DEFINITION_PARAMS

#define HOVER_TYPE_DESCRIPTION_PARAMS(P)     \
    P(self, Untyped, required, nullptr)      \
    P(definition, Untyped, required, nullptr) \
    P(fallback_type, Str, required, nullptr)
BOUNDARY_ARGS(TypeDescriptionArgs, HOVER_TYPE_DESCRIPTION_PARAMS);
#undef HOVER_TYPE_DESCRIPTION_PARAMS

py::object set_hover_mode(const ModeArgs& a);                    // hover_mode.cpp
py::object format_signature(const SignatureArgs& a);             // signature_format.cpp
py::object format_compact_hover(const DefinitionArgs& a);        // hover_format.cpp
py::object get_type_description(const TypeDescriptionArgs& a);   // hover_format.cpp
py::object get_hover(const workspace::Request& r);               // hover.cpp
py::object get_signature_help(const workspace::Request& r);      // signature_help.cpp

}  // namespace hover
