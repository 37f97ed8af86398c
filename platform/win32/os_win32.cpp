// SPDX-License-Identifier: BSD-3-Clause
// The OS layer on Win32: GetModuleFileNameW, FindFirstFileExW, CreateFileW
// and GetFileInformationByHandle for what a path names, CreateDirectoryW, and
// output files written under a temporary name and given their final name by
// MoveFileExW (no replace: atomic; replace: a check and a MoveFileExW with
// MOVEFILE_REPLACE_EXISTING under a lock that orders commits into one
// directory).
//
// Paths are UTF-8 strings, as everywhere in the program; they are converted
// to UTF-16 for the wide ("W") functions here and nowhere else, so that any
// name Windows can hold works, whatever the system's code page. '\' and '/'
// both separate components, a drive ("C:") or a UNC share
// ("\\server\share") may lead.
#include "os.h"
#include "os_names.h"

#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <optional>
#include <utility>

#include "std_streams.h"
#include "win32_os_internal.h"

namespace nubo::platform {

namespace win32 {

std::wstring wide(const std::string& text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string utf8(const wchar_t* text, std::size_t length) {
  if (length == 0) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
  if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

std::string errorText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::string text = n > 0 && buffer != nullptr ? utf8(buffer, n) : std::string();
  if (buffer != nullptr) ::LocalFree(buffer);
  // The system's texts end in ".\r\n"; the messages put the reason in
  // parentheses or after a colon, as with the POSIX texts, which have neither.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) text = "Windows error " + std::to_string(error);
  return text;
}

int errnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_NETWORK_ACCESS_DENIED: return EACCES;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER: return EINVAL;
    default: return EIO;
  }
}

bool isMissingError(DWORD error) {
  // ERROR_INVALID_NAME: a name Windows cannot hold (a '?', a '*', a '"'),
  // so nothing can be there.
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
         error == ERROR_INVALID_DRIVE || error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME ||
         error == ERROR_BAD_PATHNAME || error == ERROR_DIRECTORY;
}

std::string nativePath(const std::string& path) {
  // The converter joins a directory and a name with a separator and splits
  // at the last one, so "C:\x" splits into "C:" and "x", and "\x" into ""
  // and "x". For Windows "C:" alone is the drive's current directory, and
  // "" no path at all: both are taken as the roots the joined names are in.
  if (path.empty()) return "\\";
  if (path.size() == 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) return path + "\\";
  return path;
}

std::size_t lastSeparator(const std::string& path) { return path.find_last_of(kPathSeparators); }

}  // namespace win32

using namespace win32;

std::string programDirectory() {
  // GetModuleFileNameW names this very executable, whatever it is called and
  // however it was started (a search for "NUBOCONV.exe" along the search
  // order would find another copy first when the current directory has one).
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return ".";
    if (n < name.size()) {
      name.resize(n);
      break;
    }
    name.resize(name.size() * 2);  // cut off: try a larger buffer
    if (name.size() > 32768) return ".";
  }
  const std::string buffer = utf8(name);
  const std::size_t slash = lastSeparator(buffer);
  if (slash == std::string::npos) return ".";
  // "C:\NUBOCONV.exe" is in the root "C:\", which keeps its separator.
  if (slash == 2 && buffer[1] == ':') return buffer.substr(0, 3);
  return buffer.substr(0, slash);
}

namespace {

// An identity for a device, which has no file index: its full name
// ("\\.\NUL"), hashed. Devices get the volume number 0xFFFFFFFF... that no
// volume has, so that no device shares an identity with a file.
std::pair<uint64_t, uint64_t> deviceIdentity(const std::string& path) {
  wchar_t full[MAX_PATH + 1] = {};
  const DWORD n = ::GetFullPathNameW(wide(path).c_str(), MAX_PATH, full, nullptr);
  std::string name = n > 0 && n < MAX_PATH ? utf8(full, n) : path;
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (const char c : name) {
    h ^= static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(c)));
    h *= 1099511628211ull;
  }
  return {~uint64_t{0}, h};
}

