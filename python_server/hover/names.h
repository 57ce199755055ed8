// Names the hover code uses on every request, made once per process: attributes and methods
// of jedi's objects and of the bridge, the definition types it tells apart, and the fixed texts
// of hover markdown.
#pragma once

#include "pyobj/names.h"

namespace hover::names {

inline pyobj::Name name("name");
inline pyobj::Name full_name("full_name");
inline pyobj::Name type("type");
inline pyobj::Name description("description");
inline pyobj::Name params("params");
inline pyobj::Name index("index");
inline pyobj::Name docstring("docstring");
inline pyobj::Name get_signatures("get_signatures");
inline pyobj::Name infer("infer");
inline pyobj::Name help("help");

inline pyobj::Name hover_mode("_hover_mode");
inline pyobj::Name format_signature("_format_signature");
inline pyobj::Name format_compact_hover("_format_compact_hover");
inline pyobj::Name get_type_description("_get_type_description");

inline pyobj::Name function("function");
inline pyobj::Name class_("class");
inline pyobj::Name module("module");
inline pyobj::Name compact("compact");

// Keys of the answers.
inline pyobj::Name contents("contents");
inline pyobj::Name error("error");
inline pyobj::Name kind("kind");
inline pyobj::Name value("value");
inline pyobj::Name markdown("markdown");
inline pyobj::Name signatures("signatures");
inline pyobj::Name active_signature("activeSignature");
inline pyobj::Name active_parameter("activeParameter");
inline pyobj::Name label("label");
inline pyobj::Name documentation("documentation");
inline pyobj::Name parameters("parameters");

inline pyobj::Name open_fence("```python\n");
inline pyobj::Name close_fence("\n```");
inline pyobj::Name part_separator("\n\n---\n\n");

}  // namespace hover::names
