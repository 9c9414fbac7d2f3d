#include "SshServer.h"

#include "Subprocess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace testsupport {

namespace {

constexpr const char* sshd = "/usr/sbin/sshd";

int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

bool accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(std::uint16_t(port));
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

std::string userName() {
  const passwd* entry = ::getpwuid(::getuid());
  return entry ? entry->pw_name : "root";
}

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool makeKey(const std::filesystem::path& file) {
  return runCommand({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "tallyfox-test", "-f",
                     file.string()}) == 0;
}

}  // namespace

SshServer::SshServer(const std::filesystem::path& farPath) : farPath_(farPath) {
  if (::access(sshd, X_OK) != 0) {
    failure_ = "sshd is not installed (Debian's openssh-server)";
    return;
  }
  if (!makeKey(dir_ / "host_key") || !makeKey(dir_ / "user_key")) {
    failure_ = "ssh-keygen failed";
    return;
  }
  // The forced command sets the far side's PATH after the login shell's start-up files.
  writeFile(dir_ / "authorized_keys", "command=\"PATH=" + farPath_.string() +
                                          "; export PATH; eval \\\"$SSH_ORIGINAL_COMMAND\\\"\" " +
                                          readText(dir_ / "user_key.pub"));
  // A server run as root separates privileges into this folder, which the system's own
  // sshd would make at boot.
  if (::geteuid() == 0) ::mkdir("/run/sshd", 0755);
  for (int attempt = 0; attempt < 3 && pid_ < 0; ++attempt) start();
  if (pid_ < 0) {
    if (failure_.empty()) failure_ = "sshd did not start";
    return;
  }
  failure_.clear();
  writeFile(dir_ / "known_hosts",
            "[127.0.0.1]:" + std::to_string(port_) + " " + readText(dir_ / "host_key.pub"));
  emptyKnownHosts_ = dir_ / "unknown_hosts";
  writeFile(emptyKnownHosts_, "");
  config_ = dir_ / "ssh_config";
  writeFile(config_, writeClientConfig(dir_ / "known_hosts"));
  unknownConfig_ = dir_ / "ssh_config_unknown";
  writeFile(unknownConfig_, writeClientConfig(emptyKnownHosts_));
}

std::string SshServer::writeClientConfig(const std::filesystem::path& knownHosts) const {
  return std::string("Host ") + alias + "\n" + "  HostName 127.0.0.1\n  Port " + std::to_string(port_) +
         "\n  User " + userName() + "\n  IdentityFile " + (dir_ / "user_key").string() +
         "\n  IdentitiesOnly yes\n  IdentityAgent none\n  UserKnownHostsFile " + knownHosts.string() +
         "\n  GlobalKnownHostsFile /dev/null\n  UpdateHostKeys no\n  LogLevel ERROR\n";
}

bool SshServer::start() {
  port_ = freePort();
  const std::filesystem::path config = dir_ / "sshd_config";
  writeFile(config, "Port " + std::to_string(port_) +
                        "\nListenAddress 127.0.0.1\n"
                        "HostKey " +
                        (dir_ / "host_key").string() +
                        "\n"
                        "PidFile " +
                        (dir_ / "sshd.pid").string() +
                        "\n"
                        "AuthorizedKeysFile " +
                        (dir_ / "authorized_keys").string() +
                        "\n"
                        "StrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                        "KbdInteractiveAuthentication no\nPubkeyAuthentication yes\n"
                        "PermitRootLogin prohibit-password\nLogLevel ERROR\n");
  const pid_t child = ::fork();
  if (child == 0) {
    ::setpgid(0, 0);
    const std::string file = config.string();
    const std::string log = (dir_ / "sshd.log").string();
    std::freopen("/dev/null", "r", stdin);
    std::freopen(log.c_str(), "a", stderr);
    ::execl(sshd, sshd, "-D", "-e", "-f", file.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (child < 0) return false;
  // Ready once it accepts connections; gone when it could not take the port.
  for (int i = 0; i < 500; ++i) {
    int status = 0;
    if (::waitpid(child, &status, WNOHANG) == child) {
      failure_ = "sshd ended: " + readText(dir_ / "sshd.log");
      return false;
    }
    if (accepts(port_)) {
      pid_ = child;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  return false;
}

SshServer::~SshServer() {
  if (pid_ <= 0) return;
  // The server's group: the listener and every session it forked.
  ::kill(-pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
}

std::vector<int> descendantsNamed(int ancestor, const std::string& name) {
  std::map<int, int> parents;
  std::map<int, std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string id = entry.path().filename().string();
    if (id.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = readText(entry.path() / "stat");
    const std::size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 4 > stat.size()) continue;
    const int pid = std::stoi(id);
    names[pid] = stat.substr(open + 1, close - open - 1);
    // After ") " come the state and the parent's id.
    std::istringstream rest(stat.substr(close + 2));
    char state = 0;
    int parent = 0;
    rest >> state >> parent;
    parents[pid] = parent;
  }
  std::vector<int> found;
  for (const auto& [pid, processName] : names) {
    if (processName != name) continue;
    for (int up = parents[pid]; up > 1; up = parents.count(up) ? parents[up] : 0)
      if (up == ancestor) {
        found.push_back(pid);
        break;
      }
  }
  return found;
}

}  // namespace testsupport
