#include "platform/form.h"

#include "quenvar/automation_error.h"

namespace quenvar {

const Control& Form::control(std::string_view name) const {
  for (const Control& c : controls)
    if (c.name == name) return c;
  throw AutomationError(err::kNoSuchMember, "The form has no control " + std::string(name));
}

Control& Form::control(std::string_view name) {
  return const_cast<Control&>(static_cast<const Form&>(*this).control(name));
}

void Form::onEdit(std::string_view name, const std::string& text) { control(name).caption = text; }

void Form::onValue(std::string_view name, int value) { control(name).value = value; }

}  // namespace quenvar
