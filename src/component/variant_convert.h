#pragma once
// VARIANT at the boundary, Variant inside.

#include <windows.h>
#include <oleauto.h>

#include "quenvar/variant.h"

namespace quenvar::com {

// The variant a chain of VT_BYREF|VT_VARIANT leads to; nullptr for a null reference or a
// chain too long to be anything but a cycle.
const VARIANT* referencedVariant(const VARIANT* v);
// VariantChangeTypeEx for a client's value, reading an object's default value itself (a bounded
// number of times) and refusing a DECIMAL that is no number, with DISP_E_TYPEMISMATCH.
HRESULT changeType(VARIANT* out, const VARIANT* in, VARTYPE vt);
// Copies; references are followed, objects wrapped for use by name.
Variant fromVariant(const VARIANT& v);
// Fills `out` (initialised by the caller); objects must come from the COM side.
void toVariant(const Variant& value, VARIANT* out);

}  // namespace quenvar::com
