#include "core/steps.h"

#include <stdexcept>

namespace quenvar {

AutomationError currentFailure() {
  try {
    throw;
  } catch (const AutomationError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return AutomationError(err::kOutOfMemory, "Out of memory");
  } catch (const std::length_error&) {
    // More than a string or table can hold: to the client, memory that cannot be had.
    return AutomationError(err::kOutOfMemory, "Out of memory");
  } catch (const std::exception& e) {
    return AutomationError(51, std::string("Internal error: ") + e.what());
  } catch (...) {
    return AutomationError(51, "Internal error");
  }
}

}  // namespace quenvar
