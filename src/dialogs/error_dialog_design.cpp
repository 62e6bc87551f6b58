#include "dialogs/error_dialog.h"

namespace quenvar {

namespace {

constexpr uint32_t kGrey = rgb(128, 128, 128);
const Font kVerdanaLarge{"Verdana", 18, false};
const Font kTahoma{"Tahoma", 8.25, false};

Control control(const char* name, ControlKind kind, const char* container, Twips rect, const char* caption, int tab) {
  Control c{name, kind, container, rect, caption};
  c.tabIndex = tab;
  return c;
}

Control picture(const char* name, Twips rect, int tab) {
  Control c = control(name, ControlKind::PictureBox, "", rect, "", tab);
  c.backColor = kGrey;
  return c;
}

Control sectionButton(const char* name, int32_t top, const char* caption, int tab) {
  return control(name, ControlKind::Button, "PictList", {0, top, 1995, 360}, caption, tab);
}

Control rowButton(const char* name, int32_t left, const char* caption, int tab) {
  Control c = control(name, ControlKind::Button, "", {left, 6465, 1140, 360}, caption, tab);
  c.font = kTahoma;
  return c;
}

}  // namespace

std::vector<Control> errorDialogDesign() {
  Control banner = control("lblErrNum", ControlKind::Label, "", {90, 75, 9675, 420}, "", 6);
  banner.font = kVerdanaLarge;
  banner.foreColor = rgb(255, 0, 0);
  banner.alignment = Alignment::Centre;

  Control heading = control("lblTabHeading", ControlKind::Label, "PictHeading", {15, 15, 7605, 465}, "", 8);
  heading.font = kVerdanaLarge;
  heading.foreColor = kColourWhite;
  heading.backColor = kGrey;

  Control pane = control("txtOutput", ControlKind::TextBox, "", {2040, 1140, 7725, 5190}, "", 4);
  pane.multiLine = true;
  pane.foreColor = kColourWindowText;
  pane.backColor = kColourWindow;

  Control close = rowButton("cmdClose", 8610, "&Close", 0);
  close.isDefault = close.isCancel = true;

  Control socket = control("Winsock1", ControlKind::Hidden, "", {5010, 6435, 0, 0}, "", -1);
  socket.visible = false;

  return {banner,
          picture("PictHeading", {2055, 600, 7725, 555}, 7),
          heading,
          picture("PictList", {0, 600, 2040, 5730}, 5),
          sectionButton("cmdErrorInfo", 0, "&Error Info.", 1),
          sectionButton("cmdAppInfo", 360, "&App Info.", 13),
          sectionButton("cmdSystemInfo", 720, "&System Info.", 2),
          sectionButton("cmdDatabaseInfo", 1080, "&Database Info.", 3),
          pane,
          rowButton("cmdErrorLog", 0, "Error &Log", 9),
          rowButton("cmdTraceLog", 1140, "&Trace Log", 10),
          rowButton("cmdEmlSet", 6345, "Email Settin&gs", 12),
          rowButton("cmdEmail", 7500, "E&mail Error", 11),
          close,
          socket};
}

}  // namespace quenvar
