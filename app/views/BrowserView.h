#pragma once

#include "model/BrowserModel.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QStackedLayout;

namespace tallyfox {

class Breadcrumbs;
class EntryList;
class FilterField;
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
  StatusLine* statusLine() const { return status_; }
  PreviewController* preview() const { return preview_; }
  ShortcutSheet* shortcutSheet() const;
  // The text under the progress bar while loading, the title and message when it failed.
  QString loadingText() const;
  QString failureTitle() const;
  QString failureMessage() const;
  bool isShowingBrowser() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* buildLoading();
  QWidget* buildFailed();
  QWidget* buildBrowser();
  void showState();
  void showFiltering();
  void showHelp();

  QPointer<BrowserModel> browser_;
  QStackedLayout* pages_ = nullptr;
  QWidget* loadingPage_ = nullptr;
  QWidget* failedPage_ = nullptr;
  QWidget* browserPage_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* reading_ = nullptr;
  QLabel* failedTitle_ = nullptr;
  QLabel* failedMessage_ = nullptr;
  Breadcrumbs* breadcrumbs_ = nullptr;
  SunburstView* chart_ = nullptr;
  EntryList* list_ = nullptr;
  FilterField* filter_ = nullptr;
  QWidget* filterBox_ = nullptr;
  StatusLine* status_ = nullptr;
  PreviewController* preview_ = nullptr;
  QPointer<ShortcutSheet> sheet_;
};

}  // namespace tallyfox
