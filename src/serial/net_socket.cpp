#include "serial/net_socket.h"

#include <utility>

namespace kelvo {

NetSocket::~NetSocket() {
  Close();
}

NetSocket::NetSocket(NetSocket&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

NetSocket& NetSocket::operator=(NetSocket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

bool NetSocket::IsOpen() const {
  return handle_ != -1;
}

}  // namespace kelvo
