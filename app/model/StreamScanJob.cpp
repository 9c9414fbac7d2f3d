#include "model/StreamScanJob.h"

#include "model/Background.h"

#include <tallyfox/AtomicFile.h>
#include <tallyfox/NcduExport.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/ProgressRecord.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotFile.h>

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace tallyfox {

namespace {

// Lines kept of what the process says besides progress, for explaining a failure.
constexpr int keptErrorLines = 5;
// A longer line is nobody's message; its bytes are dropped until the next line end.
constexpr qsizetype maxLineBytes = 16 * 1024;
// How long ssh may take to go after it was asked to, before it is killed.
constexpr int terminateGraceMs = 3000;

std::filesystem::path incomingName(const std::filesystem::path& folder) {
  static std::atomic<unsigned> counter{0};
  return folder / (".incoming-" + std::to_string(++counter) + "." + std::to_string(::getpid()) + ".tmp");
}

// A line another machine wrote, as it may be shown: control characters (which could pose
// as line ends or restyle the text) become spaces.
QString shownLine(const QByteArray& bytes) {
  QString text = QString::fromUtf8(bytes);
  for (QChar& c : text)
    if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) c = u' ';
  return text.trimmed();
}

std::array<std::uint8_t, 16> head(const std::filesystem::path& file) {
  std::array<std::uint8_t, 16> bytes{};
  std::ifstream in(file, std::ios::binary);
  in.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
  return bytes;
}

// Moves `from` to `to` unless `to` exists: a name chosen free may be taken by the time the
// file gets there. Whether it was moved.
bool renameIfFree(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  throw std::system_error(errno, std::generic_category(), to.string());
}

std::filesystem::path moveIntoPlace(const std::filesystem::path& incoming,
                                    const std::filesystem::path& folder, const SnapshotFile::Info& info) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto destination = SnapshotsFolder::newSnapshotPath(folder, info.rootPath, info.scanStart);
    if (renameIfFree(incoming, destination)) return destination;
  }
  throw std::runtime_error("No free name for the snapshot in " + folder.string());
}

// The snapshot checked whole: the stream came from another process, perhaps another
// machine, and a file that opens is not yet one that is sound everywhere.
SnapshotFile::Info checkSnapshot(const std::filesystem::path& file) {
  // Opening checks the header and that every column lies within the file: a stream that
  // ended early fails here.
  const DiskTreePtr tree = SnapshotFile::map(file);
  const SnapshotFile::MappedRegion region(file);
  const SnapshotFile::Header header = SnapshotFile::readHeader({region.base(), region.length()});
  std::uint64_t end = SnapshotFile::headerSize;
  for (const auto& column : header.columns) end = std::max<std::uint64_t>(end, column.offset + column.length);
  if (region.length() != end) throw SnapshotFile::FormatError("the stream has bytes after the snapshot");
  if (const auto violation = tree->firstViolation(SnapshotDump::totalsOf(file)))
    throw SnapshotFile::FormatError(*violation);
  return {tree->rootPath(), tree->scanStart(), tree->scanSeconds()};
}

}  // namespace

StreamScanJob::StreamScanJob(ChildScan scan, std::filesystem::path folder)
    : scan_(std::move(scan)), folder_(std::move(folder)), started_(Clock::now()) {
  connect(&process_, &QProcess::finished, this, &StreamScanJob::ended);
  connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart)
      fail(QStringLiteral("Could not start %1: %2").arg(scan_.program, process_.errorString()));
  });
  connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &StreamScanJob::cancel);
}

StreamScanJob::~StreamScanJob() {
  closeErrors();
}

StreamScanJob* StreamScanJob::start(ChildScan scan, std::filesystem::path folder, Finish finish) {
  auto* job = new StreamScanJob(std::move(scan), std::move(folder));
  job->finish_ = std::move(finish);
  // Reported from the event loop, so that whoever started the job is connected by then.
  QTimer::singleShot(0, job, &StreamScanJob::begin);
  return job;
}

void StreamScanJob::begin() {
  if (cancelled_) {
    report({std::nullopt, {}, true});
    return;
  }
  try {
    std::filesystem::create_directories(folder_);
    incoming_ = incomingName(folder_);
    // Made here, exclusively, so that the program's output can only land in a new file.
    const int fd = ::open(incoming_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) throw std::system_error(errno, std::generic_category());
    ::close(fd);
  } catch (const std::system_error& e) {
    incoming_.clear();
    fail(QString::fromStdString(folder_.string() + ": " + e.code().message()));
    return;
  } catch (const std::exception& e) {
    incoming_.clear();
    fail(QString::fromStdString(e.what()));
    return;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    fail(QString::fromLocal8Bit(std::strerror(errno)));
    return;
  }
  errors_ = pipeFds[0];
  ::fcntl(errors_, F_SETFL, ::fcntl(errors_, F_GETFL) | O_NONBLOCK);
  errorsReady_ = new QSocketNotifier(errors_, QSocketNotifier::Read, this);
  connect(errorsReady_, &QSocketNotifier::activated, this, &StreamScanJob::readErrors);
  const int errorWrite = pipeFds[1];
  // Runs in the child between fork and exec: only async-signal-safe calls.
  process_.setChildProcessModifier([errorWrite] { ::dup2(errorWrite, STDERR_FILENO); });
  process_.setProgram(scan_.program);
  process_.setArguments(scan_.arguments);
  process_.setProcessEnvironment(scan_.environment);
  process_.setStandardInputFile(QProcess::nullDevice());
  process_.setStandardOutputFile(QString::fromStdString(incoming_.string()), QIODevice::Truncate);
  process_.start();
  ::close(errorWrite);
}

