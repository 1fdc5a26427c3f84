#pragma once

#include <functional>
#include <ostream>

namespace kelvane::utils {

// Where setErrorColor and restoreColor send their escape sequences, and
// whether a terminal reads them (a file or a pipe must get none).
struct ColorOutput {
    std::ostream* stream;
    std::function<bool()> isTerminal;
};

// Installs the output of the colour manipulators and returns the one it
// replaces; by default standard output, coloured only when it is a terminal.
ColorOutput replaceColorOutput(ColorOutput output);

// Whether standard input and output are terminals; a file or a pipe is not.
bool standardInputIsTerminal();
bool standardOutputIsTerminal();

// The descriptor of standard input.
extern const int standardInput;

// Writes the prompt, then waits for one key on the terminal behind inputFd
// without echoing it; the terminal's own mode is back in place afterwards.
void waitForKey(int inputFd, std::ostream& prompt);

}  // namespace kelvane::utils
