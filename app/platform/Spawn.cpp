#include "platform/Spawn.h"

#include <QList>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace tallyfox {

namespace {

QString reason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

bool isExecutableFile(const QByteArray& path) {
  struct stat st {};
  return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.constData(), X_OK) == 0;
}

// Writes all of `value` or gives up; only async-signal-safe calls, for the forked child.
void writeError(int fd, int value) {
  const char* bytes = reinterpret_cast<const char*>(&value);
  std::size_t left = sizeof value;
  while (left > 0) {
    const ssize_t n = ::write(fd, bytes, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

std::optional<QByteArray> findProgram(const QByteArray& name) {
  if (name.isEmpty()) return std::nullopt;
  if (name.contains('/')) return isExecutableFile(name) ? std::optional(name) : std::nullopt;
  const char* path = std::getenv("PATH");
  const QByteArray folders = path ? QByteArray(path) : QByteArrayLiteral("/usr/local/bin:/usr/bin:/bin");
  for (const QByteArray& folder : folders.split(':')) {
    const QByteArray candidate = (folder.isEmpty() ? QByteArrayLiteral(".") : folder) + '/' + name;
    if (isExecutableFile(candidate)) return candidate;
  }
  return std::nullopt;
}

std::optional<QString> spawnDetached(const std::vector<QByteArray>& argv,
                                     const QByteArray& workingDirectory) {
  if (argv.empty()) return QStringLiteral("nothing to start");
  const std::optional<QByteArray> program = findProgram(argv.front());
  if (!program) return QStringLiteral("%1 was not found").arg(QString::fromLocal8Bit(argv.front()));

  // Everything the child needs is made before the fork: after it only async-signal-safe calls.
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const QByteArray& arg : argv) args.push_back(const_cast<char*>(arg.constData()));
  args.push_back(nullptr);
  const char* folder = workingDirectory.isEmpty() ? nullptr : workingDirectory.constData();

  // The grandchild reports a failed chdir or exec through the pipe; a successful exec closes
  // it (close-on-exec), so an empty read means the program runs.
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return reason(errno);
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return reason(error);
  }
  if (child == 0) {
    ::close(pipeFds[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
    if (folder && ::chdir(folder) != 0) {
      writeError(pipeFds[1], errno);
      ::_exit(127);
    }
    ::execve(program->constData(), args.data(), environ);
    writeError(pipeFds[1], errno);
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n = 0;
  do {
    n = ::read(pipeFds[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  ::close(pipeFds[0]);
  if (n == static_cast<ssize_t>(sizeof error)) return reason(error);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return QStringLiteral("could not start a process");
  return std::nullopt;
}

}  // namespace tallyfox
