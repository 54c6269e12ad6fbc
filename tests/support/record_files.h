#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::testing {

using Bytes = std::vector<std::uint8_t>;

// One record with its byte count and checksum, as a firmware build writes it, without a line end.
std::string HexRecord(unsigned type, unsigned offset, const Bytes& data);
std::string SRecord(char type, std::uint32_t address, const Bytes& data);

// An image that loads at byte 0x20000 as a whole file: S3 records of 16 bytes, leaving out those
// of nothing but 0xFF, a count and S7; lines end in CR LF.
std::string SRecordsOf(const Bytes& image);

}  // namespace kelvo::testing
