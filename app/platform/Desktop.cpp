#include "platform/Desktop.h"

namespace tallyfox {

Desktop Desktop::system() {
  return {FileManager::system(), Opener::system(), Clipboard::system(),
          Beep::system(),        Trash::system(),  Terminal::system()};
}

}  // namespace tallyfox