// Opens `path` for querying only (no read or write access, so no share mode
// of another opener is in the way), following links.
HANDLE openForQuery(const std::string& path, DWORD extraFlags = 0) {
  return ::CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | extraFlags, nullptr);
}

// The status of an open handle.
FileStatus statusOfHandle(HANDLE h, const std::string& path) {
  FileStatus status;
  const DWORD type = ::GetFileType(h);
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
    status.kind = FileKind::Other;
    status.characterDevice = type == FILE_TYPE_CHAR;
    const auto id = deviceIdentity(path);
    status.device = id.first;
    status.inode = id.second;
    return status;
  }
  BY_HANDLE_FILE_INFORMATION info {};
  if (!::GetFileInformationByHandle(h, &info)) {
    status.kind = FileKind::Error;
    status.error = errorText(::GetLastError());
    return status;
  }
  status.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Directory : FileKind::Regular;
  status.device = info.dwVolumeSerialNumber;
  status.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  status.size = status.kind == FileKind::Regular
                    ? static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow)
                    : 0;
  return status;
}

using names::kTemporaryDecoration;
using names::kTemporarySuffix;
using names::splitMix64;
// The longest name one component may have (NTFS, FAT32 long names).
constexpr size_t kMaxNameLength = 255;

// 64 unpredictable bits for a temporary name: the system's random number
// generator, else the process id, the performance counter and a counter. A
// clash costs only a retry: the file is created with CREATE_NEW.
uint64_t randomBits() {
  uint64_t value = 0;
  if (BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value,
                                       BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return value;
  }
  static std::atomic<uint64_t> counter{0};
  LARGE_INTEGER now {};
  ::QueryPerformanceCounter(&now);
  const uint64_t seed = (static_cast<uint64_t>(::GetCurrentProcessId()) << 40) ^ static_cast<uint64_t>(now.QuadPart);
  return splitMix64(seed + counter.fetch_add(1) * 0x9e3779b97f4a7c15ull);
}

// The UTF-16 units of the UTF-8 character that starts at `text[at]`, and
// its length in bytes.
std::pair<size_t, size_t> characterAt(const std::string& text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t bytes = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  bytes = std::min(bytes, text.size() - at);
  return {bytes == 4 ? 2 : 1, bytes};  // beyond the first plane: a surrogate pair
}

// The part of the final name that goes into the temporary name: all of it
// when the temporary path stays within what the path functions take
// (MAX_PATH UTF-16 units) and its name within one component, else a prefix
// of at least one character, cut at a character boundary (a UTF-8 sequence
// is never split). The random part keeps it unique. The name also stays
// within 255 bytes of UTF-8, which is what a component may have on the
// Unix file systems under Wine (and costs nothing on Windows).
std::string temporaryStem(const std::string& directoryPrefix, const std::string& name) {
  constexpr size_t kDecoration = kTemporaryDecoration;
  const size_t byteLimit = kMaxNameLength - kDecoration;
  size_t limit = kMaxNameLength - kDecoration;
  wchar_t full[MAX_PATH + 1] = {};
  const std::string directory = directoryPrefix.empty() ? "." : directoryPrefix;
  const DWORD n = ::GetFullPathNameW(wide(directory).c_str(), MAX_PATH, full, nullptr);
  if (n > 0 && n < MAX_PATH) {
    // The full path of the directory, a separator (unless it ends in one),
    // the decorated name, and room for the terminating NUL.
    const bool endsInSeparator = full[n - 1] == L'\\' || full[n - 1] == L'/';
    const size_t used = n + (endsInSeparator ? 0 : 1) + kDecoration + 1;
    limit = std::min(limit, used < MAX_PATH ? MAX_PATH - used : size_t{0});
  }
  limit = std::max<size_t>(limit, 1);
  size_t cut = 0;
  size_t units = 0;
  while (cut < name.size()) {
    const auto [u, bytes] = characterAt(name, cut);
    if (units + u > limit || cut + bytes > byteLimit) break;
    units += u;
    cut += bytes;
  }
  if (cut == 0) cut = characterAt(name, 0).second;
  return name.substr(0, cut);
}

