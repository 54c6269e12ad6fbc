#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>

#include <vector>

#include "image/file_handle_win32.h"
#include "settings/link_target_win32.h"
#include "settings/replace_file.h"
#include "settings/settings_record.h"

namespace kelvo {
namespace {

bool WriteAll(HANDLE file, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written == 0) {
      return false;
    }
    bytes = bytes.subspan(written);
  }
  return true;
}

// A settings file holds no more; a bigger file planted in its place is not read in whole.
std::vector<std::uint8_t> ReadRecord(HANDLE file) {
  std::vector<std::uint8_t> bytes(kLongestSettingsRecord);
  std::size_t length = 0;
  DWORD got = 0;
  while (length < bytes.size() &&
         ::ReadFile(file, bytes.data() + length, static_cast<DWORD>(bytes.size() - length), &got,
                    nullptr) &&
         got > 0) {
    length += got;
  }
  bytes.resize(length);
  return bytes;
}

bool Rewind(HANDLE file) {
  return ::SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

std::string RewriteInPlace(const std::string& path, std::span<const std::uint8_t> bytes) {
  // A link is opened as itself and refused, and a file is made only where nothing is, so no link
  // leads the bytes elsewhere. Shared, as whoever kept the file from being replaced may still
  // hold it open.
  const auto open = [&path](DWORD disposition) {
    return ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  };
  HANDLE file = open(OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
    file = open(CREATE_NEW);
  }
  if (file == INVALID_HANDLE_VALUE) return SystemMessage(::GetLastError());
  BY_HANDLE_FILE_INFORMATION info;
  if (KindOfFile(file, info) != FileKind::kRegular) {
    ::CloseHandle(file);
    return "it is not a regular file";
  }
  const std::vector<std::uint8_t> old = ReadRecord(file);
  std::string why;
  if (!Rewind(file) || !WriteAll(file, bytes) || !::SetEndOfFile(file) ||
      !::FlushFileBuffers(file)) {
    why = SystemMessage(::GetLastError());
    if (Rewind(file) && WriteAll(file, old)) ::SetEndOfFile(file);
  }
  ::CloseHandle(file);
  return why;
}

// Wine's ReplaceFile fails on a name relative to the current folder ("KELVO.DAT"); the full
// path names the same file on every system.
std::string FullPath(const std::string& path) {
  char full[MAX_PATH];
  const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return length > 0 && length < sizeof full ? std::string(full, length) : path;
}

// Gives the file at path the temporary's bytes. ReplaceFile keeps the old file's attributes
// and access rights; a first save has none. An indexer, a virus scanner or a cloud client that
// has the file open for a moment makes it fail, so it is tried for about a second.
bool TakeTemporary(const std::string& path, const std::string& temporary) {
  constexpr int kTries = 10;  // 100 ms apart
  for (int tries = 1;; ++tries) {
    // Looked at each time: a replace that fails half-way may have removed the old file.
    const bool replaced =
        ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES
            ? ::ReplaceFileA(path.c_str(), temporary.c_str(), nullptr,
                             REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
            : ::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH);
    if (replaced || tries == kTries) return replaced;
    ::Sleep(100);
  }
}

// A name beside path that no other user can foresee and plant a link at: 64 random bits.
std::string TemporaryName(const std::string& path) {
  std::uint8_t random[8];
  if (::BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
    return "";
  }
  std::string name = path + ".";
  for (const std::uint8_t byte : random) {
    name += "0123456789abcdef"[byte >> 4];
    name += "0123456789abcdef"[byte & 15];
  }
  return name + ".tmp";
}

// Never opens a file that was already there: whatever waits at the name is another's.
HANDLE CreateTemporary(const std::string& path, std::string& temporary) {
  constexpr int kTries = 4;
  for (int tries = 0; tries < kTries; ++tries) {
    temporary = TemporaryName(path);
    if (temporary.empty()) break;
    const HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

std::string ReplaceFileContents(const std::string& name, std::span<const std::uint8_t> bytes) {
  std::string path = FullPath(name);
  // From here path is the file that takes the bytes, and its folder the temporary's.
  const std::string refused = FollowTrustedLink(path);
  if (!refused.empty()) return refused;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  // A replace needs only the folder's permission; it must not defeat a read-only file.
  if (exists && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return SystemMessage(ERROR_ACCESS_DENIED);
  }

  std::string temporary;
  const HANDLE file = CreateTemporary(path, temporary);
  if (file == INVALID_HANDLE_VALUE) return RewriteInPlace(path, bytes);
  // Flushed before the replace, so that after a crash the name holds either the old or the
  // new bytes, never an empty file.
  std::string why;
  if (!WriteAll(file, bytes) || !::FlushFileBuffers(file)) why = SystemMessage(::GetLastError());
  ::CloseHandle(file);
  if (why.empty() && TakeTemporary(path, temporary)) return "";
  ::DeleteFileA(temporary.c_str());
  return why.empty() ? RewriteInPlace(path, bytes) : why;
}

}  // namespace kelvo
