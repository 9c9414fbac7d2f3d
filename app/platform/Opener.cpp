#include "platform/Opener.h"

#include "platform/LocalPath.h"
#include "platform/Spawn.h"

#include <QDesktopServices>

namespace tallyfox {

namespace {

class DesktopOpener : public Opener {
 public:
  // xdg-open takes the path's bytes as they are; Qt's way goes through a QUrl, which cannot
  // carry a name that is not UTF-8.
  void open(const QByteArray& path) override {
    if (findProgram("xdg-open") && !spawnDetached({"xdg-open", path})) return;
    QDesktopServices::openUrl(fileUrl(path));
  }
};

}  // namespace

std::shared_ptr<Opener> Opener::system() {
  return std::make_shared<DesktopOpener>();
}

}  // namespace tallyfox
