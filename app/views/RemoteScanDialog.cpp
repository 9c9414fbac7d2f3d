#include "views/RemoteScanDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace tallyfox {

RemoteScanDialog::RemoteScanDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Scan Remote Folder"));
  auto* column = new QVBoxLayout(this);
  auto* intro = new QLabel(QStringLiteral("Tallyfox connects with your own ssh (your keys, agent and "
                                          "configuration) and runs tfscan there, or ncdu or gdu when "
                                          "the host has no tfscan."),
                           this);
  intro->setWordWrap(true);
  column->addWidget(intro);

  auto* form = new QFormLayout;
  host_ = new QComboBox(this);
  host_->setEditable(true);
  host_->setInsertPolicy(QComboBox::NoInsert);
  host_->lineEdit()->setPlaceholderText(QStringLiteral("host, user@host or host:port"));
  host_->setMinimumWidth(280);
  form->addRow(QStringLiteral("Host:"), host_);
  path_ = new QLineEdit(QStringLiteral("/"), this);
  path_->setPlaceholderText(QStringLiteral("/srv, ~ or ~/projects"));
  form->addRow(QStringLiteral("Folder:"), path_);
  column->addLayout(form);

  problem_ = new QLabel(this);
  problem_->setTextFormat(Qt::PlainText);
  QPalette red = problem_->palette();
  red.setColor(QPalette::WindowText, QColor(200, 40, 40));
  problem_->setPalette(red);
  column->addWidget(problem_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  scan_ = buttons->addButton(QStringLiteral("Scan"), QDialogButtonBox::AcceptRole);
  scan_->setDefault(true);
  column->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(host_, &QComboBox::editTextChanged, this, &RemoteScanDialog::check);
  connect(path_, &QLineEdit::textChanged, this, &RemoteScanDialog::check);
  check();

  SshTarget::readAliases(this, [this](const std::vector<std::string>& hosts) {
    const QString typed = host_->currentText();
    for (const std::string& host : hosts) host_->addItem(QString::fromStdString(host));
    host_->setEditText(typed);
    emit hostsOffered();
  });
}

std::optional<SshTarget> RemoteScanDialog::target() const {
  return SshTarget::parse(host_->currentText());
}

QString RemoteScanDialog::path() const {
  const QString text = path_->text().trimmed();
  return text.isEmpty() ? QStringLiteral("~") : text;
}

QString RemoteScanDialog::problem() const {
  return problem_->text();
}

void RemoteScanDialog::check() {
  QString why;
  const bool typed = !host_->currentText().trimmed().isEmpty();
  const bool valid = SshTarget::parse(host_->currentText(), &why).has_value();
  // An empty field is not yet a mistake: the button waits without scolding.
  problem_->setText(typed && !valid ? why : QString());
  scan_->setEnabled(valid);
}

}  // namespace tallyfox
