#include "serial/serial_port.h"

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
    error_ = other.error_;
    failure_cause_ = std::move(other.failure_cause_);
    tap_ = other.tap_;
  }
  return *this;
}

bool SerialPort::IsOpen() const {
  return native_ != nullptr;
}

}  // namespace kelvo
