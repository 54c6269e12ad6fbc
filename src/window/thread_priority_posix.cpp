#include <sys/resource.h>
#include <unistd.h>

#include "window/transfer_launcher.h"

namespace kelvo {

// Linux gives each thread its own nice value; 19 is the lowest priority a thread can have.
void LowerThisThreadPriority() {
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

}  // namespace kelvo