// Orders commits into one directory among every process of this machine:
// a named mutex whose name is the directory's identity (volume and file
// index), so that every spelling of the directory takes the same lock. This
// takes the place of the POSIX layer's flock on the directory, which Windows
// has no equivalent of. Without it (the directory cannot be opened, or the
// mutex cannot be made), the commit goes on unlocked: the check and the
// rename are still right for one process.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& directory) {
    HANDLE dir = openForQuery(nativePath(directory));
    if (dir == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info {};
    const bool known = ::GetFileInformationByHandle(dir, &info) != 0;
    ::CloseHandle(dir);
    if (!known) return;
    char name[96];
    std::snprintf(name, sizeof name, "Local\\nubo-commit-%08lx-%08lx%08lx",
                  static_cast<unsigned long>(info.dwVolumeSerialNumber), static_cast<unsigned long>(info.nFileIndexHigh),
                  static_cast<unsigned long>(info.nFileIndexLow));
    mutex_ = ::CreateMutexA(nullptr, FALSE, name);  // an ASCII name
    if (mutex_ == nullptr) return;
    // WAIT_ABANDONED: a process died holding it; the lock is ours all the same.
    const DWORD r = ::WaitForSingleObject(mutex_, INFINITE);
    locked_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
  }
  ~DirectoryLock() {
    if (locked_) ::ReleaseMutex(mutex_);
    if (mutex_ != nullptr) ::CloseHandle(mutex_);
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  HANDLE mutex_ = nullptr;
  bool locked_ = false;
};

std::string directoryOf(const std::string& path) {
  const size_t slash = lastSeparator(path);
  if (slash == std::string::npos) return ".";
  return nativePath(path.substr(0, slash));
}

bool existsError(DWORD e) { return e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS; }

HANDLE handleOf(std::FILE* stream) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))); }

}  // namespace

FileStatus fileStatus(const std::string& path) {
  const std::string native = nativePath(path);
  FileStatus status;
  HANDLE h = openForQuery(native);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD openError = ::GetLastError();
    if (isMissingError(openError)) {
      // A symbolic link or junction whose target is missing: what is there
      // is the link itself, with its own identity.
      const DWORD attributes = ::GetFileAttributesW(wide(native).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        status.kind = FileKind::DanglingLink;
        status.error = errorText(openError);
        HANDLE link = openForQuery(native, FILE_FLAG_OPEN_REPARSE_POINT);
        BY_HANDLE_FILE_INFORMATION info {};
        if (link != INVALID_HANDLE_VALUE) {
          if (::GetFileInformationByHandle(link, &info)) {
            status.device = info.dwVolumeSerialNumber;
            status.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
          }
          ::CloseHandle(link);
        }
      }
      return status;
    }
    status.kind = FileKind::Error;
    status.error = errorText(openError);
    return status;
  }
  status = statusOfHandle(h, native);
  ::CloseHandle(h);
  return status;
}

