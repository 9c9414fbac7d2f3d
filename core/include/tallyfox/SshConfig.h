#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tallyfox {

// What a person's OpenSSH client configuration names, for offering hosts to scan: the
// aliases of its `Host` lines. Patterns (with "*", "?" or "!") name no one host and are left
// out. The file is the user's own, but read as untrusted text all the same: a line of any
// length or bytes is skipped or taken apart, never an error.
namespace SshConfig {

struct Parsed {
  std::vector<std::string> hosts;     // in the order they appear, each once
  std::vector<std::string> includes;  // the words of `Include` lines, unexpanded
};

Parsed parse(std::string_view text);

// The aliases of `file` (normally ~/.ssh/config) and of the files its `Include` lines name
// (relative names are below `file`'s folder, "~" is the home folder, globs expanded), in
// order, each once. Nothing for a file that cannot be read.
std::vector<std::string> hostAliases(const std::filesystem::path& file);

}  // namespace SshConfig
}  // namespace tallyfox
