#pragma once
// An automation object used by member name only: the client's application object and
// connection reach the logic this way, whatever their origin (COM dispatch, native C++).

#include <span>
#include <string_view>

#include "quenvar/variant.h"

namespace quenvar {

// Orders member names as automation compares them: ASCII letter case ignored.
struct CaseInsensitiveLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

class Object {
 public:
  virtual ~Object() = default;

  // Reads a property or calls a method named `member` (letter case ignored). A member the
  // object lacks raises AutomationError (438 for a native object).
  virtual Variant invoke(std::string_view member, std::span<const Variant> args) = 0;

  // The default member's value. Objects without one raise 438.
  virtual Variant defaultValue();

  // Assigns a property. Objects that cannot take assignments raise 438.
  virtual void put(std::string_view member, const Variant& value);
};

// A property read on a reference that may be unset (91 then).
Variant get(const ObjectRef& object, std::string_view member);
// A method call or an indexed property read.
Variant call(const ObjectRef& object, std::string_view member, std::span<const Variant> args = {});
// A property assignment on a reference that may be unset (91 then).
void put(const ObjectRef& object, std::string_view member, const Variant& value);
// get() for a member whose value must itself be an object.
ObjectRef getObject(const ObjectRef& object, std::string_view member);

}  // namespace quenvar
