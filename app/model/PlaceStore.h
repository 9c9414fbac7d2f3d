#pragma once

#include <tallyfox/Preferences.h>

#include <QObject>
#include <QTimer>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace tallyfox {

// Where windows keep what they remember of each snapshot (folder, selection, ...), one JSON
// value per key.
class PlaceStore {
 public:
  virtual ~PlaceStore() = default;
  // Every stored value by key, the ones not yet written included.
  virtual nlohmann::json all() const = 0;
  virtual std::optional<nlohmann::json> value(const std::string& key) const;
  // How many keys hold a value.
  virtual std::size_t count() const;
  // A null value removes the key.
  virtual void setValue(const std::string& key, nlohmann::json value) = 0;
  // Replaces everything at once (pruning).
  virtual void replaceAll(nlohmann::json values) = 0;
  // Writes what is pending now.
  virtual void flush() {}
};

// The places kept under one key of the preferences store. Every arrow key changes a place,
// and every write of the store rewrites its file: the places are read from the file once,
// kept in memory, and changes are written at most twice a second, and at once on flush()
// and when the store goes, so nothing is lost and a held key reads no file and does not
// become hundreds of file writes. Only one Tallyfox runs per session and tfscan does not
// keep places, so nobody else changes this key meanwhile.
class PreferencesPlaceStore : public QObject, public PlaceStore {
  Q_OBJECT

 public:
  static constexpr const char* key = "savedPlaces";
  static constexpr int writeDelayMs = 500;

  // Without a preferences store (no home folder) places live only as long as this object.
  explicit PreferencesPlaceStore(std::optional<Preferences> preferences, QObject* parent = nullptr);
  ~PreferencesPlaceStore() override;

  nlohmann::json all() const override;
  std::optional<nlohmann::json> value(const std::string& key) const override;
  std::size_t count() const override;
  void setValue(const std::string& key, nlohmann::json value) override;
  void replaceAll(nlohmann::json values) override;
  void flush() override;

 private:
  void schedule();
  // The places, read from the file on first use.
  nlohmann::json& values() const;

  std::optional<Preferences> preferences_;
  mutable std::optional<nlohmann::json> values_;
  // Changed since the last write.
  bool dirty_ = false;
  QTimer timer_;
};

}  // namespace tallyfox
