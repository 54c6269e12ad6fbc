#include "simulator/device_protocol.h"

#include <cstdio>
#include <numeric>
#include <utility>

namespace kelvo {
namespace {

std::size_t FrameLength(std::uint8_t first_byte) {
  switch (first_byte) {
    case kLeadIn:
      return kCommandFrameSize;
    case kSoh:
      return kDataPacketSize;
    default:
      return 1;
  }
}

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

}  // namespace

DeviceProtocol::DeviceProtocol(DeviceFaults& faults)
    : faults_(faults), memory_(ZarqSimulator::kMemoryBytes, 0xFF) {}

std::vector<std::uint8_t> DeviceProtocol::StartSession() {
  address_ = kFirstLoadAddress;
  last_stored_.reset();
  faults_.StartSession();
  if (!faults_.Answers()) return {};
  return {faults_.HandshakeByte()};
}

std::vector<std::uint8_t> DeviceProtocol::Take(std::uint8_t byte) {
  frame_.push_back(byte);
  if (frame_.size() < FrameLength(frame_.front())) return {};
  std::vector<std::uint8_t> reply;
  switch (frame_.front()) {
    case kLeadIn:
      reply = HandleCommand();
      break;
    case kSoh:
      reply = HandlePacket();
      break;
    case kEot:
      eot_count_.fetch_add(1);
      board_loaded_ = board_loaded_ || board_stored_;
      if (faults_.Answers()) reply = {kAck};
      AddRecord(ReceivedFrame::Kind::kEot, faults_.Answers(), "EOT: " + Verdict(faults_.Answers()));
      break;
    default:
      AddRecord(ReceivedFrame::Kind::kOther, false, "stray byte " + Hex(frame_.front(), 2));
      break;
  }
  frame_.clear();
  return reply;
}

void DeviceProtocol::DropFrame() {
  frame_.clear();
}

std::vector<std::uint8_t> DeviceProtocol::NextBoard() {
  {
    const std::lock_guard lock(mutex_);
    loaded_boards_.push_back(
        std::exchange(memory_, std::vector<std::uint8_t>(ZarqSimulator::kMemoryBytes, 0xFF)));
  }
  board_stored_ = false;
  board_loaded_ = false;
  return StartSession();
}

std::vector<std::uint8_t> DeviceProtocol::HandleCommand() {
  const std::uint8_t code = frame_[1];
  const std::uint16_t argument = static_cast<std::uint16_t>(frame_[3] | frame_[4] << 8);
  std::string line = "command ";
  bool valid = false;
  if (frame_[2] != 0xFF - code) {
    line += Hex(code, 2) + " with a bad complement " + Hex(frame_[2], 2);
  } else if (code == SetAddressCommand) {
    line += "SetAddress " + Hex(argument, 4);
    valid = true;
  } else if (code == EraseCommand) {
    line += "Erase " + Hex(argument, 4);
    valid = true;
  } else {
    line += "of unknown code " + Hex(code, 2);
  }
  const bool refused = valid && faults_.RefusesCommand(code);
  const bool accepted = faults_.Answers() && valid && !refused;
  if (accepted && code == SetAddressCommand) {
    address_ = argument;
    last_stored_.reset();
  }
  if (accepted && code == EraseCommand) Erase(argument);
  line += ": " + Verdict(accepted);
  if (refused) line += " (refused on request)";
  AddRecord(ReceivedFrame::Kind::kCommand, accepted, std::move(line));
  if (!faults_.Answers()) return {};
  return faults_.CommandReply({accepted ? kAck : kNak});
}

std::vector<std::uint8_t> DeviceProtocol::HandlePacket() {
  const std::uint8_t number = frame_[1];
  const auto data = std::span<const std::uint8_t>(frame_).subspan(3, kBlockSize);
  // Summed here rather than with the program's own helper, so that the device checks the
  // program instead of agreeing with it.
  const auto checksum = static_cast<std::uint8_t>(std::accumulate(data.begin(), data.end(), 0u));
  std::string why;
  if (frame_[2] != 0xFF - number) {
    why = "bad complement";
  } else if (frame_[kDataPacketSize - 1] != checksum) {
    why = "bad checksum";
  } else {
    why = faults_.RefusePacket(number);
  }
  const bool accepted = faults_.Answers() && why.empty();
  // As an XMODEM receiver does: the block last stored, sent again because its ACK came too
  // late for the program, is acknowledged and not stored twice.
  const bool repeat = accepted && last_stored_ == number;
  std::string line = "packet block " + std::to_string(number);
  if (accepted && !repeat) {
    line += " at " + Hex(address_, 4);
    Store(address_, data);
    address_ = static_cast<std::uint16_t>(address_ + kAddressUnitsPerBlock);
    last_stored_ = number;
    board_stored_ = true;
    faults_.BlockStored();
  }
  if (repeat) why = "repeat, not stored";
  line += ": " + Verdict(accepted);
  if (!why.empty()) line += " (" + why + ")";
  AddRecord(ReceivedFrame::Kind::kPacket, accepted, std::move(line));
  if (!faults_.Answers()) return {};
  // Any bytes may precede the verdict; an echo of the packet is as good as any.
  std::vector<std::uint8_t> reply(frame_);
  reply.push_back(accepted ? kAck : kNak);
  return faults_.PacketReply(std::move(reply));
}

std::string DeviceProtocol::Verdict(bool accepted) const {
  if (!faults_.Answers()) return "not answered";
  return accepted ? "ACK" : "NAK";
}

void DeviceProtocol::AddRecord(ReceivedFrame::Kind kind, bool accepted, std::string line) {
  {
    const std::lock_guard lock(mutex_);
    records_.push_back({{kind, frame_, accepted}, std::move(line)});
  }
  recorded_.notify_all();
}

void DeviceProtocol::Store(std::uint16_t address, std::span<const std::uint8_t> data) {
  const std::lock_guard lock(mutex_);
  const std::size_t offset = std::size_t{address} * ZarqSimulator::kAddressUnitBytes;
  // Addresses past the end wrap, as on a 20-bit address bus.
  for (std::size_t i = 0; i < data.size(); ++i) {
    memory_[(offset + i) % ZarqSimulator::kMemoryBytes] = data[i];
  }
}

void DeviceProtocol::Erase(std::uint16_t address) {
  const std::lock_guard lock(mutex_);
  const std::size_t offset = std::size_t{address} * ZarqSimulator::kAddressUnitBytes;
  const std::size_t length = std::size_t{kEraseRegionUnits} * ZarqSimulator::kAddressUnitBytes;
  for (std::size_t i = 0; i < length; ++i)
    memory_[(offset + i) % ZarqSimulator::kMemoryBytes] = 0xFF;
}

std::vector<std::uint8_t> DeviceProtocol::Memory() const {
  const std::lock_guard lock(mutex_);
  return memory_;
}

std::vector<ReceivedFrame> DeviceProtocol::Frames() const {
  const std::lock_guard lock(mutex_);
  std::vector<ReceivedFrame> frames;
  frames.reserve(records_.size());
  for (const Record& record : records_) frames.push_back(record.frame);
  return frames;
}

std::vector<std::string> DeviceProtocol::FrameLog() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  lines.reserve(records_.size());
  for (const Record& record : records_) lines.push_back(record.line);
  return lines;
}

std::vector<std::vector<std::uint8_t>> DeviceProtocol::TakeLoadedBoards() {
  const std::lock_guard lock(mutex_);
  return std::exchange(loaded_boards_, {});
}

bool DeviceProtocol::AwaitFrames(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return recorded_.wait_for(lock, limit, [&] { return records_.size() >= count; });
}

}  // namespace kelvo
