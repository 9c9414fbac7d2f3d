#pragma once

#include <cstdint>
#include <string>

namespace tallyfox {

// Byte counts as the desktop's file managers show them: decimal units (1 kB = 1000 bytes)
// with one decimal from a kilobyte up, whole bytes below ("0 bytes", "1 byte",
// "999 bytes", "840.0 kB", "1.5 GB"). The app, tfscan and the dump all print through this.
std::string formatFileBytes(std::uint64_t bytes);

}  // namespace tallyfox
