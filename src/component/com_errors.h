#pragma once
// Failures cross the boundary as HRESULTs with the standard error information attached.

#include <windows.h>

#include "quenvar/automation_error.h"
#include "core/steps.h"

namespace quenvar::com {

// Runtime error numbers below 65,536 travel as 0x800A0000 + n so clients read n back;
// anything else (the automation-base numbers) is already an HRESULT.
HRESULT toHresult(int32_t number);
// The error number a client would read for an HRESULT.
int32_t toErrorNumber(HRESULT hr);

// The error number an object reported through its exception information. An object that
// raised without saying what (both codes zero) still failed: that reads as the raise itself.
int32_t exceptionNumber(const EXCEPINFO& info);

// Sets the thread's error information for `iid` and returns the HRESULT to give back.
HRESULT reportFailure(const AutomationError& error, REFIID iid);

// Runs a member body; any failure becomes the HRESULT and error information of `iid`.
template <class Body>
HRESULT guarded(REFIID iid, Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (...) {
    try {
      return reportFailure(currentFailure(), iid);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
}

}  // namespace quenvar::com
