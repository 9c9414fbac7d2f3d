#include "ViewTestSupport.h"

#include "views/RemoteScanDialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

TEST(RemoteScanDialogTest, OffersTheConfiguredHostsAndScansOnlyAHostSshCanTake) {
  testsupport::ScopedHome home;
  testsupport::writeFile(home.path() / ".ssh" / "config", "Host web db\nHost *.internal\nHost backup\n");
  tallyfox::RemoteScanDialog dialog;
  QSignalSpy offered(&dialog, &tallyfox::RemoteScanDialog::hostsOffered);
  ASSERT_TRUE(offered.wait());
  QStringList hosts;
  for (int i = 0; i < dialog.hostField()->count(); ++i) hosts << dialog.hostField()->itemText(i);
  EXPECT_EQ(hosts, (QStringList{"web", "db", "backup"}));

  QPushButton* scan = nullptr;
  for (QPushButton* button : dialog.findChildren<QPushButton*>())
    if (button->text() == QStringLiteral("Scan")) scan = button;
  ASSERT_NE(scan, nullptr);
  EXPECT_FALSE(scan->isEnabled());
  EXPECT_TRUE(dialog.problem().isEmpty()) << "an empty field is not yet a mistake";

  dialog.hostField()->setEditText(QStringLiteral("-oProxyCommand=touch /tmp/x"));
  EXPECT_FALSE(scan->isEnabled());
  EXPECT_FALSE(dialog.problem().isEmpty());

  dialog.hostField()->setEditText(QStringLiteral("alice@web:2222"));
  EXPECT_TRUE(scan->isEnabled());
  dialog.pathField()->clear();
  QTest::keyClicks(dialog.pathField(), QStringLiteral("~/projects"));
  ASSERT_TRUE(dialog.target());
  EXPECT_EQ(dialog.target()->destination(), (QStringList{"-p", "2222", "alice@web"}));
  EXPECT_EQ(dialog.path(), QStringLiteral("~/projects"));
}

}  // namespace
