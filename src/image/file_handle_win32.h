#pragma once

#include <windows.h>

#include <string>

namespace kelvo {

// The system's own words for a Win32 error code, without the closing period.
std::string SystemMessage(DWORD error);

enum class FileKind { kRegular, kLink, kOther };

// What an open handle is: a plain file on a disk, a link opened as itself (a reparse point), or
// anything else (a folder, a pipe, a device). info gets the file's volume, index and attributes.
FileKind KindOfFile(HANDLE file, BY_HANDLE_FILE_INFORMATION& info);

}  // namespace kelvo
