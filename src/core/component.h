#pragma once

namespace quenvar {

// The component's application title: the event source, and the title of its message boxes.
inline constexpr const char* kComponentTitle = "Quenvar";

}  // namespace quenvar
