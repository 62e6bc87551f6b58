#include "quenvar/object.h"

#include "quenvar/automation_error.h"

namespace quenvar {

Variant Object::defaultValue() { raiseNoSuchMember("(default)"); }

void Object::put(std::string_view member, const Variant&) { raiseNoSuchMember(member); }

// `object` may be the handler's own field, which the member being run can replace: hold a
// reference of our own until the member returns.
void put(const ObjectRef& object, std::string_view member, const Variant& value) {
  const ObjectRef held = object;
  if (!held) raiseObjectNotSet();
  held->put(member, value);
}

Variant get(const ObjectRef& object, std::string_view member) { return call(object, member); }

Variant call(const ObjectRef& object, std::string_view member, std::span<const Variant> args) {
  const ObjectRef held = object;
  if (!held) raiseObjectNotSet();
  return held->invoke(member, args);
}

ObjectRef getObject(const ObjectRef& object, std::string_view member) {
  Variant v = get(object, member);
  if (!v.isObject()) raiseTypeMismatch();
  ObjectRef o = v.asObject();
  if (!o) raiseObjectNotSet();
  return o;
}

}  // namespace quenvar
