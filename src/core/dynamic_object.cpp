#include "quenvar/dynamic_object.h"

#include "quenvar/automation_error.h"

namespace quenvar {

DynamicObject& DynamicObject::set(std::string name, Variant value) {
  return on(std::move(name), [value = std::move(value)](std::span<const Variant>) { return value; });
}

DynamicObject& DynamicObject::on(std::string name, Member member) {
  members_.insert_or_assign(std::move(name), std::move(member));
  return *this;
}

DynamicObject& DynamicObject::remove(std::string_view name) {
  auto it = members_.find(name);
  if (it != members_.end()) members_.erase(it);
  return *this;
}

DynamicObject& DynamicObject::setDefault(Member member) {
  default_ = std::move(member);
  return *this;
}

Variant DynamicObject::invoke(std::string_view member, std::span<const Variant> args) {
  auto it = members_.find(member);
  if (it == members_.end()) raiseNoSuchMember(member);
  // Copy first: the member may replace itself while it runs.
  Member m = it->second;
  return m(args);
}

void DynamicObject::put(std::string_view member, const Variant& value) {
  auto it = members_.find(member);
  if (it == members_.end()) raiseNoSuchMember(member);
  it->second = [value](std::span<const Variant>) { return value; };
}

Variant DynamicObject::defaultValue() {
  if (!default_) return Object::defaultValue();
  Member m = default_;
  return m({});
}

}  // namespace quenvar
