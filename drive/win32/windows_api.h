#pragma once
// <windows.h> for our Windows code. The ANSI entry points are called by their
// own names (LoadLibraryA, CreateEventA, ...).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

