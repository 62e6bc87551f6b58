#include "platform/win32/thread_state_win32.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "core/thread_state.h"
#include "platform/win32/windows_api.h"

namespace quenvar {

namespace win32 {
struct ThreadStateHold {
  ThreadState state;
  std::atomic<long> holds{0};
};
}  // namespace win32

namespace {

using Slot = win32::ThreadStateHold;

INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
DWORD g_slot = TLS_OUT_OF_INDEXES;
// Every live state, so unloading can free those of threads that are still running.
SRWLOCK g_lock = SRWLOCK_INIT;
std::vector<Slot*> g_states;

BOOL CALLBACK allocateSlot(PINIT_ONCE, PVOID, PVOID*) {
  g_slot = TlsAlloc();
  return g_slot != TLS_OUT_OF_INDEXES;
}

void forget(Slot* state) {
  AcquireSRWLockExclusive(&g_lock);
  g_states.erase(std::remove(g_states.begin(), g_states.end(), state), g_states.end());
  ReleaseSRWLockExclusive(&g_lock);
}

Slot& currentSlot() {
  if (!InitOnceExecuteOnce(&g_once, allocateSlot, nullptr, nullptr)) throw std::bad_alloc();
  auto* slot = static_cast<Slot*>(TlsGetValue(g_slot));
  if (!slot) {
    auto owned = std::make_unique<Slot>();
    AcquireSRWLockExclusive(&g_lock);
    g_states.push_back(owned.get());
    ReleaseSRWLockExclusive(&g_lock);
    slot = owned.release();
    TlsSetValue(g_slot, slot);
  }
  return *slot;
}

}  // namespace

ThreadState& threadState() { return currentSlot().state; }

namespace win32 {

ThreadStateHold* holdThreadState() {
  Slot& slot = currentSlot();
  ++slot.holds;
  return &slot;
}

void releaseThreadStateHold(ThreadStateHold* hold) noexcept {
  if (!hold || --hold->holds != 0) return;
  if (g_slot == TLS_OUT_OF_INDEXES || TlsGetValue(g_slot) != hold) return;
  releaseThreadState();
}

void releaseThreadState() {
  if (g_slot == TLS_OUT_OF_INDEXES) return;
  auto* slot = static_cast<Slot*>(TlsGetValue(g_slot));
  if (!slot) return;
  // Unhooked first: releasing the client's objects may run code that uses this thread anew.
  TlsSetValue(g_slot, nullptr);
  forget(slot);
  delete slot;
}

void releaseAllThreadStates() {
  if (g_slot == TLS_OUT_OF_INDEXES) return;
  AcquireSRWLockExclusive(&g_lock);
  std::vector<Slot*> states;
  states.swap(g_states);
  ReleaseSRWLockExclusive(&g_lock);
  // Unloading is only allowed once no object lives, so any state left belongs to a thread with
  // no object and holds none of a client's objects: only its memory goes.
  for (Slot* state : states) delete state;
  TlsFree(g_slot);
  g_slot = TLS_OUT_OF_INDEXES;
}

}  // namespace win32
}  // namespace quenvar
