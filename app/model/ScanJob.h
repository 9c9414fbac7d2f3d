#pragma once

#include <tallyfox/Scanner.h>
#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotFile.h>

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tallyfox {

// One scan in the background, whatever it is for: the scanner's own threads, the progress
// poll on the main thread, and what becomes of the finished columns, done off the main
// thread. Whole scans (the scan controller) and partial scans of an open snapshot run
// through it alike.
//
// A job belongs to nobody: it outlives the window that started it (a partial scan goes on
// when its window closes) and deletes itself once it has reported `finished`. Hold it in a
// QPointer.
class ScanJob : public QObject {
  Q_OBJECT

 public:
  using Clock = std::chrono::system_clock;
  static constexpr std::chrono::milliseconds pollInterval{200};

  // Runs in the thread pool after a scan that was not cancelled: turns what the scan built
  // (taken from the sink, in whichever form suits) and its header into a written snapshot
  // file and returns its path; throws on failure.
  using Finish =
      std::function<std::filesystem::path(SnapshotBuilderSink& sink, const SnapshotFile::Info& header)>;

  struct Outcome {
    std::optional<std::filesystem::path> written;
    // Why nothing was written, unless the scan was cancelled.
    QString error;
    bool cancelled = false;
  };

  // Starts at once; the header's start time is taken now.
  static ScanJob* start(const std::string& root, ScanOptions options, Finish finish);

  const std::shared_ptr<Scanner>& scanner() const { return scanner_; }
  Clock::time_point started() const { return started_; }
  quint64 entries() const { return entries_; }
  // Changes the running scan's speed at once.
  void setSpeed(ScanSpeed speed);
  // Stops the scan without writing anything; `finished` reports it as cancelled.
  void cancel();

 signals:
  void entriesChanged(quint64 entries);
  // The scan is over and its result is being built and written.
  void saving();
  void finished(const tallyfox::ScanJob::Outcome& outcome);

 private:
  ScanJob(std::shared_ptr<Scanner> scanner, Clock::time_point started);
  void poll();
  void report(const Outcome& outcome);

  std::shared_ptr<Scanner> scanner_;
  Clock::time_point started_;
  quint64 entries_ = 0;
  bool scanning_ = true;
  QTimer poll_;
};

}  // namespace tallyfox
