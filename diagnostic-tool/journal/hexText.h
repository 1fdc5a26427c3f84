#pragma once

#include "pcscWrapper/apdu.h"

#include <string>

// Each byte as two lower-case hex digits, without separators: "0a1b2c3d".
std::string hexDigits(ByteView bytes);
