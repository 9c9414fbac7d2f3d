#include "platform/Opener.h"

#include "platform/LocalPath.h"

#include <QDesktopServices>

namespace tallyfox {

namespace {

class DesktopOpener : public Opener {
 public:
  void open(const QByteArray& path) override { QDesktopServices::openUrl(fileUrl(path)); }
};

}  // namespace

std::shared_ptr<Opener> Opener::system() {
  return std::make_shared<DesktopOpener>();
}

}  // namespace tallyfox
