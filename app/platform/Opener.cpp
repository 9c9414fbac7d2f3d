#include "platform/Opener.h"

#include <QDesktopServices>
#include <QUrl>

namespace tallyfox {

namespace {

class DesktopOpener : public Opener {
 public:
  void open(const QString& path) override { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }
};

}  // namespace

std::shared_ptr<Opener> Opener::system() {
  return std::make_shared<DesktopOpener>();
}

}  // namespace tallyfox
