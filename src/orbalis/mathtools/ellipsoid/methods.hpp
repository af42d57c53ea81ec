// The Python-level methods of Ellipsoid (methods.cpp), attached to the type when the
// module is imported.
#pragma once

#include "method.hpp"

namespace orbalis::ellipsoid {

// In the type's method order, terminated by an entry with a NULL name.
extern const py::AnnotatedMethodDef kMethodTable[];

}  // namespace orbalis::ellipsoid
