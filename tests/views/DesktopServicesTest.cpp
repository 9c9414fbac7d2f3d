// The real clipboard, on the offscreen platform, with a name that is not UTF-8.
#include "platform/Clipboard.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace {

const QByteArray latin1Name = "/tmp/d\xfcr/caf\xe9.txt";

TEST(DesktopServices, AFileReferenceOnTheClipboardKeepsTheNameBytes) {
  tallyfox::Clipboard::system()->copyFileReference(latin1Name);
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->data(QStringLiteral("text/uri-list")).trimmed(), "file:///tmp/d%FCr/caf%E9.txt");
  EXPECT_EQ(data->data(QStringLiteral("x-special/gnome-copied-files")), "copy\nfile:///tmp/d%FCr/caf%E9.txt");
  EXPECT_EQ(data->text(), QStringLiteral("/tmp/d\uFFFDr/caf\uFFFD.txt"));
}

}  // namespace