bool findEntries(const std::string& directory, const std::string& pattern, std::vector<DirectoryEntry>& entries,
                 std::string& error) {
  entries.clear();
  const std::string base = nativePath(directory);
  const std::string prefix = isPathSeparator(base.back()) ? base : base + "\\";
  // Every name is listed and matched here rather than by the system: its
  // own matching also tries each file's short 8.3 name, so that "*.NAB"
  // would find "take.nabx" (short name TAKE~1.NAB). FindExInfoBasic leaves
  // the short names out.
  WIN32_FIND_DATAW found {};
  HANDLE h = ::FindFirstFileExW(wide(prefix + "*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = ::GetLastError();
    // A root directory has no "." entry: when it is empty, the search finds
    // nothing at all. Anything else is a failure.
    if (e == ERROR_FILE_NOT_FOUND && fileStatus(base).kind == FileKind::Directory) return true;
    error = errorText(e == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : e);
    return false;
  }
  for (;;) {
    const std::string name = utf8(found.cFileName, std::wcslen(found.cFileName));
    if (name != "." && name != ".." && matchesPattern(pattern, name)) {
      // Links followed: a link to a directory counts as a directory, and is
      // marked as a link. Symbolic links and junctions are name surrogates;
      // other reparse points (files kept in the cloud, deduplicated files)
      // are the files themselves.
      DirectoryEntry entry{name, fileStatus(prefix + name)};
      entry.link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                   IsReparseTagNameSurrogate(found.dwReserved0);
      entries.push_back(std::move(entry));
    }
    if (!::FindNextFileW(h, &found)) {
      const DWORD e = ::GetLastError();
      ::FindClose(h);
      if (e == ERROR_NO_MORE_FILES) break;
      error = errorText(e);
      entries.clear();
      return false;
    }
  }
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  return true;
}

bool createDirectory(const std::string& path, std::string& error) {
  if (::CreateDirectoryW(wide(path).c_str(), nullptr)) return true;
  error = errorText(::GetLastError());
  return false;
}

bool sameFile(const std::string& a, const std::string& b) {
  const FileStatus sa = fileStatus(a);
  const FileStatus sb = fileStatus(b);
  return sa.kind != FileKind::DanglingLink && sa.sameFileAs(sb);
}

std::string systemReason(int errorNumber) {
  // The C runtime's strerror keeps its text per thread.
  const char* text = std::strerror(errorNumber);
  return text != nullptr ? text : "Unknown error " + std::to_string(errorNumber);
}

bool createTemporaryFile(const std::string& finalPath, std::string& tempPath, std::FILE*& stream, int& errorNumber,
                         std::string& error) {
  stream = nullptr;
  const size_t slash = lastSeparator(finalPath);
  const std::string prefix = slash == std::string::npos ? "" : finalPath.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
  if (name.empty()) {
    errorNumber = EISDIR;
    error = systemReason(errorNumber);
    return false;
  }
  const std::string stem = temporaryStem(prefix, name);
  // Each attempt draws fresh random characters; an existing name (a leftover
  // of an earlier run, or another process's file) only means "try another".
  // While it is written, no other opener may write, rename or delete the
  // file; reading it is allowed (the verify pass of encode --verify reads it
  // back through a second handle).
  constexpr int kAttempts = 100;
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD createError = 0;
  std::string candidate;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    candidate = prefix + "." + stem + "." + names::randomCharacters(randomBits()) + kTemporarySuffix;
    h = ::CreateFileW(wide(candidate).c_str(), GENERIC_WRITE | GENERIC_READ, FILE_SHARE_READ, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) break;
    createError = ::GetLastError();
    if (!existsError(createError)) break;
  }
  if (h == INVALID_HANDLE_VALUE) {
    errorNumber = errnoOf(createError);
    error = errorText(createError);
    return false;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  stream = fd >= 0 ? ::_fdopen(fd, "wb") : nullptr;
  if (stream == nullptr) {
    errorNumber = errno != 0 ? errno : EMFILE;
    error = systemReason(errorNumber);
    if (fd >= 0) ::_close(fd); else ::CloseHandle(h);
    ::DeleteFileW(wide(candidate).c_str());  // the empty file this call just made
    return false;
  }
  tempPath = candidate;
  return true;
}

bool syncFile(std::FILE* stream, std::string& error) {
  if (std::fflush(stream) != 0) {
    error = systemReason(errno);
    return false;
  }
  if (!::FlushFileBuffers(handleOf(stream))) {
    error = errorText(::GetLastError());
    return false;
  }
  return true;
}

bool copyTimesAndMode(std::FILE* stream, const std::string& source, std::string& error) {
  if (std::fflush(stream) != 0) {
    error = systemReason(errno);
    return false;
  }
  WIN32_FILE_ATTRIBUTE_DATA input {};
  if (!::GetFileAttributesExW(wide(nativePath(source)).c_str(), GetFileExInfoStandard, &input)) {
    error = errorText(::GetLastError());
    return false;
  }
  // The Windows counterpart of the permission bits are the attributes that
  // say what may be done with the file: read-only, hidden, system, archive.
  // The three times go with them (creation too: the output is the same
  // recording). Access rights (the ACL) are the output directory's, as for
  // every new file there.
  constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
  FILE_BASIC_INFO info {};
  info.CreationTime.LowPart = input.ftCreationTime.dwLowDateTime;
  info.CreationTime.HighPart = static_cast<LONG>(input.ftCreationTime.dwHighDateTime);
  info.LastAccessTime.LowPart = input.ftLastAccessTime.dwLowDateTime;
  info.LastAccessTime.HighPart = static_cast<LONG>(input.ftLastAccessTime.dwHighDateTime);
  info.LastWriteTime.LowPart = input.ftLastWriteTime.dwLowDateTime;
  info.LastWriteTime.HighPart = static_cast<LONG>(input.ftLastWriteTime.dwHighDateTime);
  info.ChangeTime = info.LastWriteTime;
  const DWORD attributes = input.dwFileAttributes & kKept;
  info.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileInformationByHandle(handleOf(stream), FileBasicInfo, &info, sizeof info)) {
    error = errorText(::GetLastError());
    return false;
  }
  return true;
}

