#pragma once
// The fonts and brushes one form's window uses, created on first use and freed with it.

#include <map>
#include <string>

#include "platform/form.h"
#include "platform/win32/windows_api.h"

namespace quenvar::win32 {

// A form colour as GDI draws it: system colours are looked up now.
COLORREF gdiColour(uint32_t colour);

// The LOGFONT height of a point size: negative, so it sizes the characters, not the cells.
LONG fontHeight(double points, int dpiY);

class GdiCache {
 public:
  explicit GdiCache(int dpiY) : dpiY_(dpiY) {}
  ~GdiCache();
  GdiCache(const GdiCache&) = delete;
  GdiCache& operator=(const GdiCache&) = delete;

  HFONT font(const Font& font);
  HBRUSH brush(COLORREF colour);

 private:
  int dpiY_;
  std::map<std::wstring, HFONT> fonts_;
  std::map<COLORREF, HBRUSH> brushes_;
};

}  // namespace quenvar::win32
