#include "platform/win32/win32_thread_state.h"

#include <algorithm>
#include <vector>

#include "core/thread_state.h"
#include "platform/win32/windows_api.h"

namespace quenvar {

namespace {

INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
DWORD g_slot = TLS_OUT_OF_INDEXES;
// Every live state, so unloading can free those of threads that are still running.
SRWLOCK g_lock = SRWLOCK_INIT;
std::vector<ThreadState*> g_states;

BOOL CALLBACK allocateSlot(PINIT_ONCE, PVOID, PVOID*) {
  g_slot = TlsAlloc();
  return g_slot != TLS_OUT_OF_INDEXES;
}

void forget(ThreadState* state) {
  AcquireSRWLockExclusive(&g_lock);
  g_states.erase(std::remove(g_states.begin(), g_states.end(), state), g_states.end());
  ReleaseSRWLockExclusive(&g_lock);
}

}  // namespace

ThreadState& threadState() {
  if (!InitOnceExecuteOnce(&g_once, allocateSlot, nullptr, nullptr)) throw std::bad_alloc();
  auto* state = static_cast<ThreadState*>(TlsGetValue(g_slot));
  if (!state) {
    auto owned = std::make_unique<ThreadState>();
    AcquireSRWLockExclusive(&g_lock);
    g_states.push_back(owned.get());
    ReleaseSRWLockExclusive(&g_lock);
    state = owned.release();
    TlsSetValue(g_slot, state);
  }
  return *state;
}

namespace win32 {

void releaseThreadState() {
  if (g_slot == TLS_OUT_OF_INDEXES) return;
  auto* state = static_cast<ThreadState*>(TlsGetValue(g_slot));
  if (!state) return;
  TlsSetValue(g_slot, nullptr);
  forget(state);
  delete state;
}

void releaseAllThreadStates() {
  if (g_slot == TLS_OUT_OF_INDEXES) return;
  AcquireSRWLockExclusive(&g_lock);
  std::vector<ThreadState*> states;
  states.swap(g_states);
  ReleaseSRWLockExclusive(&g_lock);
  for (ThreadState* state : states) delete state;
  TlsFree(g_slot);
  g_slot = TLS_OUT_OF_INDEXES;
}

}  // namespace win32
}  // namespace quenvar
