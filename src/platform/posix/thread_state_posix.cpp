#include "core/thread_state.h"

namespace quenvar {

ThreadState& threadState() {
  thread_local ThreadState state;
  return state;
}

}  // namespace quenvar
