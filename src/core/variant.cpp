#include "quenvar/variant.h"

#include <cmath>
#include <limits>
#include <string>

#include "quenvar/automation_error.h"

namespace quenvar {

ObjectRef Variant::asObject() const {
  auto p = object();
  return p ? *p : nullptr;
}

double Variant::toDouble() const {
  switch (type()) {
    case Type::Empty: return 0;
    case Type::Boolean: return *boolean() ? -1 : 0;
    case Type::Integer: return *integer();
    case Type::Long: return *longValue();
    case Type::Double: return *doubleValue();
    case Type::Currency: return static_cast<double>(currency()->scaled) / 10000.0;
    case Type::Date: return date()->serial;
    case Type::String: {
      const std::string& s = *string();
      size_t used = 0;
      double d = 0;
      try {
        d = std::stod(s, &used);
      } catch (const std::out_of_range&) {
        raiseOverflow();
      } catch (const std::exception&) {
        raiseTypeMismatch();
      }
      while (used < s.size() && s[used] == ' ') ++used;
      if (used != s.size()) raiseTypeMismatch();
      return d;
    }
    default: raiseTypeMismatch();
  }
}

int32_t Variant::toLong() const { return roundToLong(toDouble()); }

int32_t roundToLong(double value) {
  if (!std::isfinite(value)) raiseOverflow();
  double r = std::nearbyint(value);  // the default rounding mode is to nearest, ties to even
  if (r < std::numeric_limits<int32_t>::min() || r > std::numeric_limits<int32_t>::max())
    raiseOverflow();
  return static_cast<int32_t>(r);
}

int16_t narrowToInteger(int32_t value) {
  if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max())
    raiseOverflow();
  return static_cast<int16_t>(value);
}

}  // namespace quenvar
