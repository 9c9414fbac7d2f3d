#include "views/AboutWindow.h"

#include "model/Settings.h"
#include "platform/LocalPath.h"
#include "views/Icons.h"

#include <tallyfox/Preferences.h>

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tallyfox {

namespace {

QString shown(const std::filesystem::path& path) {
  return displayPath(QByteArray::fromStdString(path.string()));
}

QLabel* selectable(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(true);
  return label;
}

}  // namespace

AboutFacts AboutFacts::of(const Settings& settings) {
  AboutFacts facts;
  facts.version = QStringLiteral(TALLYFOX_VERSION);
  facts.licence = QStringLiteral(TALLYFOX_LICENCE);
  facts.snapshotsFolder = shown(settings.snapshotsFolder());
  if (settings.store()) facts.settingsFile = shown(settings.store()->file());
  return facts;
}

AboutWindow::AboutWindow(const Settings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("About Tallyfox"));
  auto* layout = new QVBoxLayout(this);

  auto* icon = new QLabel(this);
  icon->setPixmap(Icons::icon(Icons::Symbol::app).pixmap(QSize(64, 64), devicePixelRatioF()));
  icon->setAlignment(Qt::AlignHCenter);
  layout->addWidget(icon);
  auto* name = new QLabel(QStringLiteral("Tallyfox"), this);
  QFont big = name->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  big.setBold(true);
  name->setFont(big);
  name->setAlignment(Qt::AlignHCenter);
  layout->addWidget(name);
  version_ = new QLabel(this);
  version_->setAlignment(Qt::AlignHCenter);
  version_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(version_);
  auto* summary = new QLabel(
      QStringLiteral("Scans folders into snapshots and shows what fills the disk, folder by folder. "
                     "tfscan does the same from a terminal."),
      this);
  summary->setWordWrap(true);
  summary->setAlignment(Qt::AlignHCenter);
  layout->addWidget(summary);
  layout->addSpacing(8);

  auto* facts = new QFormLayout;
  licence_ = selectable(this);
  snapshots_ = selectable(this);
  settingsFile_ = selectable(this);
  facts->addRow(QStringLiteral("Licence:"), licence_);
  facts->addRow(QStringLiteral("Snapshots:"), snapshots_);
  facts->addRow(QStringLiteral("Settings:"), settingsFile_);
  layout->addLayout(facts);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  layout->addWidget(buttons);
  setMinimumWidth(460);
  refresh();
}

void AboutWindow::refresh() {
  const AboutFacts facts = AboutFacts::of(settings_);
  version_->setText(QStringLiteral("Version ") + facts.version);
  licence_->setText(facts.licence);
  snapshots_->setText(facts.snapshotsFolder);
  settingsFile_->setText(facts.settingsFile.isEmpty()
                             ? QStringLiteral("not kept: there is no home folder")
                             : facts.settingsFile + QStringLiteral(", shared with tfscan"));
}

void AboutWindow::showEvent(QShowEvent* event) {
  refresh();
  QDialog::showEvent(event);
}

}  // namespace tallyfox
