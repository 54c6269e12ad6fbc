#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::testing {

using Bytes = std::vector<std::uint8_t>;

// One record with its byte count and checksum, as a firmware build writes it, without a line end.
std::string HexRecord(unsigned type, unsigned offset, const Bytes& data);
std::string SRecord(char type, std::uint32_t address, const Bytes& data);

// An image that loads at byte 0x20000 as a whole file, 16 bytes a data record, leaving out the
// records of nothing but 0xFF; lines end in CR LF.
std::string IntelHexOf(const Bytes& image);
std::string SRecordsOf(const Bytes& image);  // S3 data records, a count and S7

}  // namespace kelvo::testing
