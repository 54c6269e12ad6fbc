#include "device_record.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "image/output_file.h"
#include "image/printf_text.h"
#include "image/utf8_sequence.h"

namespace kelvo::cli {
namespace {

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t sequence = byte < 0x80 ? 0 : Utf8SequenceLength(text.substr(i));
    if (sequence > 0) {
      json.append(text.substr(i, sequence));
      i += sequence;
      continue;
    }
    if (byte == '"' || byte == '\\') {
      json += '\\';
      json += static_cast<char>(byte);
    } else if (byte < 0x20 || byte >= 0x7F) {
      json += Printf("\\u%04x", byte);
    } else {
      json += static_cast<char>(byte);
    }
    ++i;
  }
  return json + "\"";
}

std::string UtcTime(std::chrono::system_clock::time_point at) {
  const auto second = std::chrono::floor<std::chrono::seconds>(at);
  const auto day = std::chrono::floor<std::chrono::days>(second);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss time(second - day);
  return Printf("%04d-%02u-%02uT%02ld:%02ld:%02ldZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                static_cast<long>(time.seconds().count()));
}

const char* OutcomeWord(TransferOutcome outcome) {
  switch (outcome) {
    case TransferOutcome::kComplete:
      return "complete";
    case TransferOutcome::kHalted:
      return "halted";
    case TransferOutcome::kFailed:
      break;
  }
  return "failed";
}

}  // namespace

std::string RecordLine(const DeviceRecord& record, const std::string& version) {
  return "{\"time\":\"" + UtcTime(record.end) + "\",\"port\":" + JsonString(record.port) +
         ",\"file\":" + JsonString(record.file) + ",\"size\":" + std::to_string(record.size) +
         ",\"sha256\":" + (record.sha256.empty() ? "null" : JsonString(record.sha256)) +
         ",\"outcome\":\"" + OutcomeWord(record.outcome) +
         "\",\"blocks\":" + std::to_string(record.blocks) +
         ",\"errors\":" + std::to_string(record.errors) +
         ",\"seconds\":" + Printf("%.3f", record.seconds) + ",\"version\":" + JsonString(version) +
         "}\n";
}

std::unique_ptr<RecordFile> RecordFile::Open(const std::string& path, const std::string& sent,
                                             std::string& why) {
  std::FILE* file = OpenOutputFile(path, {sent}, why, OutputMode::kAppend);
  return file ? std::unique_ptr<RecordFile>(new RecordFile(file, path)) : nullptr;
}

RecordFile::~RecordFile() {
  std::fclose(file_);
}

bool RecordFile::Append(const std::string& line, std::string& why) {
  const std::lock_guard lock(mutex_);
  if (AppendWhole(file_, line)) return true;
  why = path_ + ": " + std::strerror(errno);
  return false;
}

}  // namespace kelvo::cli
