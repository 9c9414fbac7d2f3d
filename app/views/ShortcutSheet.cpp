#include "views/ShortcutSheet.h"

#include "model/BrowserCommands.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tallyfox {

QList<QPair<QString, QString>> ShortcutSheet::rows() {
  QList<QPair<QString, QString>> lines;
  for (const BrowserCommand& command : BrowserCommands::all()) {
    if (command.help.isEmpty()) continue;
    QString keys = command.keysText;
    if (keys.isEmpty()) {
      // Two blanks on each side of "or" keep the alternatives apart at a glance.
      QStringList names;
      for (const QKeyCombination& key : command.keys)
        names << QKeySequence(key).toString(QKeySequence::NativeText);
      keys = names.join(QStringLiteral("  or  "));
    }
    lines.append({keys, command.help});
  }
  return lines;
}

ShortcutSheet::ShortcutSheet(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Keyboard"));
  setWindowModality(Qt::WindowModal);

  auto* title = new QLabel(QStringLiteral("Keyboard"), this);
  QFont titleFont = title->font();
  titleFont.setBold(true);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
  title->setFont(titleFont);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(18);
  grid->setVerticalSpacing(5);
  int row = 0;
  for (const auto& [key, description] : rows()) {
    auto* keyLabel = new QLabel(key, this);
    QFont keyFont = keyLabel->font();
    keyFont.setBold(true);
    keyLabel->setFont(keyFont);
    keyLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(keyLabel, row, 0);
    grid->addWidget(new QLabel(description, this), row, 1);
    ++row;
  }

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* done = buttons->addButton(QStringLiteral("Done"), QDialogButtonBox::AcceptRole);
  done->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(24, 20, 24, 16);
  column->setSpacing(14);
  column->addWidget(title);
  column->addLayout(grid);
  column->addWidget(buttons);
}

}  // namespace tallyfox
