#include "dispatch_invoke.h"

#include <cwchar>
#include <memory>

#include "variant_convert.h"

namespace quenvar::com {

namespace {

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

DispatchTable::Param paramOf(ITypeInfo* ti, const ELEMDESC& e) {
  DispatchTable::Param p;
  p.optional = e.paramdesc.wParamFlags & PARAMFLAG_FOPT;
  const TYPEDESC& td = e.tdesc;
  if (td.vt != VT_PTR) {
    VARTYPE vt = resolve(ti, td);
    p.vt = vt == VT_UNKNOWN ? VARTYPE(VT_DISPATCH) : vt;
    return p;
  }
  const TYPEDESC& inner = *td.lptdesc;
  // T** of an interface is an object passed by reference; T* of one is the object itself.
  if (inner.vt == VT_PTR) {
    p.vt = VT_DISPATCH;
    p.byRef = true;
    return p;
  }
  const VARTYPE vt = resolve(ti, inner);
  if (vt == VT_UNKNOWN) {
    p.vt = VT_DISPATCH;
    return p;
  }
  p.vt = vt;
  p.byRef = true;
  return p;
}

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

// One argument prepared for the call: its value and the slot the vtable receives.
struct Argument {
  VARIANT value;
  VARIANT slot;  // the value itself, or a reference to it
  Argument() {
    VariantInit(&value);
    VariantInit(&slot);
  }
  ~Argument() { VariantClear(&value); }
  Argument(const Argument&) = delete;
  Argument& operator=(const Argument&) = delete;
};

bool isMissing(const VARIANT* v) {
  v = referencedVariant(v);
  return v && v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND;
}

void refer(VARIANT& slot, VARIANT& value, VARTYPE vt) {
  slot.vt = VT_BYREF | vt;
  if (vt == VT_VARIANT) slot.pvarVal = &value;
  else slot.byref = &value.llVal;
}

HRESULT prepare(Argument& arg, const VARIANT* source, const DispatchTable::Param& type) {
  const bool missing = !source || isMissing(source);
  if (missing) {
    if (type.vt == VT_VARIANT) {
      arg.value.vt = VT_ERROR;
      arg.value.scode = DISP_E_PARAMNOTFOUND;
    } else {
      // An omitted typed argument arrives as its type's zero.
      arg.value.vt = type.vt;
      arg.value.llVal = 0;
    }
  } else {
    const VARIANT* v = referencedVariant(source);
    HRESULT hr;
    if (!v || ((v->vt & VT_BYREF) && !v->byref)) {
      hr = DISP_E_TYPEMISMATCH;
    } else if (type.vt == VT_VARIANT) {
      // The caller's own variant, not a copy: copying would copy a whole array, and a member
      // only reads what it is given.
      if (type.byRef) {
        arg.slot.vt = VT_BYREF | VT_VARIANT;
        arg.slot.pvarVal = const_cast<VARIANT*>(v);
      } else {
        arg.slot = *v;
      }
      return S_OK;
    } else if (type.vt == VT_DISPATCH && (v->vt == VT_EMPTY || v->vt == VT_NULL)) {
      arg.value.vt = VT_DISPATCH;
      arg.value.pdispVal = nullptr;
      hr = S_OK;
    } else {
      hr = changeType(&arg.value, v, type.vt);
    }
    if (FAILED(hr)) return hr;
  }
  if (type.byRef) refer(arg.slot, arg.value, type.vt);
  else arg.slot = arg.value;  // a shallow view; the value keeps ownership
  return S_OK;
}

}  // namespace

bool DispatchTable::NoCase::operator()(const std::wstring& a, const std::wstring& b) const {
  return _wcsicmp(a.c_str(), b.c_str()) < 0;
}

DispatchTable::DispatchTable(ITypeInfo* ti) {
  TYPEATTR* attr = nullptr;
  if (FAILED(ti->GetTypeAttr(&attr))) return;
  const WORD count = attr->cFuncs;
  ti->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* f = nullptr;
    if (FAILED(ti->GetFuncDesc(i, &f))) continue;
    Entry e;
    e.id = f->memid;
    e.kind = f->invkind;
    e.vtableOffset = f->oVft;
    for (SHORT p = 0; p < f->cParams; ++p) {
      const ELEMDESC& d = f->lprgelemdescParam[p];
      if (d.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) {
        e.hasResult = true;
        e.result = paramOf(ti, d);
      } else {
        e.params.push_back(paramOf(ti, d));
      }
    }
    // The member's name, then its arguments' (the result's last, when the library names it).
    BSTR names[32] = {};
    UINT got = 0;
    if (SUCCEEDED(ti->GetNames(f->memid, names, 32, &got)) && got >= 1) {
      names_.emplace(names[0], f->memid);
      for (UINT n = 1; n < got && n <= e.params.size(); ++n) e.paramNames.emplace_back(names[n] ? names[n] : L"");
      for (UINT n = 0; n < got; ++n) SysFreeString(names[n]);
    }
    ti->ReleaseFuncDesc(f);
    entries_.push_back(std::move(e));
  }
}

