#include "utils/programPath.h"

std::filesystem::path programPath(std::error_code& error)
{
    // Linux shows every process its own executable as this link.
    return std::filesystem::read_symlink("/proc/self/exe", error);
}
