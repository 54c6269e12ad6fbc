#pragma once

#include <string>
#include <string_view>

#include "image/input_file.h"
#include "transfer/transfer_context.h"

namespace kelvo {

// Plays the open script file to the open port, line by line: message lines go to the log, each
// SEND line's bytes leave in one write followed by a 100 ms pause, and nothing is read back.
// Halt ends the playback between lines (kHalted); a script played to its end gives kComplete,
// unless a SEND line was refused on the way (kFailed).
TransferOutcome RunScript(TransferContext& context);

// Reads the next line, one byte per read, keeping only the bytes that pass IsScriptByte. True
// when a line feed ended it; false at the end of the file, on a failed read or on an invalid
// file, with line holding what was taken before.
bool ReadScriptLine(InputFile& file, std::string& line);

// Logs, writes and paces one SEND line, given without its leading blanks. A line that names
// more bytes than its store holds is refused whole with one log line, and false returned.
bool SendScriptLine(TransferContext& context, std::string_view line);

}  // namespace kelvo
