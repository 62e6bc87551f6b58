#include "variant_convert.h"

#include "bstr.h"
#include "quenvar/automation_error.h"
#include "dispatch_object.h"

namespace quenvar::com {

namespace {

Variant fromSafeArray(SAFEARRAY* array, VARTYPE declared) {
  if (!array) raiseTypeMismatch();
  VariantArray out;
  VARTYPE vt = VT_EMPTY;
  out.elementType = SUCCEEDED(SafeArrayGetVartype(array, &vt)) ? vt : declared;
  const UINT dims = SafeArrayGetDim(array);
  out.shape.reserve(dims);
  for (UINT d = 1; d <= dims; ++d) {
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(array, d, &lower)) || FAILED(SafeArrayGetUBound(array, d, &upper)))
      raiseSubscript();
    // In 64 bits: the bounds are the client's and may be anything.
    const int64_t count = static_cast<int64_t>(upper) - lower + 1;
    out.shape.push_back({lower, static_cast<uint32_t>(count > 0 ? count : 0)});
  }
  if (!out.shape.empty()) out.lowerBound = out.shape.front().lowerBound;
  return Variant(std::move(out));
}

// More than 28 decimal places, or a sign other than + and -: the system's conversion of such a
// DECIMAL to text writes past its buffer.
bool wellFormed(const VARIANT& v) {
  const DECIMAL* d = v.vt == VT_DECIMAL ? &v.decVal : v.vt == (VT_BYREF | VT_DECIMAL) ? v.pdecVal : nullptr;
  return !d || (d->scale <= 28 && (d->sign == 0 || d->sign == DECIMAL_NEG));
}

IUnknown* objectIn(const VARIANT& v) {
  switch (v.vt) {
    case VT_DISPATCH:
    case VT_UNKNOWN: return v.punkVal;
    case VT_BYREF | VT_DISPATCH:
    case VT_BYREF | VT_UNKNOWN: return *v.ppunkVal;
    default: return nullptr;
  }
}

// Read as the system's conversion reads it, but what a failing object left behind is given back.
HRESULT defaultValue(const VARIANT& v, VARIANT* out) {
  IUnknown* object = objectIn(v);
  IDispatch* d = nullptr;
  if ((v.vt & VT_TYPEMASK) == VT_DISPATCH) {
    d = static_cast<IDispatch*>(object);
    d->AddRef();
  } else if (FAILED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d))) || !d) {
    return E_NOINTERFACE;
  }
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  const HRESULT hr = d->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, out, nullptr,
                               nullptr);
  d->Release();
  if (FAILED(hr)) VariantClear(out);
  return hr;
}

}  // namespace

// The system's conversion would read an object's default value again and again while it is an
// object: one whose default value is itself took the stack.
HRESULT changeType(VARIANT* out, const VARIANT* in, VARTYPE vt) {
  VARIANT held;  // the default value being followed
  VariantInit(&held);
  HRESULT hr = DISP_E_TYPEMISMATCH;
  const VARIANT* v = referencedVariant(in);
  for (int hops = 0; v && !((v->vt & VT_BYREF) && !v->byref) && wellFormed(*v); ++hops) {
    if (!objectIn(*v) || vt == VT_DISPATCH || vt == VT_UNKNOWN) {
      hr = VariantChangeTypeEx(out, const_cast<VARIANT*>(v), LOCALE_USER_DEFAULT, 0, vt);
      break;
    }
    VARIANT next, owned;
    VariantInit(&next);
    VariantInit(&owned);
    if (hops == 16 || FAILED(defaultValue(*v, &next))) break;
    // A reference may point into an object that only `held` keeps alive: its value is copied first.
    const VARIANT* value = referencedVariant(&next);
    if (value == &next && !(next.vt & VT_BYREF)) owned = next;
    else if (!value || ((value->vt & VT_BYREF) && !value->byref) ||
             FAILED(VariantCopyInd(&owned, const_cast<VARIANT*>(value))))
      break;
    VariantClear(&held);
    held = owned;
    v = &held;
  }
  VariantClear(&held);
  return FAILED(hr) ? DISP_E_TYPEMISMATCH : hr;
}

const VARIANT* referencedVariant(const VARIANT* v) {
  for (int hops = 0; v && v->vt == (VT_BYREF | VT_VARIANT); ++hops) {
    if (hops == 16) return nullptr;
    v = v->pvarVal;
  }
  return v;
}

