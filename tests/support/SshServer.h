#pragma once

#include "TestSupport.h"

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// A real OpenSSH server of the test's own, on a free port of 127.0.0.1, as the user running
// the tests: a host key, a user key and authorized_keys made for it in a temporary folder,
// and a client configuration naming it `alias`, to be given to ssh with -F. Commands run on
// the far side find programs only in `farPath` (the far side's PATH, set by a forced
// command, so that whatever the login shell's start-up files do, the test decides which
// programs the host has).
class SshServer {
 public:
  static constexpr const char* alias = "tftest";

  explicit SshServer(const std::filesystem::path& farPath);
  ~SshServer();
  SshServer(const SshServer&) = delete;
  SshServer& operator=(const SshServer&) = delete;

  // Empty when the server runs; else why not (no sshd installed, ...), for a skip.
  const std::string& failure() const { return failure_; }
  int pid() const { return pid_; }
  int port() const { return port_; }
  // ssh -F this: the server's host key is known.
  const std::filesystem::path& config() const { return config_; }
  // The same, with a known_hosts file that does not know the server.
  const std::filesystem::path& configWithUnknownHost() const { return unknownConfig_; }
  const std::filesystem::path& emptyKnownHosts() const { return emptyKnownHosts_; }

 private:
  bool start();
  std::string writeClientConfig(const std::filesystem::path& knownHosts) const;

  TempDir dir_;
  std::filesystem::path farPath_;
  std::filesystem::path config_, unknownConfig_, emptyKnownHosts_;
  std::string failure_;
  int pid_ = -1;
  int port_ = 0;
};

// The processes below `ancestor` whose command name is `name`.
std::vector<int> descendantsNamed(int ancestor, const std::string& name);

}  // namespace testsupport
