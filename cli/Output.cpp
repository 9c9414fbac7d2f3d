#include "Commands.h"

#include <tallyfox/AtomicFile.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotPaths.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>

namespace tfscan {

bool isStandardOutput(const std::string& output) {
  return output == "-" || output == "/dev/stdout";
}

std::string cannotWriteReason(const std::system_error& error) {
  if (tallyfox::isNotRegularFile(error.code()))
    return "not a regular file; only a regular file is replaced (- writes to standard output)";
  return error.code().message();
}

bool reportUnwritable(const std::string& output) {
  try {
    tallyfox::checkWritable(output);
    return false;
  } catch (const std::system_error& e) {
    std::cerr << "tfscan: cannot write " << tallyfox::SnapshotDump::terminalSafe(output) << ": "
              << tallyfox::SnapshotDump::terminalSafe(cannotWriteReason(e)) << "\n";
    return true;
  }
}

std::string pathFromCommandLine(const std::string& path) {
  std::string expanded = tallyfox::PathText::expandTilde(path);
  if (expanded.empty() || expanded.front() != '/') {
    std::error_code error;
    const auto here = std::filesystem::current_path(error);
    expanded = (error ? std::string("/") : here.string()) + "/" + expanded;
  }
  return tallyfox::PathText::standardize(expanded);
}

void writeError(const std::string& text) {
  const std::string line = tallyfox::SnapshotDump::terminalSafe(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

std::size_t width(const std::string& text) {
  return std::size_t(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string padLeft(const std::string& text, std::size_t to) {
  const std::size_t w = width(text);
  return w >= to ? text : std::string(to - w, ' ') + text;
}

std::string padRight(const std::string& text, std::size_t to) {
  const std::size_t w = width(text);
  return w >= to ? text : text + std::string(to - w, ' ');
}

std::string localTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
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
