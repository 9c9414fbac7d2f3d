#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>

namespace tallyfox {

// The per-user key-value store shared by the app and tfscan: one JSON object in
// $XDG_CONFIG_HOME/io.quillon.Tallyfox/preferences.json. Every read goes to the file, so
// a value written by the other program is seen at once; every write re-reads, changes one
// key and replaces the file atomically. A missing or broken file reads as empty.
class Preferences {
 public:
  explicit Preferences(std::filesystem::path file);

  // The store of this user, or nothing when neither XDG_CONFIG_HOME nor HOME is set.
  static std::optional<std::filesystem::path> standardFile();

  const std::filesystem::path& file() const { return file_; }

  std::optional<nlohmann::json> get(const std::string& key) const;
  std::optional<std::string> getString(const std::string& key) const;
  // Throws std::system_error when the file cannot be written.
  void set(const std::string& key, const nlohmann::json& value);
  void remove(const std::string& key);

  nlohmann::json all() const;

 private:
  void store(const nlohmann::json& object);
  std::filesystem::path file_;
};

}  // namespace tallyfox
