#pragma once
// The DLL keeps each thread's state in a TLS slot and frees it from DllMain: the runtime's
// emulated thread_local destroys it too late (after its own storage is gone) and holds the
// loader on thread exit.

namespace quenvar::win32 {

// At DLL_THREAD_DETACH: frees the calling thread's state.
void releaseThreadState();
// At DLL_PROCESS_DETACH by FreeLibrary: frees every thread's state and the slot.
void releaseAllThreadStates();

}  // namespace quenvar::win32
