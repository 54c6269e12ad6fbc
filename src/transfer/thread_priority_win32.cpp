#include <windows.h>

#include "transfer/transfer_launcher.h"

namespace kelvo {

void LowerThisThreadPriority() {
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}

}  // namespace kelvo
