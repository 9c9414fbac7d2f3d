#include "views/SettingsView.h"

#include "model/Settings.h"
#include "platform/FileManager.h"
#include "views/ScheduleSection.h"
#include "views/SnapshotsFolder.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

namespace tallyfox {

namespace {

QLabel* note(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  label->setTextFormat(Qt::RichText);
  QFont small = label->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  label->setFont(small);
  label->setForegroundRole(QPalette::PlaceholderText);
  return label;
}

QString titleOf(ScanSpeed speed) {
  QString raw = QString::fromLatin1(rawValue(speed).data(), qsizetype(rawValue(speed).size()));
  raw[0] = raw[0].toUpper();
  return raw;
}

}  // namespace

SettingsView::SettingsView(Settings& settings, std::shared_ptr<FileManager> fileManager, Schedule* schedule,
                           QWidget* parent)
    : QWidget(parent),
      settings_(settings),
      fileManager_(std::move(fileManager)),
      speeds_(new QButtonGroup(this)),
      path_(new QLabel(this)),
      refusal_(new QLabel(this)),
      choose_(new QPushButton(QStringLiteral("Choose…"), this)),
      reveal_(new QPushButton(QStringLiteral("Reveal in File Manager"), this)),
      useDefault_(new QPushButton(QStringLiteral("Use Default"), this)),
      chooser_(&chooseSnapshotsFolder) {
  setWindowTitle(QStringLiteral("Settings"));
  auto* form = new QFormLayout(this);
  form->setRowWrapPolicy(QFormLayout::DontWrapRows);

  // Above everything: the choices below would otherwise seem not to stick.
  refusal_->setWordWrap(true);
  refusal_->setTextFormat(Qt::PlainText);
  QPalette warning = refusal_->palette();
  warning.setColor(QPalette::WindowText, QColor(230, 126, 34));
  refusal_->setPalette(warning);
  form->addRow(refusal_);

  // The speed: three segments, the saved one checked.
  auto* speedColumn = new QVBoxLayout;
  auto* segments = new QHBoxLayout;
  segments->setSpacing(0);
  for (const ScanSpeed speed : allScanSpeeds) {
    auto* button = new QPushButton(titleOf(speed), this);
    button->setCheckable(true);
    speeds_->addButton(button, int(speed));
    segments->addWidget(button);
  }
  segments->addStretch();
  speeds_->setExclusive(true);
  connect(speeds_, &QButtonGroup::idClicked, this,
          [this](int id) { settings_.setScanSpeed(ScanSpeed(std::uint8_t(id))); });
  speedColumn->addLayout(segments);
  speedColumn->addWidget(
      note(QStringLiteral("Gentle uses two low-priority threads with throttled disk access, so it "
                          "barely affects other work but takes about 3× as long. tfscan uses this "
                          "setting too (override with -s)."),
           this));
  form->addRow(QStringLiteral("Scan speed:"), speedColumn);

  // The folder: where it is, and what can be done with it.
  auto* folderColumn = new QVBoxLayout;
  path_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  folderColumn->addWidget(path_);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {choose_, reveal_, useDefault_}) buttons->addWidget(button);
  buttons->addStretch();
  folderColumn->addLayout(buttons);
  folderColumn->addWidget(
      note(QStringLiteral("Scans from Tallyfox and <code>tfscan</code> save here, and the start "
                          "window lists snapshots from it."),
           this));
  form->addRow(QStringLiteral("Snapshots folder:"), folderColumn);

  if (schedule) {
    schedule_ = new ScheduleSection(settings_, *schedule, this);
    form->addRow(QStringLiteral("Schedule:"), schedule_);
  }

  connect(choose_, &QPushButton::clicked, this, [this] {
    if (chooser_(settings_, this)) refresh();
  });
  connect(reveal_, &QPushButton::clicked, this, [this] {
    if (fileManager_) revealSnapshotsFolder(settings_, *fileManager_);
  });
  connect(useDefault_, &QPushButton::clicked, this, [this] {
    settings_.resetSnapshotsFolder();
    refresh();
  });
  // tfscan, or another window, may change them too.
  connect(&settings_, &Settings::scanSpeedChanged, this, &SettingsView::refresh);
  connect(&settings_, &Settings::snapshotsFolderChanged, this, &SettingsView::refresh);
  refresh();
}

void SettingsView::refresh() {
  const QString refusal = settings_.refusal();
  refusal_->setText(refusal);
  refusal_->setVisible(!refusal.isEmpty());
  path_->setText(settings_.snapshotsFolderText());
  const bool isDefault = !settings_.store() || !settings_.store()->get(Preferences::snapshotsFolderKey);
  useDefault_->setVisible(!isDefault);
  if (QAbstractButton* current = speeds_->button(int(settings_.scanSpeed()))) current->setChecked(true);
}

void SettingsView::revealSnapshotsFolder(const Settings& settings, FileManager& fileManager) {
  const std::filesystem::path folder = settings.snapshotsFolder();
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  fileManager.reveal(QByteArray::fromStdString(folder.string()));
}

}  // namespace tallyfox
