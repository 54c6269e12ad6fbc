#include "transfer/upload_image.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "image/printf_text.h"
#include "serial/loader_frames.h"
#include "serial/protocol.h"
#include "serial/waits.h"

namespace kelvo {
namespace {

constexpr std::uint32_t kHandshakeTimeoutMs = 5000;
// Tries that are not logged may be short, so that a halt while the next device is awaited is
// seen at once.
constexpr std::uint32_t kQuietHandshakeTimeoutMs = 250;
constexpr std::uint32_t kEotReplyTimeoutMs = 1000;
constexpr char kWaitingText[] = "Waiting for Initial NAK . . . ";
constexpr std::uint64_t kEraseRegionBytes = kEraseRegionUnits * kAddressUnitBytes;

using Block = std::array<std::uint8_t, kBlockSize>;

// Erased flash reads 0xFF, so a block of nothing else need not be sent.
bool IsBlank(const Block& block) {
  return std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0xFF; });
}

// Set when the body leaves before the end, with how it ended.
using Exit = std::optional<TransferOutcome>;

class Upload {
 public:
  Upload(TransferContext& context, std::span<const std::uint8_t> image)
      : context_(context), form_(context.form), image_(image), image_size_(image.size()) {}

  TransferOutcome Run() {
    if (!ImageFits()) return TransferOutcome::kFailed;
    if (Exit exit = AwaitLoader()) return *exit;
    if (context_.DeviceType != "ZARQX") {
      if (Exit exit = SetUpAddress()) return *exit;
      if (Exit exit = EraseRegions()) return *exit;
    }
    if (Exit exit = Program()) return *exit;
    End();
    return TransferOutcome::kComplete;
  }

 private:
  Exit HaltCheck() const {
    return context_.HaltRequested() ? Exit(TransferOutcome::kHalted) : std::nullopt;
  }

  // Waiting or retrying on a line that has gone would only fill the log until the operator
  // halts.
  Exit PortLost() const {
    if (!context_.port.Lost()) return std::nullopt;
    form_.LogLine("Lost the port " + context_.PortName + ". Aborting Programming");
    return TransferOutcome::kFailed;
  }

  bool ImageFits() {
    if (image_size_ <= kLargestImage) return true;
    form_.LogLine(
        Printf("Image of %llu bytes is larger than the %llu bytes the device can take. "
               "Aborting Programming",
               static_cast<unsigned long long>(image_size_),
               static_cast<unsigned long long>(kLargestImage)));
    return false;
  }

  Exit AwaitLoader() {
    const bool quiet = context_.handshake.quiet;
    while (!HandshakeDone) {
      if (!quiet) form_.LogAppend(kWaitingText);
      const std::uint8_t reply =
          AwaitHandshake(context_.port, context_.shared.clock,
                         quiet ? kQuietHandshakeTimeoutMs : kHandshakeTimeoutMs);
      if (reply == 0) {
        if (!quiet) form_.LogLine("no response");
        if (Exit exit = PortLost()) return exit;
      } else {
        if (quiet) form_.LogAppend(kWaitingText);
        if (Exit exit = Answered(reply)) return exit;
      }
      if (Exit exit = HaltCheck()) return exit;
    }
    return std::nullopt;
  }

  Exit Answered(std::uint8_t reply) {
    if (reply != kNak) {
      form_.LogLine(reply == 0xFF ? "unexpected data stream detected"
                                  : "unexpected character detected");
      return TransferOutcome::kFailed;
    }
    form_.LogLine("NAK detected");
    HandshakeDone = true;
    if (context_.handshake.answered) context_.handshake.answered();
    return std::nullopt;
  }

  Exit SetUpAddress() {
    form_.LogAppend("Initializing Address . . . ");
    // The text is compared, never converted: the loader is always set to the first address.
    if (context_.StartAddress != "0x2000") {
      form_.LogLine("This version of Kelvo does not recognize addresses other than 0x2000");
      form_.LogLine("Aborting Programming");
      return TransferOutcome::kFailed;
    }
    if (!SendCommand(context_.port, context_.shared.clock, SetAddressCommand, LoadAddress)) {
      form_.LogLine("Failed");
      return TransferOutcome::kFailed;
    }
    form_.LogLine("Acknowledged");
    return HaltCheck();
  }

  // One region per whole 128 KiB of the image, from the load address on.
  Exit EraseRegions() {
    form_.LogLine("Erasing Existing Application");
    const std::uint64_t regions = image_size_ / kEraseRegionBytes;
    std::uint16_t address = LoadAddress;
    for (std::uint64_t erased = 0; erased < regions; ++erased) {
      if (Exit exit = HaltCheck()) return exit;
      form_.LogAppend(Printf("Erasing 0x%X . . . ", address));
      if (!SendCommand(context_.port, context_.shared.clock, EraseCommand, address)) {
        form_.LogLine("Failed");
        return TransferOutcome::kFailed;
      }
      form_.LogLine("Done");
      address = static_cast<std::uint16_t>(address + kEraseRegionUnits);
    }
    return std::nullopt;
  }