void StreamScanJob::readErrors() {
  char buffer[4096];
  while (errors_ >= 0) {
    const ssize_t n = ::read(errors_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) closeErrors();
      break;
    }
    pending_.append(buffer, n);
    if (pending_.size() > 2 * maxLineBytes && pending_.indexOf('\n') < 0) pending_.clear();
  }
  qsizetype end;
  while ((end = pending_.indexOf('\n')) >= 0) {
    takeLine(pending_.left(end));
    pending_.remove(0, end + 1);
  }
}

void StreamScanJob::takeLine(const QByteArray& line) {
  if (const auto record =
          ProgressRecord::parse(std::string_view(line.constData(), std::size_t(line.size())))) {
    if (record->entries == entries_) return;
    entries_ = record->entries;
    emit entriesChanged(entries_);
    return;
  }
  const QString shown = shownLine(line.left(maxLineBytes));
  if (shown.isEmpty()) return;
  errorLines_ << shown;
  while (errorLines_.size() > keptErrorLines) errorLines_.removeFirst();
}

void StreamScanJob::ended(int exitCode, QProcess::ExitStatus status) {
  if (reported_) return;
  readErrors();
  if (!pending_.isEmpty()) takeLine(pending_);
  if (cancelled_) {
    report({std::nullopt, {}, true});
    return;
  }
  if (status != QProcess::NormalExit) {
    fail(QStringLiteral("%1 ended unexpectedly").arg(QFileInfo(scan_.program).fileName()));
    return;
  }
  if (exitCode != 0) {
    fail(scan_.explain ? scan_.explain(exitCode, errorLines_)
                       : QStringLiteral("exit status %1").arg(exitCode));
    return;
  }
  emit saving();
  Background::run(
      this,
      [incoming = incoming_, folder = folder_, place = scan_.place, finish = finish_] {
        ScanJob::Outcome outcome;
        try {
          outcome.written = finish ? adopt(incoming, finish) : adopt(incoming, folder);
        } catch (const std::exception& e) {
          outcome.error = QStringLiteral("The snapshot of %1 did not arrive whole: %2")
                              .arg(place, QString::fromStdString(e.what()));
        }
        return outcome;
      },
      [this](const ScanJob::Outcome& outcome) { report(outcome); });
}

namespace {

// Removes the streamed file however its reading ends.
struct Remover {
  const std::filesystem::path& file;
  ~Remover() {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
  }
};

enum class Kind { snapshot, export_ };

Kind kindOf(const std::filesystem::path& incoming) {
  const auto bytes = head(incoming);
  if (std::equal(SnapshotFile::magic.begin(), SnapshotFile::magic.end(), bytes.begin()))
    return Kind::snapshot;
  if (NcduExport::looksLikeExport(bytes)) return Kind::export_;
  if (std::filesystem::file_size(incoming) == 0) throw std::runtime_error("nothing came back");
  throw std::runtime_error("what came back is neither a snapshot nor an export");
}

}  // namespace

std::filesystem::path StreamScanJob::adopt(const std::filesystem::path& incoming,
                                           const std::filesystem::path& folder) {
  const Remover remover{incoming};
  if (kindOf(incoming) == Kind::snapshot) return moveIntoPlace(incoming, folder, checkSnapshot(incoming));
  const NcduExport::DecodedSnapshot decoded = NcduExport::decodeColumns(incoming);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto destination =
        SnapshotsFolder::newSnapshotPath(folder, decoded.info.rootPath, decoded.info.scanStart);
    std::error_code error;
    if (std::filesystem::exists(destination, error)) continue;
    SnapshotFile::write(decoded.columns, decoded.info, destination);
    return destination;
  }
  throw std::runtime_error("No free name for the snapshot in " + folder.string());
}

std::filesystem::path StreamScanJob::adopt(const std::filesystem::path& incoming, const Finish& finish) {
  const Remover remover{incoming};
  if (kindOf(incoming) == Kind::snapshot) {
    checkSnapshot(incoming);
    return finish(SnapshotFile::map(incoming));
  }
  NcduExport::DecodedSnapshot decoded = NcduExport::decodeColumns(incoming);
  return finish(SnapshotFile::inMemory(std::move(decoded.columns), decoded.info));
}

void StreamScanJob::closeErrors() {
  if (errorsReady_) {
    errorsReady_->setEnabled(false);
    errorsReady_->deleteLater();
    errorsReady_ = nullptr;
  }
  if (errors_ >= 0) ::close(errors_);
  errors_ = -1;
}

void StreamScanJob::cancel() {
  if (reported_ || cancelled_) return;
  cancelled_ = true;
  // Not started yet: begin() sees the cancel and starts nothing.
  if (process_.state() == QProcess::NotRunning) return;
  // A process of another user (pkexec's root) takes no signal from here: with standard
  // error closed, its next progress record ends it.
  closeErrors();
  process_.terminate();
  QTimer::singleShot(terminateGraceMs, this, [this] {
    if (process_.state() != QProcess::NotRunning) process_.kill();
  });
}

void StreamScanJob::fail(const QString& message) {
  report({std::nullopt, message.isEmpty() ? QStringLiteral("The scan failed.") : message, false});
}

void StreamScanJob::report(const ScanJob::Outcome& outcome) {
  if (reported_) return;
  reported_ = true;
  if (!incoming_.empty() && !outcome.written) {
    std::error_code ignored;
    std::filesystem::remove(incoming_, ignored);
  }
  emit finished(outcome);
  deleteLater();
}

}  // namespace tallyfox
