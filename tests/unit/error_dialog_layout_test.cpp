#include "dialogs/error_dialog_layout.h"

#include <gtest/gtest.h>

#include "dialogs/error_dialog.h"

namespace quenvar {
namespace {

constexpr int32_t kW = 9825, kH = 6915;

ErrorDialogPlacements designed() {
  ErrorDialogPlacements p;
  for (const Control& c : errorDialogDesign()) {
    Twips* slot = c.name == "lblErrNum"     ? &p.lblErrNum
                  : c.name == "PictList"    ? &p.PictList
                  : c.name == "PictHeading" ? &p.PictHeading
                  : c.name == "txtOutput"   ? &p.txtOutput
                  : c.name == "cmdErrorLog" ? &p.cmdErrorLog
                  : c.name == "cmdTraceLog" ? &p.cmdTraceLog
                  : c.name == "cmdEmlSet"   ? &p.cmdEmlSet
                  : c.name == "cmdEmail"    ? &p.cmdEmail
                  : c.name == "cmdClose"    ? &p.cmdClose
                                            : nullptr;
    if (slot) *slot = c.rect;
  }
  return p;
}

// The places once the window has been shown at its design size.
ErrorDialogPlacements shown() { return placeErrorDialog(designed(), 0, 0, kW, kH); }

std::vector<Twips> buttons(const ErrorDialogPlacements& p) {
  return {p.cmdErrorLog, p.cmdTraceLog, p.cmdEmlSet, p.cmdEmail, p.cmdClose};
}

TEST(ErrorDialogLayout, DesignSizeGivesTheOpeningPlaces) {
  const ErrorDialogPlacements p = shown();
  EXPECT_EQ(p.lblErrNum, (Twips{50, 50, 9775, 420}));
  EXPECT_EQ(p.PictList, (Twips{50, 470, 2040, 5775}));
  EXPECT_EQ(p.PictHeading, (Twips{2100, 470, 7785, 465}));
  EXPECT_EQ(p.txtOutput, (Twips{2100, 950, 7725, 5315}));
  const int32_t lefts[] = {50, 1190, 6405, 7545, 8685};
  const std::vector<Twips> row = buttons(p);
  for (size_t i = 0; i < row.size(); ++i) EXPECT_EQ(row[i], (Twips{lefts[i], 6495, 1140, 360})) << i;
}

TEST(ErrorDialogLayout, WideningMovesTheRightButtonsAndStretchesTheRest) {
  const ErrorDialogPlacements before = shown();
  for (int32_t more : {1, 735, 20000}) {
    const ErrorDialogPlacements after = placeErrorDialog(before, 0, 0, kW + more, kH);
    EXPECT_EQ(after.lblErrNum.width, before.lblErrNum.width + more);
    EXPECT_EQ(after.PictHeading.width, before.PictHeading.width + more);
    EXPECT_EQ(after.txtOutput.width, before.txtOutput.width + more);
    EXPECT_EQ(after.PictList, before.PictList);
    EXPECT_EQ(after.cmdErrorLog, before.cmdErrorLog);
    EXPECT_EQ(after.cmdTraceLog, before.cmdTraceLog);
    for (auto member : {&ErrorDialogPlacements::cmdEmlSet, &ErrorDialogPlacements::cmdEmail,
                        &ErrorDialogPlacements::cmdClose}) {
      Twips moved = before.*member;
      moved.left += more;
      EXPECT_EQ(after.*member, moved) << more;
    }
  }
}

TEST(ErrorDialogLayout, HeighteningLengthensTheColumnAndPaneAndLowersTheRow) {
  const ErrorDialogPlacements before = shown();
  for (int32_t more : {1, 1000, 15000}) {
    const ErrorDialogPlacements after = placeErrorDialog(before, 0, 0, kW, kH + more);
    EXPECT_EQ(after.PictList.height, before.PictList.height + more);
    EXPECT_EQ(after.txtOutput.height, before.txtOutput.height + more);
    EXPECT_EQ(after.lblErrNum, before.lblErrNum);
    EXPECT_EQ(after.PictHeading, before.PictHeading);
    const std::vector<Twips> was = buttons(before), now = buttons(after);
    for (size_t i = 0; i < was.size(); ++i) {
      EXPECT_EQ(now[i].top, was[i].top + more);
      EXPECT_EQ(now[i].left, was[i].left);
    }
    EXPECT_EQ(now[0].top, kH + more - 420) << "a complete pass leaves the row 420 above the bottom";
  }
}

TEST(ErrorDialogLayout, TooNarrowSkipsOnlyThePlacementsThatWouldGoNegative) {
  const ErrorDialogPlacements before = shown();
  // {width, heading placed, pane placed}
  const std::tuple<int32_t, bool, bool> cases[] = {{2100, true, true}, {2099, true, false}, {2040, true, false},
                                                   {2039, false, false}, {2000, false, false}};
  for (const auto& [width, heading, pane] : cases) {
    const ErrorDialogPlacements after = placeErrorDialog(before, 0, 0, width, kH);
    EXPECT_EQ(after.lblErrNum.width, width - 50) << width;
    EXPECT_EQ(after.PictHeading.width, heading ? width - 2040 : before.PictHeading.width) << width;
    const Twips placedPane{2100, 950, width - 2100, before.txtOutput.height};
    EXPECT_EQ(after.txtOutput, pane ? placedPane : before.txtOutput) << width;
    EXPECT_EQ(after.cmdClose.left, width - 1140) << "the buttons are still placed";
    EXPECT_EQ(after.cmdEmlSet.left, width - 3420);
  }
}

TEST(ErrorDialogLayout, TooLowSkipsThePaneThenTheColumn) {
  const ErrorDialogPlacements before = shown();
  ErrorDialogPlacements after = placeErrorDialog(before, 0, 0, kW, 1600);
  EXPECT_EQ(after.txtOutput.height, 0);
  after = placeErrorDialog(before, 0, 0, kW, 1599);
  EXPECT_EQ(after.txtOutput, before.txtOutput);
  EXPECT_EQ(after.PictList.height, 459);
  after = placeErrorDialog(before, 0, 0, kW, 1140);
  EXPECT_EQ(after.PictList.height, 0);
  after = placeErrorDialog(before, 0, 0, kW, 1000);
  EXPECT_EQ(after.PictList, before.PictList);
  EXPECT_EQ(after.txtOutput, before.txtOutput);
  EXPECT_EQ(after.cmdClose.top, before.cmdClose.top) << "the row follows the column that stayed";
}

TEST(ErrorDialogLayout, MinimizeThenRestoreGivesBackEveryPlace) {
  const ErrorDialogPlacements before = shown();
  const ErrorDialogPlacements minimized = placeErrorDialog(before, 0, 0, 0, 0);
  EXPECT_EQ(minimized.PictList, before.PictList);
  EXPECT_EQ(minimized.txtOutput, before.txtOutput);
  EXPECT_EQ(placeErrorDialog(minimized, 0, 0, kW, kH), before);
}

}  // namespace
}  // namespace quenvar
