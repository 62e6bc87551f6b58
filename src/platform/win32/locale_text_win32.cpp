#include "platform/win32/locale_text_win32.h"

#include <charconv>

#include "quenvar/automation_error.h"
#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

#include <oleauto.h>

namespace quenvar {

namespace {

// Owns the string a conversion returns.
class Bstr {
 public:
  Bstr() = default;
  ~Bstr() { ::SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR* out() { return &value_; }
  std::string text() const { return win32::narrow(std::wstring_view(value_, ::SysStringLen(value_))); }

 private:
  BSTR value_ = nullptr;
};

[[noreturn]] void raiseConversionFailure(HRESULT result) {
  if (result == E_OUTOFMEMORY) throw AutomationError(err::kOutOfMemory, "Out of memory");
  if (result == DISP_E_TYPEMISMATCH) raiseTypeMismatch();
  // Out of the calendar's range or a number that has no text.
  raiseOverflow();
}

template <typename Conversion>
std::string converted(Conversion&& conversion) {
  Bstr text;
  if (const HRESULT result = conversion(text.out()); FAILED(result)) raiseConversionFailure(result);
  return text.text();
}

// The user's short date or long time form.
std::string localeForm(const SYSTEMTIME& time, bool date) {
  const auto format = [&](wchar_t* buffer, int size) {
    return date ? ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, buffer, size)
                : ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, buffer, size);
  };
  const int needed = format(nullptr, 0);
  if (needed <= 0) raiseOverflow();
  std::wstring text(static_cast<size_t>(needed), L'\0');
  const int length = format(text.data(), needed);
  if (length <= 0) raiseOverflow();
  text.resize(static_cast<size_t>(length - 1));
  return win32::narrow(text);
}

std::string thousandsSeparator() {
  wchar_t buffer[8] = {};
  const int length = ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, buffer, 8);
  // The count includes the terminating zero; a locale without a separator still groups with a comma.
  if (length <= 1) return ",";
  return win32::narrow(std::wstring_view(buffer, static_cast<size_t>(length - 1)));
}

}  // namespace

std::string Win32LocaleText::groupedInteger(int64_t value) const {
  if (value == 0) return {};
  const bool negative = value < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  const auto count = static_cast<size_t>(end - digits);
  const std::string separator = thousandsSeparator();
  std::string out = negative ? "-" : "";
  for (size_t i = 0; i < count; ++i) {
    if (i > 0 && (count - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return out;
}

std::string Win32LocaleText::numberText(double value) const {
  if (value == 0) value = 0;  // the runtime never shows a negative zero
  return converted([&](BSTR* out) { return ::VarBstrFromR8(value, LOCALE_USER_DEFAULT, 0, out); });
}

std::string Win32LocaleText::currencyText(Currency value) const {
  CY cy{};
  cy.int64 = value.scaled;
  return converted([&](BSTR* out) { return ::VarBstrFromCy(cy, LOCALE_USER_DEFAULT, 0, out); });
}

std::string Win32LocaleText::dateText(Date value) const {
  return converted([&](BSTR* out) { return ::VarBstrFromDate(value.serial, LOCALE_USER_DEFAULT, 0, out); });
}

std::string Win32LocaleText::dateTimeText(const LocalTime& time) const {
  if (time.year < 1 || time.year > 9999) raiseOverflow();
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(time.year);
  st.wMonth = static_cast<WORD>(time.month);
  st.wDay = static_cast<WORD>(time.day);
  st.wHour = static_cast<WORD>(time.hour);
  st.wMinute = static_cast<WORD>(time.minute);
  st.wSecond = static_cast<WORD>(time.second);
  // The two forms the general date joins, asked for directly: the variant conversion drops a zero
  // part even when asked for that part alone (VAR_TIMEVALUEONLY, or "ttttt" in VarFormat, give
  // nothing at midnight under Wine).
  return localeForm(st, true) + " " + localeForm(st, false);
}

}  // namespace quenvar
