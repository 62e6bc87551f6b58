#include "core/steps.h"

namespace quenvar {

AutomationError currentFailure() {
  try {
    throw;
  } catch (const AutomationError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return AutomationError(7, "Out of memory");
  } catch (const std::exception& e) {
    return AutomationError(51, std::string("Internal error: ") + e.what());
  } catch (...) {
    return AutomationError(51, "Internal error");
  }
}

}  // namespace quenvar
