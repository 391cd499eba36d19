#pragma once
// <windows.h> for our Windows code. The ANSI entry points are called by their
// own names (LoadLibraryA, CreateEventA, ...); the generic macros are removed
// because they would rename the ports' members of the same names.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#undef CreateEvent
#undef FormatMessage
#undef GetDriveType
#undef LoadLibrary
#undef MessageBox
