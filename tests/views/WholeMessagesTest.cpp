#include "ViewTestSupport.h"
#include "VokWriter.h"

#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/MessageText.h"
#include "views/StatusLine.h"

#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QTest>

// What went wrong with a snapshot is read whole wherever the window shows it: every line in
// sight at any window size, wrapped inside a long path too, and selectable to copy.
namespace {

namespace fs = std::filesystem;

void expectWhole(tallyfox::MessageText* text, QWidget* window, const QString& expected) {
  ASSERT_NE(text, nullptr);
  SCOPED_TRACE(QStringLiteral("window %1×%2, text %3×%4, %5 lines")
                   .arg(window->width())
                   .arg(window->height())
                   .arg(text->width())
                   .arg(text->height())
                   .arg(text->lineCount())
                   .toStdString());
  EXPECT_EQ(text->text(), expected);
  EXPECT_TRUE(text->isVisible());
  // Tall enough for every line, each line no wider than the text's place, and the place
  // inside the window.
  EXPECT_GE(text->viewport()->height(), int(text->document()->size().height()));
  EXPECT_LE(text->document()->size().width(), text->viewport()->width() + 1);
  const QRect inWindow(text->mapTo(window, QPoint()), text->size());
  EXPECT_TRUE(window->rect().contains(inWindow)) << inWindow.x() << "," << inWindow.y();
  EXPECT_TRUE(text->textInteractionFlags() & Qt::TextSelectableByMouse);
  EXPECT_TRUE(text->textInteractionFlags() & Qt::TextSelectableByKeyboard);
}

// The window at the sizes a person gives it: its smallest, the usual one and a wide one.
void atEverySize(QWidget* window, const std::function<void()>& check) {
  for (const QSize size : {window->minimumSize(), QSize(1180, 760), QSize(1600, 1000)}) {
    window->resize(size);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    check();
  }
}

class WholeMessagesTest : public ::testing::Test {
 protected:
  testsupport::ScopedHome home;
  testsupport::TempDir dir;
};

TEST_F(WholeMessagesTest, ASnapshotThatDoesNotOpenSaysWhyInFull) {
  // The readers' longest messages: the vok reader's footer count with the largest numbers it
  // can name, a record that names no parent, a snapshot of a scan that never finished, and a
  // file that is not there.
  testsupport::VokWriter footer =
      testsupport::VokWriter::fromColumns(testsupport::columnsOf({{-1, "data"}, {0, "a", 10}, {0, "b", 5}}));
  footer.footerCount = std::numeric_limits<std::uint64_t>::max();
  footer.write(dir / "footer.vok", true);
  testsupport::VokWriter orphan;
  testsupport::VokRecord root, lost;
  root.kind = 1;
  root.name = "/data";
  lost.distance = 7;  // a parent seven records back, before the first
  lost.name = "a";
  lost.size = 10;
  orphan.add(root).add(lost);
  orphan.write(dir / "orphan.vok", false);
  testsupport::writeFile(dir / "future.tfsnap", std::string("TFSNAP\0\0", 8) + std::string(200, '\x01'));

  for (const char* name : {"footer.vok", "orphan.vok", "future.tfsnap", "missing.tfsnap"}) {
    SCOPED_TRACE(name);
    auto window = viewtests::openBrowser(dir / name);
    ASSERT_TRUE(window->browser()->state().isFailed());
    const QString message = window->browser()->state().message;
    EXPECT_GT(message.size(), 20) << message.toStdString();
    atEverySize(window.get(), [&] {
      expectWhole(window->view()->failureMessageText(), window.get(), message);
      // Wrapped where its place ends, not word by word in a sliver of it.
      EXPECT_LE(window->view()->failureMessageText()->lineCount(), 3);
    });
  }
}

TEST_F(WholeMessagesTest, ADamagedSnapshotNamesTheWholePathInTheStatusLine) {
  // A folder deep under long names lost a byte its parent still counts: the message names the
  // parent by its whole path, longer than the window is wide.
  const std::string longName(140, 'n');
  auto columns = testsupport::columnsOf(
      {{-1, "data"}, {0, longName + "1"}, {1, longName + "2"}, {2, longName + "3"}, {3, "file", 4096}});
  columns.size[3] -= 1;
  tallyfox::SnapshotFile::write(columns, {"/data", std::chrono::system_clock::now(), 1.0},
                                dir / "damaged.tfsnap");
  auto window = viewtests::openBrowser(dir / "damaged.tfsnap");
  ASSERT_TRUE(viewtests::waitFor([&] { return window->browser()->health().has_value(); }));
  const QString damage = QStringLiteral("This snapshot is damaged: ") + window->browser()->health()->damage;
  ASSERT_TRUE(damage.contains(QString::fromStdString(longName + "1/" + longName + "2")))
      << damage.toStdString();

  atEverySize(window.get(), [&] {
    tallyfox::StatusLine* status = window->view()->statusLine();
    expectWhole(status->damageMessage(), window.get(), damage);
    EXPECT_EQ(status->damageText(), damage);
    // The path wraps inside itself rather than asking for a wider window.
    EXPECT_GE(status->damageMessage()->lineCount(), 2);
    EXPECT_LE(status->minimumSizeHint().width(), window->minimumSize().width());
  });
}

}  // namespace
