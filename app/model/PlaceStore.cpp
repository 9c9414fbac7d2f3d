#include "model/PlaceStore.h"

#include <exception>

namespace tallyfox {

std::optional<nlohmann::json> PlaceStore::value(const std::string& key) const {
  const nlohmann::json values = all();
  const auto found = values.find(key);
  if (found == values.end()) return std::nullopt;
  return *found;
}

std::size_t PlaceStore::count() const {
  return all().size();
}

PreferencesPlaceStore::PreferencesPlaceStore(std::optional<Preferences> preferences, QObject* parent)
    : QObject(parent), preferences_(std::move(preferences)) {
  timer_.setSingleShot(true);
  timer_.setInterval(writeDelayMs);
  connect(&timer_, &QTimer::timeout, this, &PreferencesPlaceStore::flush);
}

PreferencesPlaceStore::~PreferencesPlaceStore() {
  flush();
}

nlohmann::json& PreferencesPlaceStore::values() const {
  if (!values_) {
    values_ = nlohmann::json::object();
    if (preferences_)
      if (auto stored = preferences_->get(key); stored && stored->is_object()) values_ = std::move(*stored);
  }
  return *values_;
}

nlohmann::json PreferencesPlaceStore::all() const {
  return values();
}

std::optional<nlohmann::json> PreferencesPlaceStore::value(const std::string& name) const {
  const nlohmann::json& places = values();
  const auto found = places.find(name);
  if (found == places.end()) return std::nullopt;
  return *found;
}

std::size_t PreferencesPlaceStore::count() const {
  return values().size();
}

void PreferencesPlaceStore::setValue(const std::string& name, nlohmann::json value) {
  nlohmann::json& places = values();
  if (value.is_null())
    places.erase(name);
  else
    places[name] = std::move(value);
  dirty_ = true;
  schedule();
}

void PreferencesPlaceStore::replaceAll(nlohmann::json replacement) {
  values_ = replacement.is_object() ? std::move(replacement) : nlohmann::json::object();
  dirty_ = true;
  schedule();
}

void PreferencesPlaceStore::schedule() {
  if (!timer_.isActive()) timer_.start();
}

void PreferencesPlaceStore::flush() {
  timer_.stop();
  if (!preferences_ || !dirty_) return;
  try {
    preferences_->set(key, values());
    dirty_ = false;
  } catch (const std::exception&) {
    // A read-only configuration folder: places stay in memory for this run.
  }
}

}  // namespace tallyfox
