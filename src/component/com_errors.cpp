#include "com_errors.h"

#include <oleauto.h>

#include "bstr.h"

namespace quenvar::com {

HRESULT toHresult(int32_t number) {
  if (number > 0 && number < 65536) return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number);
  if (number >= 0) return E_FAIL;
  return static_cast<HRESULT>(number);
}

int32_t toErrorNumber(HRESULT hr) {
  if (HRESULT_FACILITY(hr) == FACILITY_CONTROL && (hr & 0x80000000)) return HRESULT_CODE(hr);
  return static_cast<int32_t>(hr);
}

int32_t exceptionNumber(const EXCEPINFO& info) {
  if (info.wCode) return info.wCode;
  return toErrorNumber(info.scode ? info.scode : DISP_E_EXCEPTION);
}

HRESULT reportFailure(const AutomationError& error, REFIID iid) {
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    Bstr source(error.source()), description(error.description());
    create->SetGUID(iid);
    create->SetSource(source.get());
    create->SetDescription(description.get());
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return toHresult(error.number());
}

}  // namespace quenvar::com
