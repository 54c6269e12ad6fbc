#include "transfer/input_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace kelvo {

InputFile::~InputFile() {
  Close();
}

InputFile::InputFile(InputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), failed_(other.failed_) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    failed_ = other.failed_;
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
