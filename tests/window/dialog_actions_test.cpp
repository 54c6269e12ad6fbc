#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "window/about_dialog.h"
#include "window/loader_app.h"
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

// Picks path in the open file dialog and confirms, as the operator would by typing the name and
// pressing Enter. The name field takes the path only while it has no focus.
void ChooseFile(QFileDialog* browse, const QString& path) {
  if (QWidget* focus = browse->focusWidget()) focus->clearFocus();
  browse->selectFile(path);
  static_cast<QDialog*>(browse)->accept();
}

class DialogActionsTest : public testing::InEmptyFolder {
 protected:
  DialogActionsTest() {
    dialog_.show();
    Activate();
  }

  // Makes the window the active one again, as it is after a dialog or menu over it closes.
  void Activate() {
    QApplication::setActiveWindow(&dialog_);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog_));
  }

  void Click(const char* button) {
    QTest::mouseClick(Find<QPushButton>(dialog_, button), Qt::LeftButton);
  }

  QString FilePath(const char* name) const {
    return QString::fromStdString((Folder() / name).string());
  }

  MainDialog dialog_;
};

TEST_F(DialogActionsTest, BrowseOpensOnFileEditsFileWithTheTwoFiltersAndCancelKeepsTheText) {
  QDir(Folder()).mkpath("images");
  testing::WriteFileBytes(Folder() / "images/app.bin", {1, 2, 3});
  auto* file_edit = Find<QLineEdit>(dialog_, "FileEdit");
  file_edit->setText(FilePath("images/app.bin"));

  bool checked = false;
  testing::WhenModalOpens<QFileDialog>([&](QFileDialog* browse) {
    EXPECT_EQ(browse->nameFilters(), QStringList({"BIN Files (*.bin)", "Scripts (*.scr)"}));
    EXPECT_EQ(browse->selectedNameFilter(), "BIN Files (*.bin)");
    EXPECT_EQ(browse->defaultSuffix(), "bin");
    EXPECT_EQ(browse->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(browse->directory().absolutePath(), FilePath("images"));
    EXPECT_EQ(browse->selectedFiles(), QStringList({FilePath("images/app.bin")}));
    checked = true;
    browse->reject();
  });
  Click("BrowseButton");
  EXPECT_TRUE(checked);
  EXPECT_EQ(file_edit->text(), FilePath("images/app.bin"));
}

TEST_F(DialogActionsTest, BrowseTakesOnlyAnExistingFileAndNeverChangesTheCurrentDirectory) {
  QDir(Folder()).mkpath("scripts");
  testing::WriteFileBytes(Folder() / "scripts/setup.scr", {'S'});
  const QString start_folder = QDir::currentPath();

  bool missing_refused = false;
  testing::WhenModalOpens<QFileDialog>([&](QFileDialog* browse) {
    bool warned = false;
    testing::WhenModalOpens<QMessageBox>([&](QMessageBox* warning) {
      warned = true;
      warning->accept();
    });
    ChooseFile(browse, FilePath("scripts/missing.bin"));
    missing_refused = warned && browse->isVisible();
    ChooseFile(browse, FilePath("scripts/setup.scr"));
  });
  Click("BrowseButton");
  EXPECT_TRUE(missing_refused);
  EXPECT_EQ(Find<QLineEdit>(dialog_, "FileEdit")->text(), FilePath("scripts/setup.scr"));
  EXPECT_EQ(QDir::currentPath(), start_folder);
}

TEST_F(DialogActionsTest, HelpOpensTheHelpFileOfTheStartFolderAlsoAfterBrowsingElsewhere) {
  OpenedUrls opened;
  Click("HelpButton");
  QDir(Folder()).mkpath("elsewhere");
  testing::WriteFileBytes(Folder() / "elsewhere/app.bin", {1});
  testing::WhenModalOpens<QFileDialog>(
      [&](QFileDialog* browse) { ChooseFile(browse, FilePath("elsewhere/app.bin")); });
  Click("BrowseButton");
  // Enter on a push button other than Quit clicks that button instead of quitting.
  Activate();
  Find<QPushButton>(dialog_, "HelpButton")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);

  const QUrl help = QUrl::fromLocalFile(FilePath("KelvoHelp.rtf"));
  EXPECT_EQ(opened.urls, QList<QUrl>({help, help}));
  EXPECT_TRUE(dialog_.isVisible());
}

