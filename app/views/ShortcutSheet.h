#pragma once

#include <QDialog>
#include <QList>
#include <QPair>
#include <QString>

namespace tallyfox {

// The list of the browser's keys from the command table, with the key names of this
// desktop.
class ShortcutSheet : public QDialog {
  Q_OBJECT
 public:
  explicit ShortcutSheet(QWidget* parent = nullptr);

  // Key text and what it does, in the order shown.
  static QList<QPair<QString, QString>> rows();
};

}  // namespace tallyfox
