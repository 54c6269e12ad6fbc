#pragma once

#include <cstddef>
#include <cstdio>

namespace kelvo::cli {

// True when stream is a terminal that can redraw a live line in place (a carriage return, then
// the ANSI erase to the end of the line). On Windows this turns the console's ANSI handling on.
bool IsLiveTerminal(std::FILE* stream);

// The terminal's width in columns; 80 when it does not say.
std::size_t TerminalWidth(std::FILE* terminal);
// Its height in lines; 24 when it does not say.
std::size_t TerminalHeight(std::FILE* terminal);

}  // namespace kelvo::cli
