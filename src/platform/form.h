#pragma once
// A window as data: its controls with their design geometry in twips, fonts, colours and
// states, and the event handlers that change them. A window system renders a form, feeds it
// the user's actions, and after every event shows whatever the handlers changed; tests drive
// the handlers directly.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenvar {

// Colours as RGB (red in the low byte, as Windows keeps them), or a system colour index
// flagged by the top bit.
inline constexpr uint32_t kSystemColourFlag = 0x80000000u;
constexpr uint32_t rgb(uint8_t r, uint8_t g, uint8_t b) { return r | (g << 8) | (uint32_t{b} << 16); }
inline constexpr uint32_t kColourWhite = rgb(255, 255, 255);
inline constexpr uint32_t kColourButtonFace = kSystemColourFlag | 15;
inline constexpr uint32_t kColourButtonText = kSystemColourFlag | 18;
inline constexpr uint32_t kColourWindow = kSystemColourFlag | 5;
inline constexpr uint32_t kColourWindowText = kSystemColourFlag | 8;
inline constexpr uint32_t kColourInactiveCaptionText = kSystemColourFlag | 19;

struct Font {
  std::string name;  // empty: the form's font
  double points = 8.25;
  bool bold = false;
};

struct Twips {
  int32_t left = 0, top = 0, width = 0, height = 0;
  bool operator==(const Twips&) const = default;
};

enum class ControlKind {
  Label,         // caption, alignment
  PictureBox,    // a container with a background
  Button,        // caption; default and cancel buttons
  TextBox,       // text; multi-line with both scroll bars when `multiLine`
  OptionButton,  // caption, value; options sharing a container form one group
  CheckBox,      // caption, value 0 or 1
  Frame,         // captioned container
  Line,          // from (left, top) to (left + width, top + height); foreColor
  Hidden,        // present in the model only (a socket control): never drawn
};

enum class Alignment { Left, Right, Centre };

struct Control {
  std::string name;       // an array member is named with its index: "optEmailType(2)"
  ControlKind kind = ControlKind::Label;
  std::string container;  // empty: the form itself
  Twips rect;             // relative to the container's client area
  std::string caption;    // an '&' marks the next letter as the access key; a text box's text
  Font font{};
  uint32_t foreColor = kColourButtonText;
  uint32_t backColor = kColourButtonFace;
  int tabIndex = -1;      // -1: takes no focus
  Alignment alignment = Alignment::Left;
  bool visible = true;
  bool enabled = true;
  bool isDefault = false;
  bool isCancel = false;
  bool multiLine = false;
  // A label drawn as wide and high as its caption in its font, on one line; its alignment
  // names the edge (or the centre) that stays where the design puts it.
  bool autoSize = false;
  int value = 0;          // option button 0/1, check box 0/1
};

class Form {
 public:
  virtual ~Form() = default;

  std::string caption;
  int32_t clientWidth = 0, clientHeight = 0;  // twips, at creation
  Font font{"MS Sans Serif", 8.25, false};
  bool sizable = false;  // sizable border with minimize and maximize buttons; else a fixed dialog
  std::vector<Control> controls;

  // Set by the handlers: the window system moves the focus there after the event, then clears it.
  std::string focus;
  // False once the form has unloaded: the window system then closes its window and returns.
  bool loaded = false;
  // The pointer over the form's client area and its controls (a MousePointer value); set it
  // through FormPointer, so that it shows at once even in the middle of an event.
  int mousePointer = 0;

  Control& control(std::string_view name);
  const Control& control(std::string_view name) const;

  // Events, as the window system raises them. Each may throw AutomationError: the window
  // system then closes the window and rethrows from its show call.
  virtual void onActivate() {}
  // The client area in twips, whenever the window is shown or resized (minimized: 0 by 0).
  virtual void onResize(int32_t /*width*/, int32_t /*height*/) {}
  virtual void onClick(std::string_view /*control*/) {}
  // The user edited a text box, ticked a check box or picked an option; the model keeps what
  // the user sees.
  virtual void onEdit(std::string_view control, const std::string& text);
  virtual void onValue(std::string_view control, int value);
  // Keystrokes in a control: a handler that sets the code to 0 discards the key.
  virtual void onKeyDown(std::string_view /*control*/, int& /*keyCode*/) {}
  virtual void onKeyPress(std::string_view /*control*/, int& /*keyAscii*/) {}
  virtual void onKeyUp(std::string_view /*control*/, int& /*keyCode*/) {}
  // The close box: unloads the form.
  virtual void onClose() = 0;
};

}  // namespace quenvar
