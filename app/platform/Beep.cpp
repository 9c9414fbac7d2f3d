#include "platform/Beep.h"

#include <QApplication>

namespace tallyfox {

namespace {

class SystemBeep : public Beep {
 public:
  void beep() override {
    // The platform's bell is reached only through the widgets application.
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) QApplication::beep();
  }
};

}  // namespace

std::shared_ptr<Beep> Beep::system() {
  return std::make_shared<SystemBeep>();
}

}  // namespace tallyfox
