#include "platform/win32/gdi_cache.h"

#include <cmath>

#include "platform/win32/utf.h"

namespace quenvar::win32 {

COLORREF gdiColour(uint32_t colour) {
  if (colour & kSystemColourFlag) return ::GetSysColor(static_cast<int>(colour & 0xFFu));
  return static_cast<COLORREF>(colour & 0xFFFFFFu);
}

LONG fontHeight(double points, int dpiY) { return -std::lround(points * dpiY / 72.0); }

GdiCache::~GdiCache() {
  for (auto& [key, font] : fonts_) ::DeleteObject(font);
  for (auto& [key, brush] : brushes_) ::DeleteObject(brush);
}

HFONT GdiCache::font(const Font& font) {
  const std::wstring face = widen(font.name);
  const LONG height = fontHeight(font.points, dpiY_);
  const std::wstring key = face + L'|' + std::to_wstring(height) + (font.bold ? L"|b" : L"|");
  if (auto it = fonts_.find(key); it != fonts_.end()) return it->second;
  const HFONT created = ::CreateFontW(height, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                      DEFAULT_PITCH | FF_DONTCARE, face.c_str());
  if (created) fonts_.emplace(key, created);
  return created;
}

HBRUSH GdiCache::brush(COLORREF colour) {
  if (auto it = brushes_.find(colour); it != brushes_.end()) return it->second;
  const HBRUSH created = ::CreateSolidBrush(colour);
  if (created) brushes_.emplace(colour, created);
  return created;
}

}  // namespace quenvar::win32
