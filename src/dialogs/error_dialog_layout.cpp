#include "dialogs/error_dialog_layout.h"

namespace quenvar {

namespace {

constexpr int32_t kButtonWidth = 1140;

void place(Twips& rect, const Twips& to) {
  if (to.width >= 0 && to.height >= 0) rect = to;
}

}  // namespace

ErrorDialogPlacements placeErrorDialog(ErrorDialogPlacements p, int32_t left, int32_t top, int32_t width,
                                       int32_t height) {
  place(p.lblErrNum, {left + 50, top + 50, width - 50, 420});
  place(p.PictList, {left + 50, top + 470, 2040, height - 1140});
  // From the column's width, not its right edge: the pane starts 10 twips clear of the column.
  place(p.PictHeading, {p.PictList.width + 60, top + 470, width - 2040, 465});
  place(p.txtOutput, {p.PictList.width + 60, top + 950, width - 2100, height - 1600});
  // The row hangs below the banner and the column as they now stand, whatever the top.
  const auto button = [&p](Twips& rect, int32_t x) {
    place(rect, {x, p.lblErrNum.height + p.PictList.height + 300, kButtonWidth, rect.height});
  };
  button(p.cmdErrorLog, left + 50);
  button(p.cmdTraceLog, left + p.cmdErrorLog.width + 50);
  button(p.cmdEmlSet, width - 3 * kButtonWidth);
  button(p.cmdEmail, width - 2 * kButtonWidth);
  button(p.cmdClose, width - kButtonWidth);
  return p;
}

}  // namespace quenvar
