#include "device_record.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "image/output_file.h"
#include "image/printf_text.h"

namespace kelvo::cli {
namespace {

// The length of the UTF-8 sequence text begins with, or 0 when it begins with none: a stray
// continuation byte, a sequence cut short, too long for its value, or a surrogate.
std::size_t Utf8Length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  std::size_t length = 0;
  std::uint32_t value = 0;
  if (byte(0) >= 0xC2 && byte(0) <= 0xDF) {
    length = 2;
    value = byte(0) & 0x1Fu;
  } else if (byte(0) >= 0xE0 && byte(0) <= 0xEF) {
    length = 3;
    value = byte(0) & 0x0Fu;
  } else if (byte(0) >= 0xF0 && byte(0) <= 0xF4) {
    length = 4;
    value = byte(0) & 0x07u;
  }
  if (length == 0 || text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = value << 6 | (byte(i) & 0x3Fu);
  }
  const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
  if (overlong || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return length;
}

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t sequence = byte < 0x80 ? 0 : Utf8Length(text.substr(i));
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
