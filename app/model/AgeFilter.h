#pragma once

#include "model/Background.h"

#include <tallyfox/DiskTree.h>
#include <tallyfox/SubtreeStats.h>

#include <QDate>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace tallyfox {

class BrowserModel;

// The filter's second question: which entries have not been modified for a while. Files older
// than the cut stay in the list, folders stay when they hold such files and show only their
// bytes, and the chart follows. Unlike the name filter it holds wherever the window goes, as
// one pass over the whole tree in the thread pool answers it for every folder at once; it
// ends with Escape in the filter, or when cleared.
class AgeFilter : public QObject {
  Q_OBJECT

 public:
  enum class Span { days30, year, years3, date };
  struct Choice {
    Span span = Span::year;
    // For Span::date: entries not modified since this day began, in local time.
    QDate date{};
    bool operator==(const Choice&) const = default;
  };

  ~AgeFilter() override;

  // The window's age filter, its child, made the first time anyone asks.
  static AgeFilter& of(const BrowserModel& browser);

  void set(const Choice& choice);
  void clear();
  const std::optional<Choice>& choice() const { return choice_; }
  bool isSet() const { return choice_.has_value(); }
  // Asks the window for a day, which comes back through set().
  void requestDate() { emit dateRequested(); }

  // Seconds since 1970: entries modified before it pass. A span counts back from when the
  // snapshot was taken, not from today, so an old snapshot answers as it would have then.
  static std::int64_t cutOf(const Choice& choice, std::chrono::system_clock::time_point scanStart);
  // A file modified before the cut. An entry that could not be read has no known time.
  static bool isOld(const DiskTree& tree, NodeId node, std::int64_t cut);

  // The pass has finished: folders know their old files.
  bool isReady() const { return matching_ != nullptr; }
  bool isFinding() const { return choice_ && !matching_; }
  // Per node, the old files in its subtree; null without a choice or while the pass runs.
  const std::shared_ptr<const SubtreeStats::Matching>& matching() const { return matching_; }
  // Changes with every answer, so that a chart can tell two answers apart.
  std::uint64_t generation() const { return generation_; }
  // Whether the list keeps `node`: an old file, or a folder holding one. Everything stays
  // without a choice and until the pass is done.
  bool keeps(NodeId node) const;

  // "Not modified for 1 year", "Not modified since 3 Mar 2024".
  static QString label(const Choice& choice);
  QString label() const { return choice_ ? label(*choice_) : QString(); }
  // What the current folder holds of it: "Finding…", "2.1 GB in 1,234 files here".
  QString summary() const;

 signals:
  void choiceChanged();
  // The answer came, or went with the choice.
  void matchingChanged();
  void dateRequested();

 private:
  explicit AgeFilter(BrowserModel& browser);
  void find();

  BrowserModel& browser_;
  std::optional<Choice> choice_;
  std::shared_ptr<const SubtreeStats::Matching> matching_;
  std::int64_t cut_ = 0;
  std::uint64_t generation_ = 0;
  Background::Lane lane_;
};

}  // namespace tallyfox
