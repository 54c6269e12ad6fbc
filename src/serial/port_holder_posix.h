#pragma once

#include <string>
#include <vector>

namespace kelvo {

// Where programs that honour UUCP-style lock files ("LCK..ttyUSB0") keep them.
inline const std::vector<std::string> kLockFolders = {"/run/lock", "/var/lock"};

// Another process that holds the device: one that has it open, or a live lock file for it in
// lock_folders. Described for the operator as "minicom (process 4242)"; empty when there is
// none. A lock file whose process has gone holds nothing. Processes this user may not look
// into go unseen, and this process is never named.
std::string FindPortHolder(const std::string& device_path,
                           const std::vector<std::string>& lock_folders = kLockFolders);

}  // namespace kelvo
