#include "serial/telnet.h"

#include <initializer_list>

namespace kelvo {

using namespace telnet;

namespace {

constexpr std::uint32_t kLoaderBaudRate = 9600;

void AppendComPortRequest(std::uint8_t command, std::initializer_list<std::uint8_t> value,
                          std::vector<std::uint8_t>& wire) {
  wire.insert(wire.end(), {kIac, kSb, kComPort, command});
  AppendEscaped(value, wire);
  wire.insert(wire.end(), {kIac, kSe});
}

bool Wanted(std::uint8_t verb, std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || (verb == kDo && option == kComPort);
}

}  // namespace

void AppendEscaped(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& wire) {
  for (const std::uint8_t byte : data) {
    wire.push_back(byte);
    if (byte == kIac) wire.push_back(kIac);
  }
}

std::size_t DataBytesIn(std::span<const std::uint8_t> data, std::size_t wire_count) {
  std::size_t count = 0;
  for (std::size_t wire = 0; count < data.size(); ++count) {
    wire += data[count] == kIac ? 2 : 1;
    if (wire > wire_count) break;
  }
  return count;
}

std::vector<std::uint8_t> LoaderLineRequests() {
  std::vector<std::uint8_t> wire = {kIac, kWill, kBinary,          kIac, kDo, kBinary,
                                    kIac, kWill, kSuppressGoAhead, kIac, kDo, kSuppressGoAhead,
                                    kIac, kWill, kComPort};
  AppendComPortRequest(
      kSetBaudRate,
      {static_cast<std::uint8_t>(kLoaderBaudRate >> 24),
       static_cast<std::uint8_t>(kLoaderBaudRate >> 16),
       static_cast<std::uint8_t>(kLoaderBaudRate >> 8), static_cast<std::uint8_t>(kLoaderBaudRate)},
      wire);
  AppendComPortRequest(kSetDataSize, {8}, wire);
  AppendComPortRequest(kSetParity, {1}, wire);
  AppendComPortRequest(kSetStopSize, {1}, wire);
  AppendComPortRequest(kSetControl, {1}, wire);
  AppendComPortRequest(kSetControl, {14}, wire);
  AppendComPortRequest(kPurgeData, {3}, wire);
  return wire;
}

void TelnetReader::Take(std::span<const std::uint8_t> wire, std::vector<std::uint8_t>& data,
                        std::vector<std::uint8_t>& replies) {
  for (const std::uint8_t byte : wire) {
    switch (state_) {
      case State::kData:
        if (byte == kIac) {
          state_ = State::kCommand;
        } else if (purge_answered_) {
          data.push_back(byte);
        }
        break;
      case State::kCommand:
        verb_ = byte;
        if (byte == kIac && purge_answered_) data.push_back(byte);
        state_ = byte >= kWill && byte <= kDont ? State::kOption
                 : byte == kSb                  ? State::kSubnegotiation
                                                : State::kData;
        if (byte == kSb) subnegotiation_.clear();
        break;
      case State::kOption:
        TakeOption(byte, replies);
        state_ = State::kData;
        break;
      case State::kSubnegotiation:
        if (byte == kIac) {
          state_ = State::kSubnegotiationCommand;
        } else {
          subnegotiation_.push_back(byte);
        }
        break;
      case State::kSubnegotiationCommand:
        if (byte == kIac) {
          subnegotiation_.push_back(byte);
          state_ = State::kSubnegotiation;
        } else {
          // SE ends it; any other command there is a server's mistake, taken as the end too.
          EndSubnegotiation();
          state_ = State::kData;
        }
        break;
    }
  }
}

// DONT and WONT need no answer: the port never turns on an option the server did not ask for.
void TelnetReader::TakeOption(std::uint8_t option, std::vector<std::uint8_t>& replies) {
  if (verb_ != kWill && verb_ != kDo) return;
  if (Wanted(verb_, option)) return;
  const std::size_t slot = (verb_ == kDo ? 256 : 0) + option;
  if (refused_[slot]) return;
  refused_[slot] = true;
  replies.insert(replies.end(), {kIac, verb_ == kDo ? kWont : kDont, option});
}

void TelnetReader::EndSubnegotiation() {
  if (subnegotiation_.size() >= 2 && subnegotiation_[0] == kComPort &&
      subnegotiation_[1] == kPurgeData + kAnswerOffset) {
    purge_answered_ = true;
  }
}

}  // namespace kelvo
