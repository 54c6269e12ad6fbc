#include "image/input_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace kelvo {

std::string FileFailureCause(FileError error, const std::string& path) {
  switch (error) {
    case FileError::kNone:
      return "";
    case FileError::kNoSuchFile:
      return "no such file: " + path;
    case FileError::kFolder:
      return path + " is a folder";
    case FileError::kNotAFile:
      return path + " is not a file";
    case FileError::kPermissionDenied:
      return "permission denied on " + path;
    case FileError::kInUse:
      return path + " is being written by another program";
    case FileError::kOther:
      break;
  }
  return path + " could not be opened";
}

InputFile::~InputFile() {
  Close();
}

InputFile::InputFile(InputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), failed_(other.failed_), error_(other.error_) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    failed_ = other.failed_;
    error_ = other.error_;
  }
  return *this;
}

std::size_t InputFile::Read(std::span<std::uint8_t> buffer) {
  std::size_t got = 0;
  while (fd_ >= 0 && got < buffer.size()) {
    // In chunks that every system's read takes.
    const auto n =
        ::read(fd_, buffer.data() + got,
               static_cast<unsigned>(std::min<std::size_t>(buffer.size() - got, 1u << 20)));
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      failed_ = n < 0;
      break;
    }
  }
  return got;
}

void InputFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace kelvo
