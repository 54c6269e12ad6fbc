#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "transfer/transfer_context.h"

namespace kelvo::cli {

// One device's transfer, as --record keeps it.
struct DeviceRecord {
  std::chrono::system_clock::time_point end;  // when the transfer ended
  std::string port;                           // as the transfer named it
  std::string file;                           // as given
  std::uint64_t size = 0;                     // of the file's bytes as read
  std::string sha256;                         // of the same; empty when they could not be read
  TransferOutcome outcome = TransferOutcome::kFailed;
  long blocks = 0;  // gone through, blank ones included: the progress's "block N / M"
  long errors = 0;  // blocks sent again
  double seconds = 0;
};

// The record as one line of JSON: {"time":"2025-05-01T08:30:12Z","port":"USB0",...} and a line
// feed. Strings keep their UTF-8; a byte that is no part of UTF-8 is read as Latin-1.
std::string RecordLine(const DeviceRecord& record, const std::string& version);

// The --record file: each line is added at its end and is on the disk before Append returns, so
// a power cut loses no device already done. Safe to call from every port's thread.
class RecordFile {
 public:
  // nullptr, with why, when the file may not be written; the file being sent never is.
  static std::unique_ptr<RecordFile> Open(const std::string& path, const std::string& sent,
                                          std::string& why);
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // False, with why, when the line could not be written and kept.
  bool Append(const std::string& line, std::string& why);

 private:
  RecordFile(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}

  std::mutex mutex_;
  std::FILE* file_;
  const std::string path_;
};

}  // namespace kelvo::cli
