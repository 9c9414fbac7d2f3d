#include "Commands.h"

#include <tallyfox/AtomicFile.h>

namespace tfscan {

bool isStandardOutput(const std::string& output) {
  return output == "-" || output == "/dev/stdout";
}

std::string cannotWriteReason(const std::system_error& error) {
  if (tallyfox::isNotRegularFile(error.code()))
    return "not a regular file; only a regular file is replaced (- writes to standard output)";
  return error.code().message();
}

}  // namespace tfscan

#include <cstdio>
#include <ctime>
#include <iostream>

namespace tfscan {

void printJson(const nlohmann::json& document) {
  // Every name went through pathToJson; replacing is only a guard against a stray string.
  std::cout << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

std::string percent(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return "";
  const double ratio = double(part) / double(whole);
  if (ratio < 0.001) return "<0.1%";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", ratio * 100);
  return text;
}

std::string localDay(std::uint32_t mtime) {
  const std::time_t when = std::time_t(mtime);
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

}  // namespace tfscan
