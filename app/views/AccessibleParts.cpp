#include "views/AccessibleParts.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <map>

namespace tallyfox {

namespace {

constexpr const char* roleProperty = "tallyfoxAccessibleRole";
constexpr const char* partRoleProperty = "tallyfoxAccessiblePartRole";

// One part. It holds no copy of what it describes: every answer is asked of the widget, and
// once the widget has made its parts anew (or is gone) the part is no longer valid.
class PartInterface : public QAccessibleInterface, public QAccessibleActionInterface {
 public:
  PartInterface(QWidget* widget, AccessibleParts* parts, int index, QAccessible::Role role)
      : widget_(widget), parts_(parts), index_(index), role_(role), generation_(parts->partsGeneration()) {}

  bool isValid() const override {
    return widget_ && parts_->partsGeneration() == generation_ && index_ < parts_->partCount();
  }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return widget_ ? widget_->window()->windowHandle() : nullptr; }
  QAccessibleInterface* parent() const override {
    return widget_ ? QAccessible::queryAccessibleInterface(widget_.data()) : nullptr;
  }
  QAccessibleInterface* child(int) const override { return nullptr; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QAccessibleInterface* focusChild() const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }

  QString text(QAccessible::Text t) const override {
    if (!isValid()) return {};
    switch (t) {
      case QAccessible::Name:
        return parts_->partName(index_);
      case QAccessible::Description:
        return parts_->partDescription(index_);
      default:
        return {};
    }
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    if (!isValid()) return {};
    const QRect local = parts_->partRect(index_);
    return local.isEmpty() ? QRect() : QRect(widget_->mapToGlobal(local.topLeft()), local.size());
  }
  QAccessible::Role role() const override { return role_; }
  QAccessible::State state() const override {
    QAccessible::State s;
    if (!isValid()) {
      s.invalid = true;
      return s;
    }
    s.focusable = true;
    s.focused = widget_->hasFocus() && parts_->focusedPart() == index_;
    s.selectable = role_ != QAccessible::Button;
    s.selected = parts_->isPartSelected(index_);
    // A part that gave way for lack of room is still there to reach, but not on screen.
    s.offscreen = parts_->partRect(index_).isEmpty();
    return s;
  }

  void* interface_cast(QAccessible::InterfaceType type) override {
    return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
  }
  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString& name) override {
    if (name == pressAction() && isValid()) parts_->pressPart(index_);
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

 private:
  QPointer<QWidget> widget_;
  AccessibleParts* parts_;
  int index_;
  QAccessible::Role role_;
  std::uint64_t generation_;
};

// The widget, with its parts as children. Children are made when first asked for and kept
// until the parts are made anew.
class PartsInterface : public QAccessibleWidget {
 public:
  PartsInterface(QWidget* widget, AccessibleParts* parts, QAccessible::Role role, QAccessible::Role partRole)
      : QAccessibleWidget(widget, role), parts_(parts), partRole_(partRole) {}
  ~PartsInterface() override { forget(); }

  int childCount() const override { return parts_->partCount(); }
  QAccessibleInterface* child(int index) const override {
    if (index < 0 || index >= parts_->partCount()) return nullptr;
    if (generation_ != parts_->partsGeneration()) {
      forget();
      generation_ = parts_->partsGeneration();
    }
    auto found = children_.find(index);
    if (found == children_.end()) {
      auto* part = new PartInterface(widget(), parts_, index, partRole_);
      found = children_.emplace(index, QAccessible::registerAccessibleInterface(part)).first;
    }
    return QAccessible::accessibleInterface(found->second);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    for (const auto& [index, id] : children_)
      if (QAccessible::accessibleInterface(id) == child && child->isValid()) return index;
    return -1;
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    const QPoint local = widget()->mapFromGlobal(QPoint(x, y));
    for (int i = 0; i < parts_->partCount(); ++i)
      if (parts_->partRect(i).contains(local)) return child(i);
    return nullptr;
  }
  QAccessibleInterface* focusChild() const override {
    const int part = parts_->focusedPart();
    return widget()->hasFocus() && part >= 0 ? child(part) : nullptr;
  }

 private:
  void forget() const {
    for (const auto& entry : children_) QAccessible::deleteAccessibleInterface(entry.second);
    children_.clear();
  }

  AccessibleParts* parts_;
  QAccessible::Role partRole_;
  mutable std::map<int, QAccessible::Id> children_;
  mutable std::uint64_t generation_ = 0;
};

QAccessibleInterface* partsFactory(const QString&, QObject* object) {
  if (!object || !object->isWidgetType()) return nullptr;
  auto* widget = static_cast<QWidget*>(object);
  const QVariant role = widget->property(roleProperty);
  auto* parts = dynamic_cast<AccessibleParts*>(widget);
  if (!role.isValid() || !parts) return nullptr;
  return new PartsInterface(widget, parts, QAccessible::Role(role.toInt()),
                            QAccessible::Role(widget->property(partRoleProperty).toInt()));
}

}  // namespace

void AccessibleParts::expose(QWidget* widget, QAccessible::Role role, QAccessible::Role partRole) {
  widget->setProperty(roleProperty, int(role));
  widget->setProperty(partRoleProperty, int(partRole));
  // Qt keeps a factory once however often it is installed.
  QAccessible::installFactory(&partsFactory);
  // An interface made for the widget before (its accessible name set while a screen reader
  // listens) would be kept in Qt's cache instead of this one.
  QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget);
  if (made && !dynamic_cast<PartsInterface*>(made))
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

void AccessibleParts::announceFocus(QWidget* widget, int part) {
  if (!QAccessible::isActive() || part < 0) return;
  QAccessibleEvent event(widget, QAccessible::Focus);
  event.setChild(part);
  QAccessible::updateAccessibility(&event);
}

}  // namespace tallyfox
