#pragma once
// Where the error dialog's controls stand for a given client area: the banner across the top,
// the section column down the left, the pane filling the rest, the button row at the bottom.

#include <cstdint>

#include "platform/form.h"

namespace quenvar {

// The controls the resize step moves, in twips relative to the client area.
struct ErrorDialogPlacements {
  Twips lblErrNum, PictList, PictHeading, txtOutput, cmdErrorLog, cmdTraceLog, cmdEmlSet, cmdEmail, cmdClose;
  bool operator==(const ErrorDialogPlacements&) const = default;
};

// The resize step over the client area (left, top, width, height). Each placement reads the
// places as the earlier ones left them; one whose width or height would be negative is skipped
// and its control keeps its place. No size is too small to lay out.
ErrorDialogPlacements placeErrorDialog(ErrorDialogPlacements current, int32_t left, int32_t top, int32_t width,
                                       int32_t height);

}  // namespace quenvar
