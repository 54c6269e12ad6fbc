#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kelvo {

enum class OutputMode { kEmpty, kAppend };

// Opens a file that a program writes its output to (a trace, a memory dump) and empties it, or
// with kAppend keeps what it holds and writes every line at its end. Only a regular file is
// written: a link at the path is not followed, a FIFO or a device is refused, and so is any of
// keep (the image or script being sent), under whatever name, which writing would damage.
// Returns the open stream, or nullptr with why it was refused ("trace.txt is a link: not
// written").
std::FILE* OpenOutputFile(const std::string& path, const std::vector<std::string>& keep,
                          std::string& why, OutputMode mode = OutputMode::kEmpty);

// Flushes the stream and has the system put what it holds on the disk, so that it survives a
// power cut; false if either fails.
bool SyncOutputFile(std::FILE* file);

}  // namespace kelvo
