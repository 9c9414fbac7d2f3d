#pragma once

#include "platform/Beep.h"
#include "platform/Clipboard.h"
#include "platform/FileManager.h"
#include "platform/Opener.h"
#include "platform/Terminal.h"
#include "platform/Trash.h"

#include <memory>

namespace tallyfox {

// The desktop services a browser model acts through. Tests hand in their own; a missing
// service does nothing.
struct Desktop {
  std::shared_ptr<FileManager> fileManager;
  std::shared_ptr<Opener> opener;
  std::shared_ptr<Clipboard> clipboard;
  std::shared_ptr<Beep> beep;
  std::shared_ptr<Trash> trash;
  std::shared_ptr<Terminal> terminal;

  // The desktop's own services, with the beep the windows provide.
  static Desktop system(std::shared_ptr<Beep> beep);
};

}  // namespace tallyfox
