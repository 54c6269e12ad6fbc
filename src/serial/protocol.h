#pragma once

#include <chrono>
#include <cstdint>

namespace kelvo {

// The line runs at 9600 baud with 8 data bits, no parity and one stop bit: 10 bit times a byte.
inline constexpr std::chrono::nanoseconds kByteTime{1041667};

// Bytes of the ZARQ loader's block protocol.
inline constexpr std::uint8_t kSoh = 0x01;               // first byte of every data packet
inline constexpr std::uint8_t kEot = 0x04;               // end of the upload, written alone
inline constexpr std::uint8_t kLeadIn = 0x05;            // first byte of every command frame (ENQ)
inline constexpr std::uint8_t kAck = 0x06;               // frame or packet accepted
inline constexpr std::uint8_t kNak = 0x15;               // refused; at the start, "ready to load"
inline constexpr std::uint8_t SetAddressCommand = 0x41;  // 'A': set the load address
inline constexpr std::uint8_t EraseCommand = 0x45;       // 'E': erase one 128 KiB region

inline constexpr std::size_t kBlockSize = 128;        // data bytes per packet
inline constexpr std::size_t kCommandFrameSize = 5;   // lead-in, code, ~code, argument lo, hi
inline constexpr std::size_t kDataPacketSize = 132;   // SOH, n, 255 - n, data, checksum
inline constexpr std::size_t kPacketReplySize = 133;  // the device's answer to a packet

// Device addresses count 16-byte units.
inline constexpr std::uint16_t kFirstLoadAddress = 0x2000;
inline constexpr std::uint16_t kAddressUnitsPerBlock = 8;
inline constexpr std::uint16_t kEraseRegionUnits = 0x2000;  // 128 KiB
inline constexpr std::uint64_t kAddressUnitBytes = 16;
// The byte of device memory where the image's first byte loads.
inline constexpr std::uint64_t kImageStartByte = kFirstLoadAddress * kAddressUnitBytes;
// The 16-bit load address ends at 0x10000; a larger image would wrap round to address 0 and
// overwrite the loader's own memory.
inline constexpr std::uint64_t kLargestImage = (0x10000 - kFirstLoadAddress) * kAddressUnitBytes;

}  // namespace kelvo
