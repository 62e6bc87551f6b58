#include "platform/win32/clock_win32.h"

#include "platform/win32/windows_api.h"

namespace quenvar {

LocalTime Win32Clock::localNow() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace quenvar
