// The method calls of the hover and signature-help bodies.
#pragma once

#include "pyobj/pyobj.h"
#include "workspace/request.h"

namespace hover {

using pyobj::call_method;
using workspace::call_at_position;

}  // namespace hover
