#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace tallyfox {

// What finds, downloads and installs new versions of the app. The updater decides when a
// downloaded version is installed; a driver only does the work and reports back.
class UpdaterDriver {
 public:
  // Why an update cycle ended without an update.
  struct Error {
    // Nothing newer was found: a normal outcome, not a failure.
    bool noUpdateAvailable = false;
    QString description;
  };

  // Installs the downloaded version. With `relaunch` the app is ended, replaced and started
  // again right away; without, the app is on its way out and is replaced once it has ended.
  using Install = std::function<void(bool relaunch)>;

  // What a driver reports. The calls may come from any thread; the receiver takes them to
  // its own.
  class Listener {
   public:
    virtual void updateFound(const QString& version) = 0;
    // Downloaded and ready; installed only through `install`.
    virtual void updateReady(const QString& version, Install install) = 0;
    virtual void updateCycleFailed(const Error& error) = 0;

   protected:
    ~Listener() = default;
  };

  virtual ~UpdaterDriver() = default;

  // Starts reporting to `listener`, which outlives the driver's use. On failure, the
  // error's description; the driver then does nothing more.
  virtual std::optional<QString> start(Listener& listener) = 0;
  // Looks for a new version without asking anything of the person; reports what it finds.
  virtual void checkInBackground() = 0;
};

// The driver this build ships with. Linux installs come from a package manager, which
// brings new versions itself; this build has no update feed of its own, so it cannot start.
class FeedlessUpdaterDriver : public UpdaterDriver {
 public:
  std::optional<QString> start(Listener& listener) override;
  void checkInBackground() override {}
};

}  // namespace tallyfox
