#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "serial/serial_port.h"

namespace kelvo::cli {

// Writes the port's traffic to a file as it happens, one line per burst:
//   "   1234 ms -> 05 41 BE 00 20" (to the device) or "   1290 ms <- 06" (from it),
// timed from the file's creation. Each line is flushed, so a trace survives a hard stop.
class TraceFile : public PortTap {
 public:
  // Returns nullptr, with the reason in why, when the file cannot be written; the file being
  // sent is never overwritten.
  static std::unique_ptr<TraceFile> Create(const std::string& path, const std::string& sent,
                                           std::string& why);
  ~TraceFile() override;

  void OnBytes(Direction direction, std::span<const std::uint8_t> bytes) override;

 private:
  explicit TraceFile(std::FILE* file);

  std::FILE* file_;
  std::chrono::steady_clock::time_point start_;
};

// The trace of one port among several: the port's name goes into the file's name, before its
// extension ("trace.txt" for USB0 is "trace-USB0.txt").
std::string TracePathFor(const std::string& path, const std::string& port);

}  // namespace kelvo::cli
