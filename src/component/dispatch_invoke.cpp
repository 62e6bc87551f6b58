#include "dispatch_invoke.h"

#include <vector>

namespace quenvar::com {

namespace {

struct FuncDesc {
  ITypeInfo* owner;
  FUNCDESC* desc = nullptr;
  ~FuncDesc() {
    if (desc) owner->ReleaseFuncDesc(desc);
  }
};

bool matches(INVOKEKIND kind, WORD flags) {
  switch (kind) {
    case INVOKE_FUNC: return flags & DISPATCH_METHOD;
    case INVOKE_PROPERTYGET: return flags & DISPATCH_PROPERTYGET;
    // A property put takes either form: clients write both `h.Cn = c` and `Set h.Cn = c`.
    case INVOKE_PROPERTYPUT:
    case INVOKE_PROPERTYPUTREF: return flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  }
  return false;
}

HRESULT findFunction(ITypeInfo* ti, DISPID id, WORD flags, FuncDesc& out) {
  TYPEATTR* attr = nullptr;
  HRESULT hr = ti->GetTypeAttr(&attr);
  if (FAILED(hr)) return hr;
  const WORD count = attr->cFuncs;
  ti->ReleaseTypeAttr(attr);
  bool idFound = false;
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* fd = nullptr;
    if (FAILED(ti->GetFuncDesc(i, &fd))) continue;
    if (fd->memid == id) {
      idFound = true;
      if (matches(fd->invkind, flags)) {
        out.owner = ti;
        out.desc = fd;
        return S_OK;
      }
    }
    ti->ReleaseFuncDesc(fd);
  }
  return idFound ? DISP_E_MEMBERNOTFOUND : DISP_E_MEMBERNOTFOUND;
}

// The automation type a parameter carries, and whether it is passed by reference.
struct ParamType {
  VARTYPE vt = VT_EMPTY;
  bool byRef = false;
};

// VT_USERDEFINED read through: enums are 32-bit integers, interfaces are objects.
VARTYPE resolve(ITypeInfo* ti, const TYPEDESC& td) {
  if (td.vt != VT_USERDEFINED) return td.vt;
  ITypeInfo* ref = nullptr;
  VARTYPE vt = VT_UNKNOWN;
  if (SUCCEEDED(ti->GetRefTypeInfo(td.hreftype, &ref))) {
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(ref->GetTypeAttr(&attr))) {
      if (attr->typekind == TKIND_ENUM) vt = VT_I4;
      else if (attr->typekind == TKIND_ALIAS) vt = resolve(ref, attr->tdescAlias);
      ref->ReleaseTypeAttr(attr);
    }
    ref->Release();
  }
  return vt;
}

ParamType paramType(ITypeInfo* ti, const TYPEDESC& td) {
  if (td.vt != VT_PTR) return {resolve(ti, td) == VT_UNKNOWN ? VARTYPE(VT_DISPATCH) : resolve(ti, td), false};
  const TYPEDESC& inner = *td.lptdesc;
  // T** of an interface is an object passed by reference; T* of one is the object itself.
  if (inner.vt == VT_PTR) return {VT_DISPATCH, true};
  const VARTYPE vt = resolve(ti, inner);
  if (vt == VT_UNKNOWN && inner.vt == VT_USERDEFINED) return {VT_DISPATCH, false};
  return {vt, true};
}

// One argument prepared for the call: its value and what the vtable expects.
struct Argument {
  VARIANT value;
  VARIANT slot;  // what DispCallFunc passes: the value itself, or a reference to it
  Argument() {
    VariantInit(&value);
    VariantInit(&slot);
  }
  ~Argument() { VariantClear(&value); }
  Argument(const Argument&) = delete;
  Argument& operator=(const Argument&) = delete;
};

