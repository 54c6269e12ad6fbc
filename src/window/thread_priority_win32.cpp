#include <windows.h>

#include "window/transfer_launcher.h"

namespace kelvo {

void LowerThisThreadPriority() {
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}

}  // namespace kelvo
