// tallyfox-askpass: the SSH_ASKPASS helper of Tallyfox's remote scans. ssh runs it with its
// question as the only argument and reads the answer from its standard output: a
// passphrase, a password, or "yes" to trust a host key it has not seen before. A question
// left unanswered (Cancel, closing the dialog) exits with status 1, which ssh takes as no.
#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include <sys/prctl.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>

namespace {

// ssh's prompt is shown as it is, as text: it carries the host's name and key fingerprint.
QString question(int argc, char** argv) {
  return argc > 1 ? QString::fromLocal8Bit(argv[1]).trimmed() : QStringLiteral("ssh asks for a password");
}

bool isHostKeyQuestion(const QString& text) {
  return text.contains(QStringLiteral("(yes/no"));
}

int answer(const QByteArray& text) {
  std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
  std::fputc('\n', stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Once ssh is gone (the scan was cancelled), nobody waits for this answer.
  const pid_t asker = ::getppid();
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != asker) return 1;

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tallyfox"));
  QApplication::setDesktopFileName(QStringLiteral("io.quillon.Tallyfox"));
  const QString text = question(argc, argv);
  const QByteArray mode = qgetenv("SSH_ASKPASS_PROMPT");

  if (isHostKeyQuestion(text) || mode == "confirm") {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Tallyfox: Remote Scan"), QString());
    box.setTextFormat(Qt::PlainText);
    box.setText(isHostKeyQuestion(text) ? QStringLiteral("Tallyfox has not connected to this host before.")
                                        : QStringLiteral("ssh asks for confirmation."));
    box.setInformativeText(text);
    QPushButton* trust = box.addButton(
        isHostKeyQuestion(text) ? QStringLiteral("Trust and Connect") : QStringLiteral("Confirm"),
        QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() != trust) return 1;
    return mode == "confirm" ? 0 : answer("yes");
  }
  if (mode == "none") {
    QMessageBox::information(nullptr, QStringLiteral("Tallyfox: Remote Scan"), text);
    return 0;
  }
  QInputDialog dialog;
  dialog.setWindowTitle(QStringLiteral("Tallyfox: Remote Scan"));
  dialog.setLabelText(text);
  dialog.setTextEchoMode(QLineEdit::Password);
  dialog.setOkButtonText(QStringLiteral("Connect"));
  if (dialog.exec() != QDialog::Accepted) return 1;
  return answer(dialog.textValue().toUtf8());
}
