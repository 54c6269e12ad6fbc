#pragma once

#include <cstdio>
#include <string>
#include <string_view>
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

// Adds text at the end of a file opened with kAppend, past the stream's buffer, and has the
// system put it on the disk, so that it survives a power cut. A write cut short (a full disk)
// leaves no part of text behind, so a reader never meets half a line. False, with errno, when
// the text could not be written and kept.
bool AppendWhole(std::FILE* file, std::string_view text);

}  // namespace kelvo
