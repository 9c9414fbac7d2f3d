#include "model/DumpMode.h"

#include <QApplication>
#include <QLabel>

#include <iostream>

int main(int argc, char** argv) {
  // The dump runs before any application object exists, so it needs no display at all.
  if (const auto file = tallyfox::DumpMode::requestedFile(argc, argv))
    return tallyfox::DumpMode::run(*file, std::cout, std::cerr);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tallyfox"));
  QApplication::setOrganizationDomain(QStringLiteral("quillon.io"));
  QLabel notice(
      QStringLiteral("Tallyfox is being built: its windows arrive in the next version.\n"
                     "Use \"tallyfox --dump FILE\" to summarise a snapshot."));
  notice.setMargin(24);
  notice.setWindowTitle(QStringLiteral("Tallyfox"));
  notice.show();
  return app.exec();
}
