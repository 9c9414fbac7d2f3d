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
// Requests are short lists of paths; anything longer is not from us.
constexpr qint64 longestRequest = 1 << 20;
const QByteArray acknowledgement = QByteArrayLiteral("ok\n");
// A line of its own; never a path, since paths are absolute and start with a slash.
const QByteArray newScanLine = QByteArrayLiteral("new-scan");
// "compare", then the snapshot, the baseline and the folder, each percent-encoded (so without
// blanks), separated by blanks.
const QByteArray compareWord = QByteArrayLiteral("compare");

QByteArray encoded(const std::string& bytes) {
  return QByteArray::fromStdString(bytes).toPercentEncoding("/");
}

std::string decoded(const QByteArray& line) {
  return QByteArray::fromPercentEncoding(line).toStdString();
}

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
  // One path per line, then an empty line. A path's bytes are percent-encoded as they are,
  // never decoded as text, so that every name, even one with a line break or bytes that are
  // not UTF-8, fits on its line and arrives unchanged.
  QByteArray request;
  for (const auto& file : files) request += encoded(file.native()) + '\n';
  if (newScan) request += newScanLine + '\n';
  return send(request);
}

bool SingleInstance::handOffComparison(const Comparison& comparison) {
  return send(compareWord + ' ' + encoded(comparison.snapshot.native()) + ' ' +
              encoded(comparison.baseline.native()) + ' ' + encoded(comparison.folder) + '\n');
}

bool SingleInstance::send(const QByteArray& lines) {
  // Launches that start together take turns, so that exactly one becomes the instance.
  if (!lock_) {
    lock_ = std::make_unique<QLockFile>(name_ + QStringLiteral(".lock"));
    lock_->setStaleLockTime(10000);
    if (!lock_->tryLock(5000)) lock_.reset();
  }
  QLocalSocket socket;
  socket.connectToServer(name_);
  if (!socket.waitForConnected(connectTimeoutMs)) return false;
  socket.write(lines + '\n');
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
      if (buffered.size() > longestRequest) {
        guard->abort();
        return;
      }
      guard->setProperty("request", buffered);
      if (!buffered.endsWith("\n\n") && buffered != "\n") return;
      std::vector<std::filesystem::path> files;
      std::vector<Comparison> comparisons;
      bool newScan = false;
      for (const QByteArray& line : buffered.split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (line == newScanLine)
          newScan = true;
        else if (words.size() == 4 && words[0] == compareWord)
          comparisons.push_back({decoded(words[1]), decoded(words[2]), decoded(words[3])});
        else if (!line.isEmpty())
          files.emplace_back(decoded(line));
      }
      guard->write(acknowledgement);
      guard->flush();
      guard->disconnectFromServer();
      if (!files.empty() || (!newScan && comparisons.empty())) emit filesRequested(files);
      if (newScan) emit newScanRequested();
      for (const Comparison& comparison : comparisons) emit comparisonRequested(comparison);
    });
  }
}

}  // namespace tallyfox