// The texts of an About box's labels, top to bottom.
QStringList LabelTexts(const QWidget& about) {
  QStringList texts;
  for (const QLabel* label : about.findChildren<QLabel*>()) texts << label->text();
  return texts;
}

TEST_F(DialogActionsTest, TheFormsContextMenuOffersTheAboutBox) {
  const std::vector<std::pair<const char*, std::function<void()>>> ways = {
      {"right click",
       [&] {
         QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                                 dialog_.mapToGlobal(QPoint(5, 5)));
         QApplication::sendEvent(&dialog_, &click);
       }},
      {"Shift+F10",
       [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10, Qt::ShiftModifier); }},
      {"Menu key", [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Menu); }},
  };
  for (const auto& [way, open_menu] : ways) {
    SCOPED_TRACE(way);
    Activate();
    QStringList entries;
    QStringList about_texts;
    testing::WhenPopupOpens([&](QWidget* popup) {
      for (const QAction* action : popup->actions()) entries << action->text();
      testing::WhenModalOpens<AboutDialog>([&](AboutDialog* about) {
        about_texts = LabelTexts(*about);
        about_texts.prepend(about->windowTitle());
        QTest::keyClick(about, Qt::Key_Escape);
      });
      QTest::keyClick(popup, Qt::Key_A);  // the entry's access key
    });
    open_menu();
    EXPECT_EQ(entries, QStringList({"&About Kelvo..."}));
    EXPECT_EQ(about_texts,
              QStringList({"About Kelvo", "Kelvo Version 1.1", "Copyright (C) 2026 Harvenor",
                           "Harvenor Instruments Ltd.", "www.harvenor.example"}));
    EXPECT_TRUE(dialog_.isVisible());
  }
}

TEST_F(DialogActionsTest, TheAboutBoxClosesByOkEnterEscAndItsCloseBox) {
  const std::vector<std::pair<const char*, std::function<void(AboutDialog&)>>> ways = {
      {"OK",
       [](AboutDialog& about) {
         QTest::mouseClick(Find<QPushButton>(about, "OkButton"), Qt::LeftButton);
       }},
      {"Enter", [](AboutDialog& about) { QTest::keyClick(&about, Qt::Key_Return); }},
      {"Esc", [](AboutDialog& about) { QTest::keyClick(&about, Qt::Key_Escape); }},
      {"close box", [](AboutDialog& about) { about.close(); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.first);
    bool was_open = false;
    testing::WhenModalOpens<AboutDialog>([&](AboutDialog* about) {
      was_open = about->isVisible();
      way.second(*about);
    });
    AboutDialog about(&dialog_);
    about.exec();
    EXPECT_TRUE(was_open);
    EXPECT_FALSE(about.isVisible());
  }
}

class LoaderAppTest : public testing::InEmptyFolder {};

TEST_F(LoaderAppTest, RunsTheMainWindowModallyUntilItClosesAndIgnoresItsArguments) {
  // The test program was started with arguments of its own; the application sees none.
  EXPECT_EQ(QCoreApplication::arguments(), QStringList({"kelvo"}));
  EXPECT_EQ(QCoreApplication::applicationVersion(), "1.0.0.1");

  QString caption;
  testing::WhenModalOpens<MainDialog>([&](MainDialog* window) {
    caption = window->windowTitle();
    window->close();
  });
  auto* app = qobject_cast<LoaderApp*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  EXPECT_FALSE(app->InitInstance());
  EXPECT_EQ(caption, "Harvenor - Kelvo ");
  const QWidgetList windows = QApplication::topLevelWidgets();
  EXPECT_TRUE(std::none_of(windows.begin(), windows.end(),
                           [](const QWidget* window) { return window->isVisible(); }));
}

}  // namespace
}  // namespace kelvo

#include "dialog_actions_test.moc"
