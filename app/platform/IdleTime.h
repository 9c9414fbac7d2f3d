#pragma once

#include <QObject>

#include <chrono>

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

  double seconds();
  // Seconds since the last input to one of the app's own windows.
  double secondsInApp() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::chrono::steady_clock::time_point lastInput_;
  bool mutterAbsent_ = false;
};

}  // namespace tallyfox
