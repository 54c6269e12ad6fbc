#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kelvo {

// Opens a file that a program writes its output to (a trace, a memory dump) and empties it.
// Only a regular file is written: a link at the path is not followed, a FIFO or a device is
// refused, and so is any of keep (the image or script being sent), under whatever name, which
// emptying would destroy. Returns the open stream, or nullptr with why it was refused
// ("trace.txt is a link: not written").
std::FILE* OpenOutputFile(const std::string& path, const std::vector<std::string>& keep,
                          std::string& why);

}  // namespace kelvo
