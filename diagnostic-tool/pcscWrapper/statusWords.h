#pragma once

#include <cstdint>
#include <string>

// Russian explanation of a token status word for the report, without a line
// end: "[0x6A82] - Неверные параметры команды. Файловый объект не найден."
// Every value has a text; codes the token does not document fall back to the
// base text of their SW1 or to the unknown-code text.
std::string statusWordMessage(uint16_t sw);