Variant fromVariant(const VARIANT& in) {
  const VARIANT* v = referencedVariant(&in);
  if (!v || ((v->vt & VT_BYREF) && !v->byref)) raiseTypeMismatch();
  // Read in place: dereferencing an array by copy would copy all of it.
  if (v->vt & VT_ARRAY) {
    return fromSafeArray((v->vt & VT_BYREF) ? *v->pparray : v->parray, v->vt & VT_TYPEMASK);
  }
  VARIANT deref;
  VariantInit(&deref);
  if (v->vt & VT_BYREF) {
    if (FAILED(VariantCopyInd(&deref, const_cast<VARIANT*>(v)))) raiseTypeMismatch();
    v = &deref;
  }
  struct Clear {
    VARIANT* v;
    ~Clear() { VariantClear(v); }
  } clear{&deref};

  switch (v->vt) {
    case VT_EMPTY: return Variant();
    case VT_NULL: return Variant::null();
    case VT_BOOL: return Variant(v->boolVal != VARIANT_FALSE);
    case VT_I2: return Variant(static_cast<int16_t>(v->iVal));
    case VT_I4: return Variant(static_cast<int32_t>(v->lVal));
    case VT_R8: return Variant(v->dblVal);
    case VT_CY: return Variant(Currency{v->cyVal.int64});
    case VT_DATE: return Variant(Date{v->date});
    case VT_BSTR: return Variant(fromBstr(v->bstrVal));
    case VT_ERROR: return Variant(ErrorValue{static_cast<int32_t>(v->scode)});
    case VT_DISPATCH: return Variant(v->pdispVal ? wrapDispatch(v->pdispVal) : ObjectRef());
    case VT_UNKNOWN: {
      if (!v->punkVal) return Variant(ObjectRef());
      IDispatch* d = nullptr;
      // An answer of success with no interface is as good as a refusal.
      if (FAILED(v->punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d))) || !d) raiseTypeMismatch();
      ObjectRef o = wrapDispatch(d);
      d->Release();
      return Variant(o);
    }
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_INT: {
      VARIANT l;
      VariantInit(&l);
      if (FAILED(VariantChangeType(&l, const_cast<VARIANT*>(v), 0, VT_I4))) raiseTypeMismatch();
      return Variant(static_cast<int32_t>(l.lVal));
    }
    default: {
      // Wider or unusual numbers (UI4, I8, R4, DECIMAL…) read as a Double.
      VARIANT d;
      VariantInit(&d);
      if (FAILED(VariantChangeType(&d, const_cast<VARIANT*>(v), 0, VT_R8))) raiseTypeMismatch();
      return Variant(d.dblVal);
    }
  }
}

void toVariant(const Variant& value, VARIANT* out) {
  VariantInit(out);
  switch (value.type()) {
    case Variant::Type::Empty: return;
    case Variant::Type::Null: out->vt = VT_NULL; return;
    case Variant::Type::Boolean: out->vt = VT_BOOL; out->boolVal = *value.boolean() ? VARIANT_TRUE : VARIANT_FALSE; return;
    case Variant::Type::Integer: out->vt = VT_I2; out->iVal = *value.integer(); return;
    case Variant::Type::Long: out->vt = VT_I4; out->lVal = *value.longValue(); return;
    case Variant::Type::Double: out->vt = VT_R8; out->dblVal = *value.doubleValue(); return;
    case Variant::Type::Currency: out->vt = VT_CY; out->cyVal.int64 = value.currency()->scaled; return;
    case Variant::Type::Date: out->vt = VT_DATE; out->date = value.date()->serial; return;
    case Variant::Type::String: out->bstrVal = toBstr(*value.string()); out->vt = VT_BSTR; return;
    case Variant::Type::Error: out->vt = VT_ERROR; out->scode = value.error()->code; return;
    case Variant::Type::Object: {
      IDispatch* d = value.asObject() ? dispatchOf(*value.asObject()) : nullptr;
      if (value.asObject() && !d) raiseTypeMismatch();
      if (d) d->AddRef();
      out->vt = VT_DISPATCH;
      out->pdispVal = d;
      return;
    }
    case Variant::Type::Array: {
      const VariantArray& a = *value.array();
      SAFEARRAYBOUND bound{static_cast<ULONG>(a.items.size()), a.lowerBound};
      SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
      if (!array) throw AutomationError(err::kOutOfMemory, "Out of memory");
      for (size_t i = 0; i < a.items.size(); ++i) {
        VARIANT element;
        try {
          toVariant(a.items[i], &element);
        } catch (...) {
          SafeArrayDestroy(array);
          throw;
        }
        LONG index = a.lowerBound + static_cast<LONG>(i);
        SafeArrayPutElement(array, &index, &element);
        VariantClear(&element);
      }
      out->vt = VT_ARRAY | VT_VARIANT;
      out->parray = array;
      return;
    }
  }
}

}  // namespace quenvar::com
