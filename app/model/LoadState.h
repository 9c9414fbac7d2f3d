#pragma once

#include <QString>

namespace tallyfox {

// How far a browser window got in reading its snapshot.
struct LoadState {
  enum class Kind { loading, failed, ready };

  Kind kind = Kind::loading;
  double fraction = 0;  // while loading, 0 ... 1
  QString message;      // when failed, the text shown to the user

  static LoadState loading(double fraction) { return {Kind::loading, fraction, {}}; }
  static LoadState failed(QString message) { return {Kind::failed, 0, std::move(message)}; }
  static LoadState ready() { return {Kind::ready, 0, {}}; }

  bool isLoading() const { return kind == Kind::loading; }
  bool isReady() const { return kind == Kind::ready; }
  bool isFailed() const { return kind == Kind::failed; }
  bool operator==(const LoadState&) const = default;
};

}  // namespace tallyfox
