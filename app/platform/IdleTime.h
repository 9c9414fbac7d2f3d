#pragma once

#include <QObject>

#include <chrono>
#include <optional>

class QDBusPendingCallWatcher;

namespace tallyfox {

// How long the person has left keyboard and mouse alone, anywhere in the session where the
// desktop says so: the X server's screen-saver extension on X11, GNOME's idle monitor on
// Wayland; elsewhere only the app's own windows can tell, which undercounts nothing but
// may overcount while the person works in other apps. Needs the application object; made
// on the main thread, and asked there.
class IdleTime : public QObject {
 public:
  explicit IdleTime(QObject* parent = nullptr);
  ~IdleTime() override;

  // Never waits for the desktop: GNOME's idle monitor is asked in the background, one
  // question at a time, and a call returns the answer to an earlier question. Called every
  // few seconds, the count lags by one call, which only ever makes the person look less
  // idle than they are; for the same reason, while the first answer (or a fresh one after a
  // pause) is on its way, the person counts as present. When the monitor fails, does not
  // answer or is not there, the app's own count stands in.
  double seconds();
  // Seconds since the last input to one of the app's own windows.
  double secondsInApp() const;

  // An answer older than this says little about now: a caller that comes back after a
  // pause gets no idle time from before it.
  static constexpr std::chrono::seconds answerLife{15};
  // A monitor slower than this counts as failing; no second question is sent meanwhile.
  static constexpr std::chrono::milliseconds answerWithin{5000};

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void askMutter();
  void mutterAnswered(QDBusPendingCallWatcher* answer);

  std::chrono::steady_clock::time_point lastInput_;
  // The monitor's last answer, and when the question it answers was sent.
  std::optional<double> mutterSeconds_;
  std::chrono::steady_clock::time_point mutterAskedAt_;
  // The question out now, if any.
  QDBusPendingCallWatcher* mutterQuestion_ = nullptr;
  std::chrono::steady_clock::time_point questionSentAt_;
  bool mutterFailed_ = false;
  bool mutterAbsent_ = false;
};

}  // namespace tallyfox
