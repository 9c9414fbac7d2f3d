#include "shell/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>

#include <unistd.h>

namespace tallyfox {

namespace {

constexpr int connectTimeoutMs = 1000;
constexpr int replyTimeoutMs = 5000;
const QByteArray acknowledgement = QByteArrayLiteral("ok\n");

}  // namespace

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QDir(runtime).exists())
    return runtime + QStringLiteral("/io.quillon.Tallyfox.socket");
  return QDir::tempPath() + QStringLiteral("/io.quillon.Tallyfox-") + QString::number(getuid()) +
         QStringLiteral(".socket");
}

bool SingleInstance::handOff(const std::vector<std::filesystem::path>& files, bool newScan) {
  return send({files, newScan, {}});
}

bool SingleInstance::handOffComparison(const Comparison& comparison) {
  return send({{}, false, {comparison}});
}

bool SingleInstance::send(const InstanceRequest& request) {
  // Launches that start together take turns, so that exactly one becomes the instance.
  if (!lock_) {
    lock_ = std::make_unique<QLockFile>(name_ + QStringLiteral(".lock"));
    lock_->setStaleLockTime(10000);
    if (!lock_->tryLock(5000)) lock_.reset();
  }
  QLocalSocket socket;
  socket.connectToServer(name_);
  if (!socket.waitForConnected(connectTimeoutMs)) return false;
  socket.write(request.encoded());
  if (!socket.waitForBytesWritten(replyTimeoutMs)) return false;
  QByteArray reply;
  while (reply.size() < acknowledgement.size() && socket.waitForReadyRead(replyTimeoutMs))
    reply += socket.readAll();
  return reply.startsWith(acknowledgement);
}

bool SingleInstance::listen() {
  if (server_) return server_->isListening();
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // Nobody answered handOff, so a socket file left here belongs to a process that is gone.
  QLocalServer::removeServer(name_);
  if (!server_->listen(name_)) return false;
  connect(server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
  lock_.reset();
  return true;
}

bool SingleInstance::isListening() const {
  return server_ && server_->isListening();
}

void SingleInstance::accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    const QPointer<QLocalSocket> guard(socket);
    connect(socket, &QLocalSocket::readyRead, this, [this, guard] {
      if (!guard) return;
      QByteArray buffered = guard->property("request").toByteArray() + guard->readAll();
      if (buffered.size() > InstanceRequest::longest) {
        guard->abort();
        return;
      }
      guard->setProperty("request", buffered);
      if (!InstanceRequest::complete(buffered)) return;
      const InstanceRequest request = InstanceRequest::parse(buffered);
      guard->write(acknowledgement);
      guard->flush();
      guard->disconnectFromServer();
      if (!request.files.empty() || (!request.newScan && request.comparisons.empty()))
        emit filesRequested(request.files);
      if (request.newScan) emit newScanRequested();
      for (const Comparison& comparison : request.comparisons) emit comparisonRequested(comparison);
    });
  }
}

}  // namespace tallyfox