bool isMissing(const VARIANT* v) {
  while (v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
  return v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND;
}

// Points `slot` at the storage of `value` for a by-reference parameter.
void refer(VARIANT& slot, VARIANT& value, VARTYPE vt) {
  slot.vt = VT_BYREF | vt;
  if (vt == VT_VARIANT) slot.pvarVal = &value;
  else slot.byref = &value.llVal;
}

HRESULT prepare(Argument& arg, const VARIANT* source, ParamType type, bool missing) {
  if (type.vt == VT_VARIANT) {
    if (missing) {
      arg.value.vt = VT_ERROR;
      arg.value.scode = DISP_E_PARAMNOTFOUND;
    } else {
      const VARIANT* v = source;
      while (v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
      HRESULT hr = VariantCopyInd(&arg.value, const_cast<VARIANT*>(v));
      if (FAILED(hr)) return hr;
    }
  } else if (missing) {
    // An omitted typed argument arrives as its type's zero.
    arg.value.vt = type.vt;
    arg.value.llVal = 0;
  } else {
    const VARIANT* v = source;
    while (v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
    HRESULT hr;
    if (type.vt == VT_DISPATCH && (v->vt == VT_EMPTY || v->vt == VT_NULL)) {
      arg.value.vt = VT_DISPATCH;
      arg.value.pdispVal = nullptr;
      hr = S_OK;
    } else {
      hr = VariantChangeTypeEx(&arg.value, const_cast<VARIANT*>(v), LOCALE_USER_DEFAULT, 0, type.vt);
    }
    if (FAILED(hr)) return hr;
  }
  if (type.byRef) refer(arg.slot, arg.value, type.vt);
  else arg.slot = arg.value;  // a shallow view; ownership stays with value
  return S_OK;
}

}  // namespace

HRESULT invokeByTypeInfo(ITypeInfo* ti, void* self, DISPID id, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  if (!params) return E_INVALIDARG;
  FuncDesc fd{ti};
  HRESULT hr = findFunction(ti, id, flags, fd);
  if (FAILED(hr)) return hr;
  const FUNCDESC& f = *fd.desc;

  // Positional arguments, last first; a property put's value comes as the named argument.
  const UINT named = params->cNamedArgs;
  if (named > 1 || (named == 1 && params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)) return DISP_E_NONAMEDARGS;

  int retvalIndex = -1;
  for (int i = 0; i < f.cParams; ++i)
    if (f.lprgelemdescParam[i].paramdesc.wParamFlags & PARAMFLAG_FRETVAL) retvalIndex = i;
  const int formal = retvalIndex >= 0 ? retvalIndex : f.cParams;
  const int given = static_cast<int>(params->cArgs);
  if (given > formal) return DISP_E_BADPARAMCOUNT;

  std::vector<Argument> args(static_cast<size_t>(f.cParams));
  std::vector<VARTYPE> types(args.size());
  std::vector<VARIANTARG*> slots(args.size());
  for (int i = 0; i < formal; ++i) {
    const ELEMDESC& e = f.lprgelemdescParam[i];
    const ParamType type = paramType(ti, e.tdesc);
    const VARIANT* source = nullptr;
    if (named == 1 && i == formal - 1) source = &params->rgvarg[0];
    else if (i < given - static_cast<int>(named)) source = &params->rgvarg[given - 1 - i];
    const bool missing = !source || isMissing(source);
    if (missing && !(e.paramdesc.wParamFlags & PARAMFLAG_FOPT)) return DISP_E_PARAMNOTFOUND;
    hr = prepare(args[i], source, type, missing);
    if (FAILED(hr)) {
      if (argError) *argError = static_cast<UINT>(given - 1 - i);
      return DISP_E_TYPEMISMATCH;
    }
    types[i] = args[i].slot.vt;
    slots[i] = &args[i].slot;
  }
  if (retvalIndex >= 0) {
    const ParamType type = paramType(ti, f.lprgelemdescParam[retvalIndex].tdesc);
    Argument& r = args[static_cast<size_t>(retvalIndex)];
    r.value.vt = type.vt;
    r.value.llVal = 0;
    refer(r.slot, r.value, type.vt);
    types[retvalIndex] = r.slot.vt;
    slots[retvalIndex] = &r.slot;
    if (type.vt == VT_VARIANT) VariantInit(&r.value);
  }

  VARIANT returned;
  VariantInit(&returned);
  // VT_ERROR: the 32-bit status itself (some implementations refuse VT_HRESULT as a return type).
  hr = DispCallFunc(self, f.oVft, CC_STDCALL, VT_ERROR, static_cast<UINT>(f.cParams), types.data(),
                    slots.data(), &returned);
  if (FAILED(hr)) return hr;
  const HRESULT callResult = returned.scode;
  if (FAILED(callResult)) {
    if (!exception) return callResult;
    *exception = EXCEPINFO{};
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
      info->GetSource(&exception->bstrSource);
      info->GetDescription(&exception->bstrDescription);
      info->GetHelpFile(&exception->bstrHelpFile);
      info->GetHelpContext(&exception->dwHelpContext);
      info->Release();
    }
    exception->scode = callResult;
    return DISP_E_EXCEPTION;
  }
  if (retvalIndex >= 0) {
    Argument& r = args[static_cast<size_t>(retvalIndex)];
    if (result) {
      *result = r.value;  // ownership moves to the caller
      VariantInit(&r.value);
    }
  }
  return S_OK;
}

}  // namespace quenvar::com