HRESULT DispatchTable::idsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const {
  if (!names || !ids) return E_POINTER;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (count == 0) return S_OK;
  auto it = names[0] ? names_.find(names[0]) : names_.end();
  if (it == names_.end()) return DISP_E_UNKNOWNNAME;
  ids[0] = it->second;
  // The rest name the member's arguments.
  for (UINT i = 1; i < count; ++i) {
    ids[i] = names[i] ? argumentId(it->second, names[i]) : DISPID_UNKNOWN;
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

DISPID DispatchTable::argumentId(DISPID id, const wchar_t* name) const {
  for (const Entry& e : entries_) {
    if (e.id != id) continue;
    for (size_t n = 0; n < e.paramNames.size(); ++n)
      if (_wcsicmp(e.paramNames[n].c_str(), name) == 0) return static_cast<DISPID>(n);
  }
  return DISPID_UNKNOWN;
}

const DispatchTable::Entry* DispatchTable::find(DISPID id, WORD flags) const {
  for (const Entry& e : entries_)
    if (e.id == id && matches(e.kind, flags)) return &e;
  return nullptr;
}

HRESULT DispatchTable::invoke(void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* exception, UINT* argError) const {
  if (!params) return E_INVALIDARG;
  const Entry* entry = find(id, flags);
  if (!entry) return DISP_E_MEMBERNOTFOUND;

  // The caller's counts and pointers are checked before anything is read through them.
  if (params->cNamedArgs > params->cArgs || (params->cArgs && !params->rgvarg) ||
      (params->cNamedArgs && !params->rgdispidNamedArgs))
    return E_INVALIDARG;
  // Named arguments come first, in any order; the positional ones follow, last first. A property
  // put's value is the argument named DISPID_PROPERTYPUT.
  const UINT named = params->cNamedArgs;
  const size_t formal = entry->params.size();
  const size_t given = params->cArgs;
  if (given > formal) return DISP_E_BADPARAMCOUNT;
  const size_t positional = given - named;
  const bool put = entry->kind == INVOKE_PROPERTYPUT || entry->kind == INVOKE_PROPERTYPUTREF;
  // The rgvarg index that fills each formal argument; `given` where none does.
  size_t from[16];
  if (formal > 16) return DISP_E_BADPARAMCOUNT;
  for (size_t i = 0; i < formal; ++i) from[i] = i < positional ? given - 1 - i : given;
  for (UINT k = 0; k < named; ++k) {
    const DISPID argId = params->rgdispidNamedArgs[k];
    size_t index = formal;
    if (argId == DISPID_PROPERTYPUT && put && formal > 0) index = formal - 1;
    else if (argId >= 0 && static_cast<size_t>(argId) < formal && !(put && static_cast<size_t>(argId) == formal - 1))
      index = static_cast<size_t>(argId);
    // Unknown, or an argument given twice.
    if (index == formal || from[index] != given) {
      if (argError) *argError = k;
      return DISP_E_PARAMNOTFOUND;
    }
    from[index] = k;
  }

  const size_t total = formal + (entry->hasResult ? 1 : 0);
  std::unique_ptr<Argument[]> args(new Argument[total]);
  VARTYPE types[16];
  VARIANTARG* slots[16];
  if (total > 16) return DISP_E_BADPARAMCOUNT;
  for (size_t i = 0; i < formal; ++i) {
    const VARIANT* source = from[i] < given ? &params->rgvarg[from[i]] : nullptr;
    if ((!source || isMissing(source)) && !entry->params[i].optional) return DISP_E_PARAMNOTFOUND;
    if (FAILED(prepare(args[i], source, entry->params[i]))) {
      if (argError) *argError = static_cast<UINT>(from[i]);
      return DISP_E_TYPEMISMATCH;
    }
    types[i] = args[i].slot.vt;
    slots[i] = &args[i].slot;
  }
  if (entry->hasResult) {
    Argument& r = args[formal];
    if (entry->result.vt != VT_VARIANT) {
      r.value.vt = entry->result.vt;
      r.value.llVal = 0;
    }
    refer(r.slot, r.value, entry->result.vt);
    types[formal] = r.slot.vt;
    slots[formal] = &r.slot;
  }

  VARIANT returned;
  VariantInit(&returned);
  // VT_ERROR: the 32-bit status itself (some implementations refuse VT_HRESULT as a return type).
  HRESULT hr = DispCallFunc(self, static_cast<ULONG_PTR>(entry->vtableOffset), CC_STDCALL, VT_ERROR,
                            static_cast<UINT>(total), types, slots, &returned);
  if (FAILED(hr)) return hr;
  const HRESULT status = returned.scode;
  if (FAILED(status)) {
    if (!exception) return status;
    *exception = EXCEPINFO{};
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
      info->GetSource(&exception->bstrSource);
      info->GetDescription(&exception->bstrDescription);
      info->GetHelpFile(&exception->bstrHelpFile);
      info->GetHelpContext(&exception->dwHelpContext);
      info->Release();
    }
    exception->scode = status;
    return DISP_E_EXCEPTION;
  }
  if (entry->hasResult && result) {
    *result = args[formal].value;  // ownership moves to the caller
    VariantInit(&args[formal].value);
  }
  return S_OK;
}

}  // namespace quenvar::com
