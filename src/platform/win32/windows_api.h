#pragma once
// <windows.h> as this backend's sources see it: without the min/max macros.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
