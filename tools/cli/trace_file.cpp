#include "trace_file.h"

#include <cctype>
#include <filesystem>

#include "image/output_file.h"

namespace kelvo::cli {

std::unique_ptr<TraceFile> TraceFile::Create(const std::string& path, const std::string& sent,
                                             std::string& why) {
  std::FILE* file = OpenOutputFile(path, {sent}, why);
  return file ? std::unique_ptr<TraceFile>(new TraceFile(file)) : nullptr;
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

std::string TracePathFor(const std::string& path, const std::string& port) {
  // Only the characters every file system takes: "/dev/pts/3" gives "dev_pts_3".
  std::string name;
  for (const char c : port) {
    const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
    if (plain || !name.empty()) name += plain ? c : '_';
  }
  const std::filesystem::path file(path);
  return (file.parent_path() / (file.stem().string() + "-" + name + file.extension().string()))
      .string();
}

}  // namespace kelvo::cli
