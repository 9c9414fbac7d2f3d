#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace testsupport {

// The path bytes tfscan's JSON gives for a name (a string, or the byte values of one that is
// not UTF-8); a value that is neither fails the test.
std::string pathBytesOf(const nlohmann::json& value);

}  // namespace testsupport
