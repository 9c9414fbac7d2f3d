#pragma once

#include "model/BrowserModel.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QStackedLayout;
class QStackedWidget;
class QVBoxLayout;

namespace tallyfox {

class Breadcrumbs;
class ChartListSplitter;
class DeleteListBar;
class DeleteListDialog;
class TrashResultRow;
class EntryList;
class DuplicatesView;
class FileTypesView;
class LargestFilesView;
class ListHeader;
class OutsideView;
class AgeControls;
class FilterField;
class HistoryStrip;
class MessageText;
class PreviewController;
class ShortcutSheet;
class StatusLine;
class SunburstView;

// Everything inside a snapshot window: the loading and failed states, and once the tree is
// there the breadcrumbs, the chart beside the list, and the status line. It starts loading
// the first time it is shown.
class BrowserView : public QWidget {
  Q_OBJECT
 public:
  explicit BrowserView(BrowserModel* browser, QWidget* parent = nullptr);

  BrowserModel* browser() const { return browser_; }
  EntryList* list() const { return list_; }
  SunburstView* chart() const { return chart_; }
  Breadcrumbs* breadcrumbs() const { return breadcrumbs_; }
  FilterField* filterField() const { return filter_; }
  AgeControls* ageControls() const { return ageControls_; }
  StatusLine* statusLine() const { return status_; }
  PreviewController* preview() const { return preview_; }
  DeleteListBar* deleteListBar() const { return deleteListBar_; }
  TrashResultRow* trashResultRow() const { return trashResult_; }
  OutsideView* outsideView() const { return outsideView_; }
  LargestFilesView* largestFilesView() const { return largestFilesView_; }
  FileTypesView* fileTypesView() const { return fileTypesView_; }
  // Over the list: sorting and the optional columns.
  ListHeader* listHeader() const { return header_; }
  QWidget* rescanButton() const { return rescanButton_; }
  HistoryStrip* historyStrip() const { return historyStrip_; }
  // Between the chart and the list: where the person moves the border between them.
  ChartListSplitter* splitter() const { return splitter_; }
  // The "Delete List" sheet while it is shown.
  DeleteListDialog* deleteListDialog() const;
  ShortcutSheet* shortcutSheet() const;
  // The text under the progress bar while loading, the title and message when it failed.
  QString loadingText() const;
  QString failureTitle() const;
  QString failureMessage() const;
  MessageText* failureMessageText() const { return failedMessage_; }
  bool isShowingBrowser() const;

  // The smallest the view can be: 820 × 520 and what its chart and list need, unless
  // `most` is smaller (a small screen); then the view and its parts give way to fit in it.
  void limitMinimumSize(QSize most);

  // The centre under the breadcrumbs: the chart beside the list, or a view that takes the
  // whole width (the outside view, the duplicates). A view added here is shown with
  // showCentre() and gives way to the chart and list with showChartAndList().
  void addCentre(QWidget* view);
  void showCentre(QWidget* view);
  void showChartAndList();
  QWidget* currentCentre() const;

  // The bars that features put around the centre; each slot keeps its place whatever the
  // order in which they are added: above the centre the scan's progress and the comparison,
  // below it the delete list and the result of the last action, then the status line.
  enum class BarSlot { scanProgress, compare, deleteList, result };
  void addBar(BarSlot slot, QWidget* bar);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* buildLoading();
  QWidget* buildFailed();
  QWidget* buildBrowser();
  QWidget* buildRescanButton(QWidget* parent);
  void showCentreForState();
  void showState();
  void showFiltering();
  void showHelp();
  void showDeleteList();

  QPointer<BrowserModel> browser_;
  QStackedLayout* pages_ = nullptr;
  QWidget* loadingPage_ = nullptr;
  QWidget* failedPage_ = nullptr;
  QWidget* browserPage_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* reading_ = nullptr;
  QLabel* failedTitle_ = nullptr;
  MessageText* failedMessage_ = nullptr;
  Breadcrumbs* breadcrumbs_ = nullptr;
  SunburstView* chart_ = nullptr;
  EntryList* list_ = nullptr;
  FilterField* filter_ = nullptr;
  AgeControls* ageControls_ = nullptr;
  QWidget* filterBox_ = nullptr;
  QStackedWidget* centre_ = nullptr;
  QWidget* chartAndList_ = nullptr;
  ChartListSplitter* splitter_ = nullptr;
  QWidget* chartBox_ = nullptr;
  QWidget* listColumn_ = nullptr;
  QVBoxLayout* bars_[4] = {};
  StatusLine* status_ = nullptr;
  HistoryStrip* historyStrip_ = nullptr;
  PreviewController* preview_ = nullptr;
  QPointer<ShortcutSheet> sheet_;
  DeleteListBar* deleteListBar_ = nullptr;
  TrashResultRow* trashResult_ = nullptr;
  QPointer<DeleteListDialog> deleteListDialog_;
  DuplicatesView* duplicatesView_ = nullptr;
  LargestFilesView* largestFilesView_ = nullptr;
  FileTypesView* fileTypesView_ = nullptr;
  ListHeader* header_ = nullptr;
  OutsideView* outsideView_ = nullptr;
  QWidget* rescanButton_ = nullptr;
};

}  // namespace tallyfox
