#include "settings/link_target_win32.h"

#include <aclapi.h>
#include <windows.h>

#include <cstdint>

#include "image/file_handle_win32.h"

namespace kelvo {
namespace {

bool IsProcessUser(PSID sid) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(TOKEN_USER) std::uint8_t user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  const bool same = ::GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                    ::EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
  ::CloseHandle(token);
  return same;
}

// Another local user may plant a link in a shared folder to make the save write where they
// choose; only the user and those who could write anywhere anyway are trusted.
bool OwnedByUserOrSystem(const std::string& path) {
  const HANDLE link = ::CreateFileA(
      path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (link == INVALID_HANDLE_VALUE) return false;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const bool trusted = ::GetSecurityInfo(link, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                         nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
                       (::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                        ::IsWellKnownSid(owner, WinLocalSystemSid) || IsProcessUser(owner));
  ::LocalFree(descriptor);
  ::CloseHandle(link);
  return trusted;
}

}  // namespace

std::string FollowTrustedLink(std::string& path) {
  // Of a link, the link's own attributes; none when there is nothing at path yet.
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return "";
  const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (link && !OwnedByUserOrSystem(path)) {
    return "it is a link owned by another user";
  }
  const HANDLE file =
      ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return link && missing ? "it is a link to no file" : SystemMessage(error);
  }
  std::string target(MAX_PATH, '\0');
  DWORD length = ::GetFinalPathNameByHandleA(file, target.data(), MAX_PATH, FILE_NAME_NORMALIZED);
  if (length >= target.size()) {  // too small: length is the size it needs
    target.resize(length);
    length = ::GetFinalPathNameByHandleA(file, target.data(), length, FILE_NAME_NORMALIZED);
  }
  const DWORD error = ::GetLastError();
  ::CloseHandle(file);
  if (length == 0 || length >= target.size()) return SystemMessage(error);
  path = target.substr(0, length);
  return "";
}

}  // namespace kelvo
