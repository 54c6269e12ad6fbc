#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QUrl>

#include "window/about_dialog.h"
#include "window/main_dialog.h"
#include "window_test_support.h"

namespace kelvo {
namespace {

using testing::Find;

// Takes the URLs that the desktop would be asked to open.
class OpenedUrls : public QObject {
  Q_OBJECT

 public:
  OpenedUrls() { QDesktopServices::setUrlHandler("file", this, "Open"); }
  ~OpenedUrls() override { QDesktopServices::unsetUrlHandler("file"); }

  QList<QUrl> urls;

 public slots:
  void Open(const QUrl& url) { urls << url; }
};

class DialogActionsTest : public testing::InEmptyFolder {
 protected:
  DialogActionsTest() { testing::ShowAndActivate(dialog_); }

  static QString FilePath(const char* name) { return QDir::current().absoluteFilePath(name); }

  MainDialog dialog_;
};

TEST_F(DialogActionsTest, BrowseOpensOnFileEditsFileAndPutsTheChosenFileThereWithoutMovingHome) {
  QDir().mkpath("images");
  testing::WriteFileBytes("images/app.bin", {1, 2, 3});
  testing::WriteFileBytes("images/setup.scr", {'S'});
  const QString start_folder = QDir::currentPath();
  auto* file_edit = Find<QLineEdit>(dialog_, "FileEdit");
  file_edit->setText(FilePath("images/app.bin"));

  for (const bool ok : {false, true}) {
    testing::WhenOpens<QFileDialog>([&](QFileDialog* browse) {
      EXPECT_EQ(browse->nameFilters(), QStringList({"BIN Files (*.bin)", "Scripts (*.scr)"}));
      EXPECT_EQ(browse->selectedNameFilter(), "BIN Files (*.bin)");
      EXPECT_EQ(browse->defaultSuffix(), "bin");
      EXPECT_EQ(browse->fileMode(), QFileDialog::ExistingFile);
      EXPECT_EQ(browse->selectedFiles(), QStringList({FilePath("images/app.bin")}));
      // As the operator types another name and presses Enter or Cancel; the name field takes the
      // path only while it has no focus.
      if (QWidget* focus = browse->focusWidget()) focus->clearFocus();
      browse->selectFile(FilePath("images/setup.scr"));
      ok ? static_cast<QDialog*>(browse)->accept() : browse->reject();
    });
    QTest::mouseClick(Find<QPushButton>(dialog_, "BrowseButton"), Qt::LeftButton);
    EXPECT_EQ(file_edit->text(), FilePath(ok ? "images/setup.scr" : "images/app.bin"));
  }
  // The settings and help files stay where the program started.
  EXPECT_EQ(QDir::currentPath(), start_folder);
}

TEST_F(DialogActionsTest, EnterOnHelpOrF1OpensTheHelpFileOfTheCurrentFolderAndKeepsTheWindowOpen) {
  OpenedUrls opened;
  Find<QPushButton>(dialog_, "HelpButton")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  Find<QLineEdit>(dialog_, "FileEdit")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
  const QUrl help = QUrl::fromLocalFile(FilePath("KelvoHelp.rtf"));
  EXPECT_EQ(opened.urls, QList<QUrl>({help, help}));
  EXPECT_TRUE(dialog_.isVisible());
}

// Enter and Esc in the About box are Qt's own; OK closes it here.
TEST_F(DialogActionsTest, TheFormsContextMenuOffersTheAboutBox) {
  const auto key = [](Qt::Key pressed, Qt::KeyboardModifiers modifiers = {}) {
    return [=] { QTest::keyClick(QApplication::focusWidget(), pressed, modifiers); };
  };
  const std::pair<const char*, std::function<void()>> ways_to_open[] = {
      {"right click",
       [&] {
         QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                                 dialog_.mapToGlobal(QPoint(5, 5)));
         QApplication::sendEvent(&dialog_, &click);
       }},
      {"Shift+F10", key(Qt::Key_F10, Qt::ShiftModifier)},
      {"Menu key", key(Qt::Key_Menu)},
  };
  for (const auto& [way, open_menu] : ways_to_open) {
    SCOPED_TRACE(way);
    testing::ShowAndActivate(dialog_);
    QStringList entries;
    QStringList about_texts;
    testing::WhenOpens<QMenu>(
        [&](QMenu* menu) {
          for (const QAction* action : menu->actions()) entries << action->text();
          testing::WhenOpens<AboutDialog>([&](AboutDialog* about) {
            about_texts << about->windowTitle();
            for (const QLabel* label : about->findChildren<QLabel*>()) about_texts << label->text();
            QTest::mouseClick(Find<QPushButton>(*about, "OkButton"), Qt::LeftButton);
            EXPECT_FALSE(about->isVisible());
            about->reject();  // so that a box left open does not hang the test
          });
          QTest::keyClick(menu, Qt::Key_A);  // the entry's access key
        },
        &QApplication::activePopupWidget);
    open_menu();
    EXPECT_EQ(entries, QStringList({"&About Kelvo..."}));
    EXPECT_EQ(about_texts,
              QStringList({"About Kelvo", "Kelvo Version 1.1", "Copyright (C) 2026 Harvenor",
                           "Harvenor Instruments Ltd.", "www.harvenor.example"}));
    EXPECT_TRUE(dialog_.isVisible());
  }
}

// That it runs the window until it closes shows in the test of Quit during an upload.
TEST(LoaderApp, HasItsVersionAndIgnoresTheArgumentsOfTheProgram) {
  // The test program was started with arguments of its own; the application sees none.
  EXPECT_EQ(QCoreApplication::arguments(), QStringList({"kelvo"}));
  EXPECT_EQ(QCoreApplication::applicationVersion(), "1.0.0.1");
}

}  // namespace
}  // namespace kelvo

#include "dialog_actions_test.moc"
