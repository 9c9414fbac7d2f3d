#include "views/ApplicationBeep.h"

#include <QApplication>

namespace tallyfox {

void ApplicationBeep::beep() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance())) QApplication::beep();
}

}  // namespace tallyfox
