#pragma once

namespace quenvar {

// The component's application title: the event source, and the title of its message boxes.
inline constexpr const char* kComponentTitle = "Quenvar";
// The identifier of the event a handled error writes; the DLL's message table renders it.
inline constexpr unsigned kHandledErrorEventId = 1003;

}  // namespace quenvar
