#pragma once

#include <cstdint>
#include <string>

namespace tallyfox {

// Byte counts as file managers show them: decimal units (1 kB = 1000 bytes), two decimals
// above a thousand bytes ("0 bytes", "999 bytes", "1.23 kB", "4.50 GB").
std::string formatFileBytes(std::uint64_t bytes);

}  // namespace tallyfox
