#include "platform/win32/twips.h"

#include <algorithm>

namespace quenvar::win32 {

Dpi screenDpi() {
  Dpi dpi;
  if (const HDC screen = ::GetDC(nullptr)) {
    dpi.x = ::GetDeviceCaps(screen, LOGPIXELSX);
    dpi.y = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
  }
  // A driver that reports nothing still gets a usable scale.
  if (dpi.x <= 0) dpi.x = 96;
  if (dpi.y <= 0) dpi.y = 96;
  return dpi;
}

int twipsToPixels(int twips, int dpi) { return ::MulDiv(twips, dpi, 1440); }

int pixelsToTwips(int pixels, int dpi) { return ::MulDiv(pixels, 1440, dpi); }

RECT pixelRect(const Twips& rect, Dpi dpi) {
  RECT r;
  r.left = twipsToPixels(rect.left, dpi.x);
  r.top = twipsToPixels(rect.top, dpi.y);
  r.right = r.left + std::max(0, twipsToPixels(rect.width, dpi.x));
  r.bottom = r.top + std::max(0, twipsToPixels(rect.height, dpi.y));
  return r;
}

}  // namespace quenvar::win32
