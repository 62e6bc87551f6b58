#pragma once
// The automation value: what the client's objects hand us and what parameters hold.

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace quenvar {

class Object;
using ObjectRef = std::shared_ptr<Object>;
class Variant;

struct NullValue {
  bool operator==(const NullValue&) const = default;
};
// Fixed point with four decimals, as the automation currency type.
struct Currency {
  int64_t scaled = 0;
  bool operator==(const Currency&) const = default;
};
// Days since 1899-12-30, the fraction being the time of day.
struct Date {
  double serial = 0;
  bool operator==(const Date&) const = default;
};
// An error value (a status code), as an omitted optional argument arrives.
struct ErrorValue {
  int32_t code = 0;
  bool operator==(const ErrorValue&) const = default;
};
struct VariantArray {
  int32_t lowerBound = 0;
  std::vector<Variant> items;
  // A client's array arrives as its element type (the automation type code) and shape alone:
  // nothing reads its elements, and copying them could take the host's memory (a document
  // column) or never end (an element referring back to the array).
  struct Dimension {
    int32_t lowerBound = 0;
    uint32_t count = 0;
  };
  uint16_t elementType = 0;
  std::vector<Dimension> shape{};
};

class Variant {
 public:
  enum class Type { Empty, Null, Boolean, Integer, Long, Double, Currency, Date, String, Object, Array, Error };

  Variant() = default;
  Variant(NullValue) : v_(NullValue{}) {}
  Variant(bool b) : v_(b) {}
  Variant(int16_t i) : v_(i) {}
  Variant(int32_t l) : v_(l) {}
  Variant(double d) : v_(d) {}
  Variant(Currency c) : v_(c) {}
  Variant(Date d) : v_(d) {}
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(ObjectRef o) : v_(std::move(o)) {}
  Variant(VariantArray a) : v_(std::make_shared<const VariantArray>(std::move(a))) {}
  Variant(ErrorValue e) : v_(e) {}

  static Variant null() { return Variant(NullValue{}); }

  Type type() const { return static_cast<Type>(v_.index()); }
  bool isEmpty() const { return type() == Type::Empty; }
  bool isNull() const { return type() == Type::Null; }
  bool isObject() const { return type() == Type::Object; }
  bool isString() const { return type() == Type::String; }

  // Typed reads; nullptr when the variant holds another type.
  const bool* boolean() const { return std::get_if<bool>(&v_); }
  const int16_t* integer() const { return std::get_if<int16_t>(&v_); }
  const int32_t* longValue() const { return std::get_if<int32_t>(&v_); }
  const double* doubleValue() const { return std::get_if<double>(&v_); }
  const Currency* currency() const { return std::get_if<Currency>(&v_); }
  const Date* date() const { return std::get_if<Date>(&v_); }
  const std::string* string() const { return std::get_if<std::string>(&v_); }
  const ObjectRef* object() const { return std::get_if<ObjectRef>(&v_); }
  const VariantArray* array() const {
    auto p = std::get_if<std::shared_ptr<const VariantArray>>(&v_);
    return p ? p->get() : nullptr;
  }
  const ErrorValue* error() const { return std::get_if<ErrorValue>(&v_); }

  // The object held, or a null reference for any other type.
  ObjectRef asObject() const;
  // A number as a double (Boolean True is -1); type mismatch for anything else.
  double toDouble() const;
  // toDouble rounded half to even into 32 bits; overflow outside that range.
  int32_t toLong() const;

 private:
  std::variant<std::monostate, NullValue, bool, int16_t, int32_t, double, Currency, Date,
               std::string, ObjectRef, std::shared_ptr<const VariantArray>, ErrorValue>
      v_;
};

// Rounds half to even and narrows; raises overflow (6) outside the target range.
int32_t roundToLong(double value);
int16_t narrowToInteger(int32_t value);

}  // namespace quenvar
