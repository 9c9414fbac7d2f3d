#include "views/RequestDialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

namespace tallyfox {

namespace {

void chooseFile(const FileRequestPtr& request, QWidget* window) {
  auto* dialog = new QFileDialog(window);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(Qt::WindowModal);
  dialog->setWindowTitle(request->message);
  dialog->setLabelText(QFileDialog::LookIn, request->message);
  const bool saving = request->kind == FileRequest::Kind::save;
  dialog->setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog->setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!request->nameFilters.isEmpty()) dialog->setNameFilters(request->nameFilters);
  if (!request->folder.empty()) dialog->setDirectory(QFile::decodeName(request->folder.c_str()));
  if (!request->proposedName.isEmpty()) dialog->selectFile(request->proposedName);
  // The request lives as long as the dialog; closing it any way answers.
  QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [request](const QString& file) {
    request->answer(std::filesystem::path(QFile::encodeName(file).toStdString()));
  });
  QObject::connect(dialog, &QObject::destroyed, dialog, [request] { request->answer(std::nullopt); });
  dialog->open();
}

void confirm(const ConfirmationRequestPtr& request, QWidget* window) {
  auto* box = new QMessageBox(window);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::WindowModal);
  box->setIcon(request->destructive ? QMessageBox::Warning : QMessageBox::Question);
  box->setText(request->title);
  box->setInformativeText(request->message);
  QPushButton* confirmButton = box->addButton(request->confirmText, QMessageBox::AcceptRole);
  QPushButton* cancelButton = box->addButton(request->cancelText, QMessageBox::RejectRole);
  // A dangerous action is never what Return does by accident.
  box->setDefaultButton(request->destructive ? cancelButton : confirmButton);
  box->setEscapeButton(cancelButton);
  QObject::connect(box, &QMessageBox::buttonClicked, box, [request, confirmButton](QAbstractButton* button) {
    request->answer(button == confirmButton);
  });
  QObject::connect(box, &QObject::destroyed, box, [request] { request->answer(false); });
  box->open();
}

void alert(const QString& title, const QString& message, QWidget* window) {
  auto* box = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::Ok, window);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::WindowModal);
  box->setInformativeText(message);
  box->open();
}

}  // namespace

void answerRequests(Requests& requests, QWidget* window) {
  QObject::connect(&requests, &Requests::fileRequested, window,
                   [window](const FileRequestPtr& request) { chooseFile(request, window); });
  QObject::connect(&requests, &Requests::confirmationRequested, window,
                   [window](const ConfirmationRequestPtr& request) { confirm(request, window); });
  QObject::connect(&requests, &Requests::alertRequested, window,
                   [window](const QString& title, const QString& message) { alert(title, message, window); });
}

}  // namespace tallyfox
