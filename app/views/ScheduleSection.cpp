#include "views/ScheduleSection.h"

#include "model/Schedule.h"
#include "model/Settings.h"

#include <tallyfox/SnapshotPaths.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace tallyfox {

namespace {

constexpr double bytesPerGB = 1e9;

QString shown(const std::string& folder) {
  return QString::fromStdString(PathText::abbreviateTilde(folder));
}

}  // namespace

ScheduleSection::ScheduleSection(Settings& settings, Schedule& schedule, QWidget* parent)
    : QWidget(parent),
      settings_(settings),
      schedule_(schedule),
      on_(new QCheckBox(QStringLiteral("Snapshots on a schedule"), this)),
      status_(new QLabel(this)),
      folders_(new QListWidget(this)),
      add_(new QPushButton(QStringLiteral("Add Folder…"), this)),
      addRoot_(new QPushButton(QStringLiteral("Add Whole Disk"), this)),
      remove_(new QPushButton(QStringLiteral("Remove"), this)),
      frequency_(new QComboBox(this)),
      threshold_(new QDoubleSpinBox(this)) {
  chooser_ = [](QWidget* parent) -> std::optional<QString> {
    const QString folder =
        QFileDialog::getExistingDirectory(parent, QStringLiteral("Add a Folder to the Schedule"),
                                          QString::fromStdString(PathText::homeDirectory()));
    return folder.isEmpty() ? std::nullopt : std::optional(folder);
  };
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->addWidget(on_);
  status_->setWordWrap(true);
  status_->setTextFormat(Qt::PlainText);
  column->addWidget(status_);

  folders_->setMaximumHeight(90);
  folders_->setSelectionMode(QAbstractItemView::SingleSelection);
  column->addWidget(folders_);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {add_, addRoot_, remove_}) buttons->addWidget(button);
  buttons->addStretch();
  column->addLayout(buttons);

  auto* when = new QHBoxLayout;
  frequency_->addItem(QStringLiteral("Daily"), QStringLiteral("daily"));
  frequency_->addItem(QStringLiteral("Weekly"), QStringLiteral("weekly"));
  when->addWidget(frequency_);
  when->addSpacing(16);
  when->addWidget(new QLabel(QStringLiteral("Notify when a folder grew by more than"), this));
  threshold_->setRange(0.1, 100000);
  threshold_->setDecimals(1);
  threshold_->setSingleStep(0.5);
  threshold_->setSuffix(QStringLiteral(" GB"));
  when->addWidget(threshold_);
  when->addStretch();
  column->addLayout(when);

  auto* note = new QLabel(
      QStringLiteral("tfscan scans these folders in the background at the lowest priority, keeps every "
                     "snapshot of the last 7 days, one a week for 8 weeks and one a month for a year, and "
                     "notifies you when a folder grew past the threshold or free space fell below 10 %."),
      this);
  note->setWordWrap(true);
  QFont small = note->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  note->setFont(small);
  note->setForegroundRole(QPalette::PlaceholderText);
  column->addWidget(note);

  connect(on_, &QCheckBox::toggled, this, [this](bool checked) { schedule_.setOn(checked); });
  connect(add_, &QPushButton::clicked, this, [this] {
    if (const auto folder = chooser_(this)) addFolder(*folder);
  });
  connect(addRoot_, &QPushButton::clicked, this, [this] { addFolder(QStringLiteral("/")); });
  connect(remove_, &QPushButton::clicked, this, [this] {
    delete folders_->currentItem();
    storeFolders();
  });
  connect(folders_, &QListWidget::currentRowChanged, this, [this] { refresh(); });
  connect(frequency_, &QComboBox::activated, this, [this](int index) {
    const auto frequency =
        ScheduleUnits::frequencyNamed(frequency_->itemData(index).toString().toStdString());
    if (frequency) schedule_.setFrequency(*frequency);
  });
  connect(threshold_, &QDoubleSpinBox::editingFinished, this, [this] {
    settings_.setGrowthAlertBytes(std::uint64_t(std::llround(threshold_->value() * bytesPerGB)));
  });
  for (auto signal : {&Schedule::availabilityChanged, &Schedule::isOnChanged, &Schedule::isBusyChanged,
                      &Schedule::errorChanged, &Schedule::frequencyChanged})
    connect(&schedule_, signal, this, &ScheduleSection::refresh);
  connect(&settings_, &Settings::scheduledFoldersChanged, this, &ScheduleSection::refresh);
  connect(&settings_, &Settings::growthAlertBytesChanged, this, &ScheduleSection::refresh);
  refresh();
}

void ScheduleSection::addFolder(const QString& folder) {
  std::vector<std::string> folders = settings_.scheduledFolders();
  const std::string path = PathText::standardize(folder.toStdString());
  if (std::find(folders.begin(), folders.end(), path) != folders.end()) return;
  folders.push_back(path);
  settings_.setScheduledFolders(folders);
}

void ScheduleSection::storeFolders() {
  std::vector<std::string> folders;
  for (int i = 0; i < folders_->count(); ++i)
    folders.push_back(folders_->item(i)->data(Qt::UserRole).toString().toStdString());
  settings_.setScheduledFolders(folders);
}

void ScheduleSection::refresh() {
  using Kind = Schedule::Availability::Kind;
  const Schedule::Availability& availability = schedule_.availability();
  {
    const QSignalBlocker quiet(on_);
    on_->setChecked(schedule_.isOn());
  }
  // Off can always be chosen; on only where a user instance of systemd runs.
  on_->setEnabled(!schedule_.isBusy() && (schedule_.isOn() || availability.kind == Kind::available));
  QString status;
  if (!schedule_.error().isEmpty())
    status = schedule_.error();
  else if (availability.kind == Kind::unavailable)
    status = availability.reason;
  else if (availability.kind == Kind::checking)
    status = QStringLiteral("Looking for systemd…");
  else if (schedule_.isBusy())
    status = QStringLiteral("Updating the schedule…");
  else if (schedule_.isOn() && schedule_.unitFolder())
    status = QStringLiteral("Runs from the systemd user timer in ") +
             shown(schedule_.unitFolder()->string() + "/" + ScheduleUnits::timerName) + QStringLiteral(".");
  status_->setText(status);
  status_->setVisible(!status.isEmpty());
  QPalette colours = palette();
  if (!schedule_.error().isEmpty() || availability.kind == Kind::unavailable)
    colours.setColor(QPalette::WindowText, QColor(230, 126, 34));
  status_->setPalette(colours);

  const std::vector<std::string> folders = settings_.scheduledFolders();
  const QString selected =
      folders_->currentItem() ? folders_->currentItem()->data(Qt::UserRole).toString() : QString();
  {
    const QSignalBlocker quiet(folders_);
    folders_->clear();
    for (const std::string& folder : folders) {
      auto* item = new QListWidgetItem(shown(folder), folders_);
      item->setData(Qt::UserRole, QString::fromStdString(folder));
      if (item->data(Qt::UserRole).toString() == selected) folders_->setCurrentItem(item);
    }
  }
  addRoot_->setEnabled(std::find(folders.begin(), folders.end(), "/") == folders.end());
  remove_->setEnabled(folders_->currentItem() != nullptr);
  frequency_->setCurrentIndex(schedule_.frequency() == ScheduleUnits::Frequency::weekly ? 1 : 0);
  if (!threshold_->hasFocus()) {
    const QSignalBlocker quiet(threshold_);
    threshold_->setValue(double(settings_.growthAlertBytes()) / bytesPerGB);
  }
}

}  // namespace tallyfox
