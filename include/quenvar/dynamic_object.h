#pragma once
// An Object assembled from named members: what a native C++ client hands to the handler as
// its application object or connection, and what the tests build their client objects from.

#include <functional>
#include <map>
#include <string>

#include "quenvar/object.h"

namespace quenvar {

class DynamicObject : public Object {
 public:
  using Member = std::function<Variant(std::span<const Variant>)>;

  // A member returning a fixed value.
  DynamicObject& set(std::string name, Variant value);
  // A member computed on every read or call.
  DynamicObject& on(std::string name, Member member);
  DynamicObject& remove(std::string_view name);
  DynamicObject& setDefault(Member member);

  Variant invoke(std::string_view member, std::span<const Variant> args) override;
  Variant defaultValue() override;
  // An existing member becomes the assigned value, as a property bag's would.
  void put(std::string_view member, const Variant& value) override;

 private:
  std::map<std::string, Member, CaseInsensitiveLess> members_;
  Member default_;
};

}  // namespace quenvar
