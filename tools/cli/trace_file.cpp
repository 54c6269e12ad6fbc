#include "trace_file.h"

#include <cerrno>
#include <cstring>

namespace kelvo::cli {

std::unique_ptr<TraceFile> TraceFile::Create(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (!file) {
    error = std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<TraceFile>(new TraceFile(file));
}

TraceFile::TraceFile(std::FILE* file) : file_(file), start_(std::chrono::steady_clock::now()) {}

TraceFile::~TraceFile() {
  std::fclose(file_);
}

void TraceFile::OnBytes(Direction direction, std::span<const std::uint8_t> bytes) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start_)
                      .count();
  std::fprintf(file_, "%7lld ms %s", static_cast<long long>(ms),
               direction == Direction::kSent ? "->" : "<-");
  for (const std::uint8_t byte : bytes) std::fprintf(file_, " %02X", byte);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace kelvo::cli
