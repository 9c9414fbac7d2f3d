#pragma once

#include <QCoreApplication>
#include <QMetaObject>

#include <utility>

namespace tallyfox {

// Runs `work` on the main thread later, after the event loop gets there: how background work
// hands its result back. Posted to the application object, which outlives every model, so
// that a model released in between is never touched: the work checks its own weak reference.
template <typename Work>
void onMainThread(Work work) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

}  // namespace tallyfox
