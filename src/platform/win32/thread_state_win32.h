#pragma once
// The DLL keeps each thread's state in a TLS slot and frees it from DllMain: the runtime's
// emulated thread_local destroys it too late (after its own storage is gone) and holds the
// loader on thread exit.

namespace quenvar::win32 {

// The DLL's objects each hold their thread's state; the last one to go frees it on the spot, so
// the client's objects kept there are released by an ordinary call and not under the loader
// lock at thread detach.
struct ThreadStateHold;
ThreadStateHold* holdThreadState();
// Frees the state when this was its last hold and it belongs to the calling thread; a state
// let go from another thread waits for its own thread's detach.
void releaseThreadStateHold(ThreadStateHold* hold) noexcept;

// At DLL_THREAD_DETACH: frees the calling thread's state.
void releaseThreadState();
// At DLL_PROCESS_DETACH by FreeLibrary: frees every thread's state and the slot.
void releaseAllThreadStates();

}  // namespace quenvar::win32
