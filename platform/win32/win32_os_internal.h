// SPDX-License-Identifier: BSD-3-Clause
// Helpers of the Win32 OS layer that its other units (and the window
// backend) share. Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace nubo::platform::win32 {

// The system's text for a Win32 error code (GetLastError), without the
// trailing period and line end ("The system cannot find the file specified").
std::string errorText(DWORD error);

// The errno value closest to a Win32 error code (ENOENT, EACCES, ENOSPC, ...;
// EIO when there is none), for interfaces that report errno numbers.
int errnoOf(DWORD error);

// Errors that mean "nothing there" rather than "cannot be examined".
bool isMissingError(DWORD error);

// `path` as Win32 takes it: "" and a bare drive ("C:") stand for the roots
// that names joined onto them are in ("\", "C:\").
std::string nativePath(const std::string& path);

// The position of the last '\' or '/' (npos when there is none).
std::size_t lastSeparator(const std::string& path);

}  // namespace nubo::platform::win32
