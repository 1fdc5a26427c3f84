#pragma once

#include "harness.h"

#include <string>

// The virtual token the benchmarks of one group talk to, plugged into the
// first vpcd reader through pcscd.
void plugToken(const std::string& bundledProfileName);
const VirtualToken& pluggedToken();
void unplugToken();
