#pragma once

#include "TestSupport.h"

#include <cstdint>
#include <filesystem>
#include <vector>

// Fixtures for readers of a file that another process changes under them.
namespace testsupport {

// A sound tree: one top folder holding `folders` folders of `filesPerFolder` files each,
// sizes falling in the order a finished tree keeps. Big enough, at a few hundred thousand
// entries, that every column spans many pages of a mapping.
std::vector<Node> wideTree(int folders, int filesPerFolder);

// What another process does to a file someone has mapped: cuts it to `length` bytes, or
// writes `bytes` over it in place, emptying it first as cp does. Each runs in a child
// process, waited for; a failure fails the test.
void cutShortElsewhere(const std::filesystem::path& file, std::uint64_t length);
void rewriteElsewhere(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);

// Sets the file's modification time a minute back: a rewrite in the same clock tick as the
// write before it would otherwise leave the time as it was.
void ageFile(const std::filesystem::path& file);

}  // namespace testsupport
