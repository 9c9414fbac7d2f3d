#include <tallyfox/Preferences.h>

#include "linux/FileIO.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace tallyfox {

namespace {

nlohmann::json readObject(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return nlohmann::json::object();
  std::stringstream text;
  text << in.rdbuf();
  auto value = nlohmann::json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
  return value.is_object() ? value : nlohmann::json::object();
}

}  // namespace

Preferences::Preferences(std::filesystem::path file) : file_(std::move(file)) {}

std::optional<std::filesystem::path> Preferences::standardFile() {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::filesystem::path(home) / ".config";
  } else {
    return std::nullopt;
  }
  return base / "io.quillon.Tallyfox" / "preferences.json";
}

nlohmann::json Preferences::all() const {
  return readObject(file_);
}

std::optional<nlohmann::json> Preferences::get(const std::string& key) const {
  const auto object = readObject(file_);
  const auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  return *it;
}

std::optional<std::string> Preferences::getString(const std::string& key) const {
  const auto value = get(key);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

void Preferences::set(const std::string& key, const nlohmann::json& value) {
  auto object = readObject(file_);
  object[key] = value;
  store(object);
}

void Preferences::remove(const std::string& key) {
  auto object = readObject(file_);
  if (object.erase(key) == 0) return;
  store(object);
}

void Preferences::store(const nlohmann::json& object) {
  std::error_code ignored;
  std::filesystem::create_directories(file_.parent_path(), ignored);
  // Invalid UTF-8 in a value must not make the whole store unwritable.
  const std::string text = object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  FileIO::writeAtomically(file_, [&](int fd) { FileIO::writeAll(fd, text.data(), text.size()); });
}

}  // namespace tallyfox
