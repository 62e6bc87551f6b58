#pragma once
// IDispatch for a dual interface, driven by its type information but with the arguments
// coerced here: the system's typeinfo invoke refuses a script variable passed to a
// by-reference string parameter, which script clients do all the time. The description is
// read once per interface into a table, so a call costs a lookup, not a walk of the type
// information.

#include <windows.h>
#include <oaidl.h>

#include <map>
#include <string>
#include <vector>

namespace quenvar::com {

class DispatchTable {
 public:
  // `vtableInfo` describes the vtable side (TKIND_INTERFACE) of the dual interface.
  explicit DispatchTable(ITypeInfo* vtableInfo);

  HRESULT idsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const;
  // `self` is the interface pointer whose vtable the description matches.
  HRESULT invoke(void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                 UINT* argError) const;

  struct Param {
    VARTYPE vt = VT_EMPTY;
    bool byRef = false;
    bool optional = false;
  };
  struct Entry {
    DISPID id = DISPID_UNKNOWN;
    INVOKEKIND kind = INVOKE_FUNC;
    SHORT vtableOffset = 0;
    std::vector<Param> params;  // without the result
    std::vector<std::wstring> paramNames;  // as the type library gives them; a named argument's id is its index
    bool hasResult = false;
    Param result;
  };

 private:
  struct NoCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
  };
  const Entry* find(DISPID id, WORD flags) const;
  // The index of the argument `name` of member `id`, or DISPID_UNKNOWN.
  DISPID argumentId(DISPID id, const wchar_t* name) const;

  std::vector<Entry> entries_;
  std::map<std::wstring, DISPID, NoCase> names_;
};

}  // namespace quenvar::com
