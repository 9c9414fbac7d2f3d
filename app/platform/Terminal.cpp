#include "platform/Terminal.h"

#include "platform/Spawn.h"

#include <cstdlib>

namespace tallyfox {

namespace {

class SystemTerminal : public Terminal {
 public:
  std::optional<QString> openIn(const QByteArray& folder) override {
    std::vector<QByteArray> candidates = {"ghostty", "x-terminal-emulator"};
    if (const char* chosen = std::getenv("TERMINAL"); chosen && *chosen) candidates.emplace_back(chosen);
    candidates.insert(candidates.end(), {"gnome-terminal", "konsole", "xterm"});
    for (const QByteArray& name : candidates) {
      if (!findProgram(name)) continue;
      // The folder is the working directory, never an argument: no terminal parses it and
      // no shell sees it.
      return spawnDetached({name}, folder);
    }
    return QStringLiteral("No terminal application was found.");
  }
};

}  // namespace

std::shared_ptr<Terminal> Terminal::system() {
  return std::make_shared<SystemTerminal>();
}

}  // namespace tallyfox
