#pragma once

#include <QSplitter>

#include <optional>

namespace tallyfox {

// The chart beside the list, with a handle between them. Until a width is chosen the list
// takes half the room, within 380 to 620 pixels, and the chart the rest; once the handle was
// dragged (or a width was handed over from an earlier window) the list keeps that width and
// the chart alone grows and shrinks with the window. Either side keeps its minimum.
class ChartListSplitter : public QSplitter {
  Q_OBJECT
 public:
  static constexpr int listMinimum = 380;
  static constexpr int listIdeal = 460;
  static constexpr int listMaximumUnchosen = 620;

  ChartListSplitter(QWidget* chart, QWidget* list, QWidget* parent = nullptr);

  // The width the list has now.
  int listWidth() const;
  // The width the list keeps; nothing for the share of the room it takes until one is chosen.
  std::optional<int> chosenListWidth() const { return chosen_; }
  void setChosenListWidth(std::optional<int> width);
  // The list's width before any was chosen, for a splitter `total` pixels wide.
  static int unchosenListWidth(int total);

 signals:
  // The person let go of the handle with the list at this width.
  void listWidthChosen(int width);

 protected:
  QSplitterHandle* createHandle() override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  friend class ChartListHandle;
  void apply();
  void handleReleased();

  QWidget* chart_;
  QWidget* list_;
  std::optional<int> chosen_;
};

}  // namespace tallyfox
