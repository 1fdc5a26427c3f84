#pragma once

#include <filesystem>
#include <system_error>

// The running program's own file, as the system knows it whatever name it
// was started by; error is set when the system cannot tell.
std::filesystem::path programPath(std::error_code& error);