  Exit Program() {
    form_.LogLine("Starting Programming");
    // A final part shorter than a block is padded and sent, so it counts as a block.
    BlockTotal = static_cast<std::uint16_t>((image_size_ + kBlockSize - 1) / kBlockSize);
    form_.SetText(Control::ErrorsField, Printf("%d", ErrorCount));
    while (ReadBlock()) {
      ShowBlock();
      if (IsBlank(BlockBuffer)) {
        ++SkippedCount;
        SkipPending = true;
      } else {
        if (Exit exit = AddressAfterGap()) return exit;
        if (Exit exit = SendUntilAccepted()) return exit;
      }
      LoadAddress = static_cast<std::uint16_t>(LoadAddress + kAddressUnitsPerBlock);
      if (Exit exit = HaltCheck()) return exit;
    }
    return std::nullopt;
  }

  // A short final part is padded with 0xFF, which the erased flash holds already. False once
  // the image has ended.
  bool ReadBlock() {
    const std::size_t count = std::min(kBlockSize, image_.size() - read_);
    if (count == 0) return false;
    std::copy_n(image_.begin() + static_cast<std::ptrdiff_t>(read_), count, BlockBuffer.begin());
    std::fill(BlockBuffer.begin() + static_cast<std::ptrdiff_t>(count), BlockBuffer.end(), 0xFF);
    read_ += count;
    return true;
  }

  void ShowBlock() {
    ++BlockNumber;
    BlockText = Printf("%d / %d", BlockNumber, BlockTotal);
    form_.SetText(Control::BlockField, BlockText);
    form_.SetText(Control::AddressField, Printf("%04X", LoadAddress));
    for (const std::uint8_t byte : BlockBuffer)
      RunningSum = static_cast<std::uint16_t>(RunningSum + byte);
    form_.SetText(Control::ChecksumField, Printf("%04X", RunningSum));
  }

  // After blank blocks were left out, the loader's address no longer follows the blocks.
  Exit AddressAfterGap() {
    if (!SkipPending) return std::nullopt;
    form_.LogAppend(Printf("Skipping to Address 0x%X . . . ", LoadAddress));
    if (!SendCommand(context_.port, context_.shared.clock, SetAddressCommand, LoadAddress)) {
      form_.LogLine("Failed.  Programming Aborting.");
      return TransferOutcome::kFailed;
    }
    form_.LogLine("Acknowledged");
    SkipPending = false;
    return std::nullopt;
  }

  // A refused block is sent again, with the same number, until the loader takes it or the
  // operator halts.
  Exit SendUntilAccepted() {
    const auto number = static_cast<std::uint8_t>(BlockNumber & 0xFF);
    while (!SendBlock(context_.port, context_.shared.clock, context_.shared.ResponseDelay, form_,
                      number, BlockBuffer)) {
      if (Exit exit = PortLost()) return exit;
      ++ErrorCount;
      form_.SetText(Control::ErrorsField, Printf("%d", ErrorCount));
      form_.LogLine("Error on Block " + BlockText + " . . . Retrying");
      if (Exit exit = HaltCheck()) return exit;
      // Left in, a late reply's tail would make every later reply look short: no retry
      // could ever succeed.
      DropLateReply(context_.port);
    }
    return std::nullopt;
  }

  void End() {
    form_.LogLine("Programming Complete");
    form_.LogLine(Printf("%d Unused Blocks Skipped", SkippedCount));
    form_.LogLine("Sending EOT");
    // The answers to EOT are waited for but change nothing.
    for (int i = 0; i < 2; ++i) {
      const std::uint8_t eot = kEot;
      context_.port.Write({&eot, 1});
      AwaitReply(context_.port, context_.shared.clock, kEotReplyTimeoutMs);
    }
  }

  TransferContext& context_;
  ControlPointers& form_;
  const std::span<const std::uint8_t> image_;
  const std::uint64_t image_size_;
  std::size_t read_ = 0;  // bytes of the image read so far

  std::uint16_t LoadAddress = kFirstLoadAddress;  // units of 16 bytes
  bool HandshakeDone = false;
  std::uint16_t BlockNumber = 0;  // blocks read so far, blank ones included
  std::uint16_t BlockTotal = 0;
  std::uint16_t ErrorCount = 0;
  std::uint16_t SkippedCount = 0;
  bool SkipPending = false;  // blank blocks left out since the address was last set
  std::uint16_t RunningSum = 0;
  std::string BlockText;
  Block BlockBuffer{};
};

}  // namespace

TransferOutcome UploadImage(TransferContext& context, std::span<const std::uint8_t> image) {
  return Upload(context, image).Run();
}

}  // namespace kelvo
