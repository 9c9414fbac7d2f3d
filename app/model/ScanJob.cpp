#include "model/ScanJob.h"

#include "model/Background.h"

#include <QCoreApplication>
#include <QPointer>

#include <exception>
#include <stdexcept>
#include <system_error>

namespace tallyfox {

ScanJob::ScanJob(std::shared_ptr<Scanner> scanner, Clock::time_point started)
    : scanner_(std::move(scanner)), started_(started) {
  poll_.setInterval(pollInterval);
  poll_.setTimerType(Qt::PreciseTimer);
  connect(&poll_, &QTimer::timeout, this, &ScanJob::poll);
  poll_.start();
  // Nobody waits for a scan once the app quits, and the thread pool would hold the exit
  // until it ended.
  connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &ScanJob::cancel);
}

ScanJob* ScanJob::start(const std::string& root, ScanOptions options, Finish finish) {
  auto sink = std::make_shared<SnapshotBuilderSink>();
  auto scanner = std::make_shared<Scanner>(root, std::move(options), sink);
  const Clock::time_point started = Clock::now();
  auto* job = new ScanJob(scanner, started);
  Background::run(
      job,
      [self = QPointer<ScanJob>(job), scanner, sink, root, started, finish = std::move(finish)] {
        Outcome outcome;
        try {
          ScanStats stats;
          try {
            stats = scanner->run();
          } catch (const std::system_error& e) {
            // The folder itself could not be read: say which, as tfscan does.
            throw std::runtime_error(root + ": " + e.code().message());
          }
          outcome.cancelled = scanner->isCancelled();
          if (!outcome.cancelled) {
            Background::post(self, [self] {
              self->scanning_ = false;
              self->poll();
              emit self->saving();
            });
            outcome.written = finish(*sink, {root, started, stats.seconds});
          }
        } catch (const std::exception& e) {
          outcome.error = QString::fromStdString(e.what());
          if (outcome.error.isEmpty()) outcome.error = QStringLiteral("The scan failed.");
        }
        return outcome;
      },
      [job](const Outcome& outcome) { job->report(outcome); });
  return job;
}

void ScanJob::poll() {
  const quint64 now = scanner_->progressEntries();
  if (!scanning_) poll_.stop();
  if (now == entries_) return;
  entries_ = now;
  emit entriesChanged(now);
}

void ScanJob::report(const Outcome& outcome) {
  poll_.stop();
  emit finished(outcome);
  deleteLater();
}

void ScanJob::setSpeed(ScanSpeed speed) {
  if (scanning_) scanner_->setSpeed(speed);
}

void ScanJob::cancel() {
  scanner_->cancel();
}

}  // namespace tallyfox
