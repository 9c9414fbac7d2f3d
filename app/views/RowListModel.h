#pragma once

#include "model/BrowserModel.h"

#include <QAbstractListModel>
#include <QPointer>

#include <optional>
#include <vector>

namespace tallyfox {

// The list of a browser window as an item model: one item per row of the browser model's
// visibleRows, re-read whenever something the rows depend on changes. It holds node ids
// only; the delegate asks the browser model for each row's values when it paints.
class RowListModel : public QAbstractListModel {
  Q_OBJECT
 public:
  enum Role { NodeRole = Qt::UserRole + 1, DepthRole };

  explicit RowListModel(BrowserModel* browser, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  BrowserModel* browser() const { return browser_; }
  const std::vector<BrowserModel::Row>& rows() const { return rows_; }
  std::optional<BrowserModel::Row> rowAt(int row) const;
  // What assistive technology reads for a row: the name, delete-list mark, change while
  // comparing, size and share of its folder.
  QString accessibleText(const BrowserModel::Row& row) const;
  // Where the selection is shown, or -1.
  int selectedRow() const { return selectedRow_; }

 signals:
  // After the selection moved or the rows changed under it; -1 when it is not shown.
  void selectedRowChanged(int previous, int row);
  // Rows look different (marks, a turned chevron) while the rows themselves stayed. Views
  // repaint instead of hearing dataChanged, which would make a list view lay out all its
  // rows again: a million of them in a large folder.
  void appearanceChanged();

 private:
  struct Basis {
    DiskTreePtr tree;
    NodeId current = 0;
    QString filter;
    std::uint64_t overlay = 0;  // its generation
    bool operator==(const Basis&) const = default;
  };

  Basis basis() const;
  void rebuild();
  // Replaces only the span that differs, so that expanding a folder keeps the rows above
  // where they are on the screen.
  void replaceChangedSpan(std::vector<BrowserModel::Row> fresh);
  void updateSelection();
  int indexOf(std::optional<NodeId> node) const;

  QPointer<BrowserModel> browser_;
  std::vector<BrowserModel::Row> rows_;
  Basis built_;
  int selectedRow_ = -1;
};

}  // namespace tallyfox
