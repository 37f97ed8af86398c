// SPDX-License-Identifier: BSD-3-Clause
// Helpers of the Win32 OS layer that its other units (and the window
// backend) share. Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace nubo::platform::win32 {

// UTF-8 inside, UTF-16 at the system boundary: every path and text handed
// to Windows goes through wide(), every one it gives back through utf8().
// Bytes that are not UTF-8 become U+FFFD (they cannot name a file Windows has).
std::wstring wide(const std::string& text);
std::string utf8(const wchar_t* text, std::size_t length);
inline std::string utf8(const std::wstring& text) { return utf8(text.data(), text.size()); }

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