bool giveDefaultMode(std::FILE* stream, std::string& error) {
  // A new file's attributes: none of read-only, hidden or system.
  FILE_BASIC_INFO info {};  // zero times: left as they are
  info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (std::fflush(stream) != 0) {
    error = systemReason(errno);
    return false;
  }
  if (!::SetFileInformationByHandle(handleOf(stream), FileBasicInfo, &info, sizeof info)) {
    error = errorText(::GetLastError());
    return false;
  }
  return true;
}

CommitResult commitFile(const std::string& tempPath, const std::string& finalPath, bool replace,
                        const FileStatus& expected, bool sync, std::string& error) {
  error.clear();
  // With sync, MOVEFILE_WRITE_THROUGH returns only when the rename is on the
  // disk: the counterpart of forcing the directory to the disk.
  const DWORD through = sync ? MOVEFILE_WRITE_THROUGH : 0;
  if (!replace || expected.kind == FileKind::Missing) {
    // Nothing may be replaced. A rename without MOVEFILE_REPLACE_EXISTING
    // fails when the final name exists, atomically, also for a file that
    // appeared a moment ago. The lock orders it against the locked
    // replacements of other processes.
    std::optional<DirectoryLock> lock;
    if (replace) lock.emplace(directoryOf(finalPath));
    if (::MoveFileExW(wide(tempPath).c_str(), wide(finalPath).c_str(), through)) return CommitResult::Committed;
    const DWORD e = ::GetLastError();
    if (existsError(e)) return replace ? CommitResult::OutputChanged : CommitResult::OutputExists;
    error = errorText(e);
    return CommitResult::Failed;
  }
  DirectoryLock lock(directoryOf(finalPath));
  const FileStatus now = fileStatus(finalPath);
  if (now.kind == FileKind::Error) {
    error = now.error;
    return CommitResult::Failed;
  }
  if (!now.sameFileAs(expected)) return CommitResult::OutputChanged;
  // A read-only output is one its owner protected: Windows refuses to
  // replace it, and so does this layer before asking (Wine would replace it).
  const DWORD attributes = ::GetFileAttributesW(wide(nativePath(finalPath)).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    error = errorText(ERROR_ACCESS_DENIED) + " (the file is read-only)";
    return CommitResult::Failed;
  }
  if (::MoveFileExW(wide(tempPath).c_str(), wide(finalPath).c_str(), MOVEFILE_REPLACE_EXISTING | through)) {
    return CommitResult::Committed;
  }
  // A file that another program holds open without sharing its deletion is
  // not replaced either: Windows refuses, and the old file stays.
  error = errorText(::GetLastError());
  return CommitResult::Failed;
}

