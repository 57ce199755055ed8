// Fixed texts and tables of the module body: the module and class docstrings, the patterns,
// the completion-kind table.
#pragma once

#include <utility>

namespace lsp_bridge {

extern const char* const kModuleDoc;
extern const char* const kClassDoc;
extern const char* const kPyflakesMessagePattern;
extern const char* const kImportAliasPattern;
extern const std::pair<const char*, int> kJediToMonacoKind[9];

}  // namespace lsp_bridge
