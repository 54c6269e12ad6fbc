#include "serial/open_lines_posix.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <atomic>

namespace kelvo {
namespace {

// More ports than any run opens at once; a port past them is put back by its close only.
constexpr std::size_t kMostOpenLines = 256;
std::array<std::atomic<const LineChanges*>, kMostOpenLines> open_lines{};
std::atomic<bool> putting_back{false};
static_assert(std::atomic<const LineChanges*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

}  // namespace

void ListOpenLine(const LineChanges& changes) {
  for (auto& slot : open_lines) {
    const LineChanges* vacant = nullptr;
    if (slot.compare_exchange_strong(vacant, &changes)) return;
  }
}

// Taken off first and the flag read after: a handler that found the line had set the flag before,
// so this sees it, and the descriptor stays open for the handler.
void UnlistOpenLine(const LineChanges& changes) {
  for (auto& slot : open_lines) {
    const LineChanges* listed = &changes;
    if (slot.compare_exchange_strong(listed, nullptr)) break;
  }
  if (putting_back.load()) {
    for (;;) ::pause();
  }
}

void PutBackOpenLines() {
  putting_back.store(true);
  for (const auto& slot : open_lines) {
    const LineChanges* line = slot.load();
    if (line == nullptr) continue;
    ::tcsetattr(line->fd, TCSANOW, &line->saved);
    serial_rs485 rs485 = line->saved_rs485;
    if (line->rs485) ::ioctl(line->fd, TIOCSRS485, &rs485);
    ::ioctl(line->fd, TIOCNXCL);
  }
}

}  // namespace kelvo
