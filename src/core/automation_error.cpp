#include "quenvar/automation_error.h"


namespace quenvar {

AutomationError::AutomationError(int32_t number, std::string description, std::string source)
    : std::runtime_error(description),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

void raiseOverflow() { throw AutomationError(err::kOverflow, "Overflow"); }
void raiseSubscript() { throw AutomationError(err::kSubscript, "Subscript out of range"); }
void raiseTypeMismatch() { throw AutomationError(err::kTypeMismatch, "Type mismatch"); }
void raiseObjectNotSet() {
  throw AutomationError(err::kObjectNotSet, "Object variable or With block variable not set");
}
void raiseNoSuchMember(std::string_view member) {
  throw AutomationError(err::kNoSuchMember, "Object doesn't support this property or method: " +
                                                std::string(member));
}

}  // namespace quenvar
