#pragma once
// Forms are designed in twips (1/1440 inch); windows are placed in pixels of the screen's DPI.
// Every conversion goes through these, so placement and the sizes reported back agree.

#include "platform/form.h"
#include "platform/win32/windows_api.h"

namespace quenvar::win32 {

struct Dpi {
  int x = 96, y = 96;
};

Dpi screenDpi();

// Rounded half away from zero, as MulDiv does.
int twipsToPixels(int twips, int dpi);
int pixelsToTwips(int pixels, int dpi);

// Left, top, width and height each converted on their own; sizes never negative.
RECT pixelRect(const Twips& rect, Dpi dpi);

}  // namespace quenvar::win32
