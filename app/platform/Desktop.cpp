#include "platform/Desktop.h"

namespace tallyfox {

Desktop Desktop::system(std::shared_ptr<Beep> beep) {
  return {FileManager::system(), Opener::system(), Clipboard::system(),
          std::move(beep),       Trash::system(),  Terminal::system()};
}

}  // namespace tallyfox
