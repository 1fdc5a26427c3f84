#pragma once

#include "harness.h"

#include <string>

// The virtual token the benchmarks of one group talk to, plugged into the
// first vpcd reader through pcscd.
// changes: JSON members laid over the bundled profile, e.g. R"("flash": {"restartDelayMs": 300})".
void plugToken(const std::string& bundledProfileName, const std::string& changes = "");
const VirtualToken& pluggedToken();
void unplugToken();
