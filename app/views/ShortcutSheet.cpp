#include "views/ShortcutSheet.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tallyfox {

namespace {

QString keys(QKeyCombination combination) {
  return QKeySequence(combination).toString(QKeySequence::NativeText);
}

}  // namespace

QList<QPair<QString, QString>> ShortcutSheet::rows() {
  // Two blanks on each side of "or" and "/" keep the alternatives apart at a glance.
  const QString back =
      keys(Qt::CTRL | Qt::Key_BracketLeft) + QLatin1Char(' ') + keys(Qt::CTRL | Qt::Key_BracketRight);
  return {
      {QStringLiteral("↓ ↑  or  j k"), QStringLiteral("Move selection")},
      {QStringLiteral("J K  /  Page Down Up"), QStringLiteral("Move by 15")},
      {QStringLiteral("g G  /  Home End"), QStringLiteral("First / last")},
      {QStringLiteral("→  /  ←"), QStringLiteral("Expand / collapse folder")},
      {QStringLiteral("Return  or  l"), QStringLiteral("Open folder (files: Quick Look)")},
      {QStringLiteral("Esc  or  h"), QStringLiteral("Up to parent")},
      {QStringLiteral("~"), QStringLiteral("Back to top")},
      {back + QStringLiteral("  /  mouse 4 5"), QStringLiteral("Back / forward")},
      {QStringLiteral("/"), QStringLiteral("Filter this folder")},
      {QStringLiteral("Space"), QStringLiteral("Quick Look")},
      {QStringLiteral("r"), QStringLiteral("Reveal in File Manager")},
      {QStringLiteral("o"), QStringLiteral("Open")},
      {QStringLiteral("c  or  y"), QStringLiteral("Copy path")},
      {keys(Qt::CTRL | Qt::Key_C), QStringLiteral("Copy (file reference, like a file manager)")},
      {QStringLiteral("Backspace Delete  or  d"), QStringLiteral("Add to / remove from delete list")},
      {QStringLiteral("Alt-click  or  the row's icon"),
       QStringLiteral("Same, with the mouse (no selection change)")},
      {keys(Qt::CTRL | Qt::Key_Backspace), QStringLiteral("Move delete list (or selection) to Trash")},
      {keys(Qt::CTRL | Qt::SHIFT | Qt::Key_Backspace), QStringLiteral("Empty the Trash (asks first)")},
      {QStringLiteral("R  /  ") + keys(Qt::CTRL | Qt::SHIFT | Qt::Key_R),
       QStringLiteral("Rescan this folder into the snapshot")},
  };
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
