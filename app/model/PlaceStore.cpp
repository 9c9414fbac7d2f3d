#include "model/PlaceStore.h"

#include <exception>

namespace tallyfox {

std::optional<nlohmann::json> PlaceStore::value(const std::string& key) const {
  const nlohmann::json values = all();
  const auto found = values.find(key);
  if (found == values.end()) return std::nullopt;
  return *found;
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

nlohmann::json PreferencesPlaceStore::all() const {
  nlohmann::json values = nlohmann::json::object();
  if (replacement_) {
    values = *replacement_;
  } else if (preferences_) {
    if (auto stored = preferences_->get(key); stored && stored->is_object()) values = std::move(*stored);
  }
  for (const auto& [name, value] : pending_) {
    if (value.is_null())
      values.erase(name);
    else
      values[name] = value;
  }
  return values;
}

void PreferencesPlaceStore::setValue(const std::string& name, nlohmann::json value) {
  pending_[name] = std::move(value);
  schedule();
}

void PreferencesPlaceStore::replaceAll(nlohmann::json values) {
  replacement_ = values.is_object() ? std::move(values) : nlohmann::json::object();
  pending_.clear();
  schedule();
}

void PreferencesPlaceStore::schedule() {
  if (!timer_.isActive()) timer_.start();
}

void PreferencesPlaceStore::flush() {
  timer_.stop();
  if (!preferences_ || (pending_.empty() && !replacement_)) return;
  try {
    preferences_->set(key, all());
    pending_.clear();
    replacement_.reset();
  } catch (const std::exception&) {
    // A read-only configuration folder: places stay in memory for this run.
  }
}

}  // namespace tallyfox
