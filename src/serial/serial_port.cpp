#include "serial/serial_port.h"

#include "serial/network_port.h"

namespace kelvo {

SerialPort::SerialPort() = default;
SerialPort::~SerialPort() {
  Close();
}
SerialPort::SerialPort(SerialPort&& other) noexcept = default;

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
  if (this != &other) {
    Close();
    native_ = std::move(other.native_);
    network_ = std::move(other.network_);
    error_ = other.error_;
    failure_cause_ = std::move(other.failure_cause_);
    tap_ = other.tap_;
  }
  return *this;
}

bool SerialPort::IsOpen() const {
  return native_ != nullptr || network_ != nullptr;
}

bool SerialPort::Lost() const {
  return network_ ? network_->Lost() : LineLost();
}

std::size_t SerialPort::Read(std::span<std::uint8_t> buffer) {
  if (!IsOpen() || buffer.empty()) return 0;
  const std::size_t got = network_ ? network_->Read(buffer) : ReadLine(buffer);
  if (tap_ && got > 0) tap_->OnBytes(PortTap::Direction::kReceived, buffer.first(got));
  return got;
}

std::size_t SerialPort::Write(std::span<const std::uint8_t> bytes) {
  if (!IsOpen() || bytes.empty()) return 0;
  const std::size_t sent = network_ ? network_->Write(bytes) : WriteLine(bytes);
  if (tap_ && sent > 0) tap_->OnBytes(PortTap::Direction::kSent, bytes.first(sent));
  return sent;
}

// The network's own stack sends what is still queued once the socket is closed.
void SerialPort::Close() {
  network_.reset();
  CloseLine();
}

}  // namespace kelvo
