#pragma once

#include <cstddef>
#include <cstdio>

namespace kelvo::cli {

// True when stream is a terminal (or console), which obeys the control bytes written to it.
bool IsTerminal(std::FILE* stream);

// True when stream is a terminal that can redraw a live line in place (a carriage return, then
// the ANSI erase to the end of the line). On Windows this turns the console's ANSI handling on.
bool IsLiveTerminal(std::FILE* stream);

// Readies the terminal for the run: on Windows the console shows output in the ANSI code page,
// which the log's bytes are in. What this and IsLiveTerminal change is put back at exit, also
// at an end by Ctrl-C; EndAtOnce, which skips the usual exit, calls RestoreTerminal itself.
void PrepareTerminal();
void RestoreTerminal();

// The terminal's width in columns; 80 when it does not say.
std::size_t TerminalWidth(std::FILE* terminal);
// Its height in lines; 24 when it does not say.
std::size_t TerminalHeight(std::FILE* terminal);

}  // namespace kelvo::cli
