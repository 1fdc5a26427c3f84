#pragma once

#include <ostream>

namespace kelvane::utils {

// UTF-8 console stream; flushing it hands everything written so far to the terminal.
extern std::ostream& consoleOut;
// Discards everything; the echo stream of report lines.
extern std::ostream& nullOut;

// Show the following text in red on a terminal; write no characters into the stream.
std::ostream& setErrorColor(std::ostream& stream);
// Bring back the colour in effect before the matching setErrorColor.
std::ostream& restoreColor(std::ostream& stream);

// Wait for one key when standard input is a terminal; return at once otherwise.
void pause();

}  // namespace kelvane::utils
