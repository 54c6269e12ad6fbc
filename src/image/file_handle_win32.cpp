#include "image/file_handle_win32.h"

namespace kelvo {

std::string SystemMessage(DWORD error) {
  char text[256] = {};
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
  std::string why(text, length);
  while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == '.')) {
    why.pop_back();
  }
  return why.empty() ? "error " + std::to_string(error) : why;
}

FileKind KindOfFile(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
  // A pipe or a device has no file information: it is not a regular file either way.
  if (!::GetFileInformationByHandle(file, &info)) return FileKind::kOther;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return FileKind::kLink;
  return ::GetFileType(file) == FILE_TYPE_DISK &&
                 (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0
             ? FileKind::kRegular
             : FileKind::kOther;
}

}  // namespace kelvo
