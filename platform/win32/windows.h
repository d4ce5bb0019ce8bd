// The Windows kernel and user services Gorvane uses, with their Windows names and results,
// implemented over the C++ standard library.
//
// Threads are kernel objects reached through handles: a thread's handle becomes signalled when
// the thread has ended, i.e. its start routine returned and its thread-local objects were
// destroyed (what they give back at thread exit, a GL context say, is back by then). Handles live
// in a process-wide table until CloseHandle, so a stale or foreign handle is refused (WAIT_FAILED,
// FALSE) instead of being followed.
//
// Observing and presenting message boxes (for tests and for the engine's window) is in
// message_box_log.h beside this file.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Base types (platform/d3d9/d3d9.h builds on these, as Direct3D's header builds on Windows')
// ---------------------------------------------------------------------------------------------
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using LONG = std::int32_t;
using BOOL = std::int32_t;
using LPCSTR = const char*;
using LPVOID = void*;
using HANDLE = void*;

using SIZE_T = std::size_t;
using LPDWORD = DWORD*;
using HWND = void*;
using LPSECURITY_ATTRIBUTES = void*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// Windows' calling convention marker; there is only one convention here.
#ifndef WINAPI
#define WINAPI
#endif

// ---------------------------------------------------------------------------------------------
// Threads and waiting
// ---------------------------------------------------------------------------------------------
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// Starts `startRoutine(parameter)` at once on a new thread and returns its handle, or nullptr
// when the thread cannot be made. Security attributes are ignored, and so is the stack size
// (threads get the system default, which is larger than Windows' 1 MiB). Only flags 0 (run at
// once) is supported; anything else fails. `threadId`, when given, receives a unique id.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE startRoutine, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId);

// Waits until every handle (waitAll) or any handle is signalled, or `milliseconds` pass
// (INFINITE: no limit). Returns WAIT_OBJECT_0 when all are signalled, WAIT_OBJECT_0 + i for
// the lowest signalled index i when waiting for any, WAIT_TIMEOUT, or WAIT_FAILED for a count
// of 0 or above MAXIMUM_WAIT_OBJECTS or for a handle that is not open.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Closes a handle. Closing the handle of a running thread leaves the thread running; its
// resources go when it has ended and its handle is closed. FALSE for a handle that is not open.
BOOL CloseHandle(HANDLE handle);

// ---------------------------------------------------------------------------------------------
// Critical sections: recursive locks, as on Windows (the owner may enter again and leaves as
// often as it entered). Unusable before InitializeCriticalSection and after
// DeleteCriticalSection.
// ---------------------------------------------------------------------------------------------
struct CRITICAL_SECTION {
    alignas(std::max_align_t) unsigned char storage[64];
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

// ---------------------------------------------------------------------------------------------
// Message boxes
// ---------------------------------------------------------------------------------------------
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONWARNING = 0x00000030;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr int IDOK = 1;

// Writes "caption: text" to standard error, records the box (message_box_log.h) and, when the
// engine has installed a presenter (in a window), hands it over: a box of the main thread may
// wait there for a person's answer, any other box is queued for the screen and returns at
// once. With no presenter (headless) nobody is waited for. A null caption reads "Error" and a null text "", as on
// Windows. Only the OK button exists: returns IDOK, or 0 (after printing and recording) when
// `type` asks for any other buttons, since no answer but OK can be given.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