bool openRegularFile(const std::string& path, std::FILE*& stream, int& errorNumber, std::string& error) {
  stream = nullptr;
  // Others may go on reading, writing, renaming or deleting the file, as on
  // POSIX. A directory cannot be opened as a file at all; a device or a
  // pipe can, and is refused by its type before anything is read (nothing
  // waits on it).
  const std::string native = nativePath(path);
  const DWORD attributes = ::GetFileAttributesW(wide(native).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errorNumber = 0;
    error = "not a regular file";
    return false;
  }
  HANDLE h = ::CreateFileW(wide(native).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = ::GetLastError();
    errorNumber = errnoOf(e);
    error = errorText(e);
    return false;
  }
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    errorNumber = 0;
    error = "not a regular file";
    return false;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  stream = fd >= 0 ? ::_fdopen(fd, "rb") : nullptr;
  if (stream == nullptr) {
    errorNumber = errno != 0 ? errno : EMFILE;
    error = systemReason(errorNumber);
    if (fd >= 0) ::_close(fd); else ::CloseHandle(h);
    return false;
  }
  return true;
}

int onlineProcessors() {
  const DWORD n = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  return n > 0 ? static_cast<int>(n) : 1;
}

std::FILE* duplicateStandardStream(bool output) {
  const int fd = ::_dup(output ? 1 : 0);
  if (fd < 0) return nullptr;
  // Binary: the C runtime would otherwise write CR LF for every line feed
  // and stop reading at a Ctrl-Z byte.
  ::_setmode(fd, _O_BINARY);
  std::FILE* stream = ::_fdopen(fd, output ? "wb" : "rb");
  if (stream == nullptr) ::_close(fd);
  return stream;
}

int64_t regularFileSize(std::FILE* stream) {
  if (stream == nullptr) return -1;
  HANDLE h = handleOf(stream);
  if (h == INVALID_HANDLE_VALUE || ::GetFileType(h) != FILE_TYPE_DISK) return -1;
  BY_HANDLE_FILE_INFORMATION info {};
  if (!::GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
}

std::FILE* openFile(const std::string& path, const char* mode) {
  return ::_wfopen(wide(nativePath(path)).c_str(), wide(mode).c_str());
}

bool removeFile(const std::string& path) { return ::DeleteFileW(wide(nativePath(path)).c_str()) != 0; }

namespace {
UINT gConsoleCodePage = 0;  // the console's output code page before the program's start
void restoreConsoleCodePage() { ::SetConsoleOutputCP(gConsoleCodePage); }
}  // namespace

std::vector<std::string> programArguments(int argc, char** argv) {
  // main's argv is in the ANSI code page, where a name such as 音声.wav is
  // already "??.wav": the arguments are taken from the wide command line.
  std::vector<std::string> arguments;
  int n = 0;
  wchar_t** wideArguments = ::CommandLineToArgvW(::GetCommandLineW(), &n);
  if (wideArguments != nullptr) {
    for (int i = 0; i < n; ++i) arguments.push_back(utf8(wideArguments[i], std::wcslen(wideArguments[i])));
    ::LocalFree(wideArguments);
  } else {
    arguments.assign(argv, argv + argc);
  }
  // A console shows UTF-8 as it is written (the program writes UTF-8
  // bytes); its code page is put back at the end, as the console is the
  // user's. A pipe or a file gets the bytes unchanged.
  DWORD mode = 0;
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  if ((::GetConsoleMode(out, &mode) || ::GetConsoleMode(err, &mode)) && gConsoleCodePage == 0) {
    gConsoleCodePage = ::GetConsoleOutputCP();
    if (gConsoleCodePage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) std::atexit(restoreConsoleCodePage);
  }
  return arguments;
}

// std::thread of mingw-w64's posix thread model is a winpthreads thread,
// itself started with _beginthreadex (CreateThread with the C runtime's
// per-thread state set up), which the worker's stdio needs.
std::thread startThread(std::function<void()> work) { return std::thread(std::move(work)); }

}  // namespace nubo::platform
