// The one place that sets the Windows macros and includes <windows.h>; everything else includes this.
//
// Classes: none (macros only).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef STRICT
#define STRICT
#endif
// The oldest system each program starts on: Windows XP for the 32-bit program, Windows XP x64 and Server
// 2003 for the 64-bit one. A direct call of anything newer does not compile; such functions are looked up
// at run time (DynamicLibrary) with a fall-back for the systems that lack them.
#ifndef _WIN32_WINNT
#ifdef _WIN64
#define _WIN32_WINNT 0x0502
#else
#define _WIN32_WINNT 0x0501
#endif
#endif
#ifndef WINVER
#define WINVER _WIN32_WINNT
#endif
#ifndef _WIN32_IE
#define _WIN32_IE 0x0600
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>
