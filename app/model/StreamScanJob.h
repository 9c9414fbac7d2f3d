#pragma once

#include "model/ChildScan.h"
#include "model/ScanJob.h"

#include <QObject>
#include <QProcess>
#include <QSocketNotifier>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>

namespace tallyfox {

// A scan done by another process (ChildScan) and streamed back: its standard output goes
// straight into a temporary file in the destination folder, never through this process's
// memory; its standard error is read for progress records and for what it says when it
// fails. When it ends well the file is checked as a snapshot (or read as an ncdu or gdu
// export and converted) and renamed to the usual name; otherwise nothing is left behind.
//
// Like ScanJob it belongs to nobody and deletes itself after `finished`. Cancel ends the
// process (ssh, and with the connection the far side's scan; pkexec's root process, which
// cannot be signalled, ends at its next progress record when it finds nobody listening).
class StreamScanJob : public QObject {
  Q_OBJECT

 public:
  using Clock = std::chrono::system_clock;

  // What becomes of a fresh tree that arrived whole, instead of saving it as it is: a rescan
  // merges it into the open snapshot and writes the result. Runs in the thread pool; returns
  // the file written, throws on failure.
  using Finish = std::function<std::filesystem::path(const DiskTreePtr& fresh)>;

  // Starts at once. The job reports a failure through `finished` when the folder cannot be
  // written or the program cannot be started. The stream lands in `folder` until it is
  // checked; without `finish` the snapshot stays there under its usual name.
  static StreamScanJob* start(ChildScan scan, std::filesystem::path folder, Finish finish = {});

  const ChildScan& scan() const { return scan_; }
  Clock::time_point started() const { return started_; }
  quint64 entries() const { return entries_; }
  void cancel();

  // Checks the streamed file `incoming` and moves it into `folder` under the usual name of
  // what it holds; converts an export into a snapshot. Throws when it is neither, or is
  // damaged or cut short; `incoming` is removed in every case. Any thread.
  static std::filesystem::path adopt(const std::filesystem::path& incoming,
                                     const std::filesystem::path& folder);
  // The tree of a checked stream, handed to `finish`; `incoming` is removed in every case.
  static std::filesystem::path adopt(const std::filesystem::path& incoming, const Finish& finish);

 signals:
  void entriesChanged(quint64 entries);
  void saving();
  void finished(const tallyfox::ScanJob::Outcome& outcome);

 private:
  StreamScanJob(ChildScan scan, std::filesystem::path folder);
  ~StreamScanJob() override;
  void begin();
  void readErrors();
  void closeErrors();
  void takeLine(const QByteArray& line);
  void ended(int exitCode, QProcess::ExitStatus status);
  void fail(const QString& message);
  void report(const ScanJob::Outcome& outcome);

  ChildScan scan_;
  std::filesystem::path folder_, incoming_;
  Finish finish_;
  Clock::time_point started_;
  QProcess process_;
  // The read end of the process's standard error, a pipe of our own rather than QProcess's
  // channel: closing it is how a process that takes no signal from us learns to stop.
  int errors_ = -1;
  QSocketNotifier* errorsReady_ = nullptr;
  QByteArray pending_;
  QStringList errorLines_;
  quint64 entries_ = 0;
  bool cancelled_ = false;
  bool reported_ = false;
};

}  // namespace tallyfox
