#include "window/qt/main_dialog.h"

#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QScrollBar>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <tuple>

#include "settings/settings_record.h"
#include "window/forms.h"
#include "window_test_support.h"

namespace kelvo {
namespace {

using testing::Find;

// Dialog units in pixels, measured here rather than by the window's own conversion.
QRect Pixels(const QFont& font, const forms::DialogRect& rect) {
  const QFontMetrics metrics(font);
  const int width = qRound(
      metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52.0);
  const auto x = [&](int units) { return (units * width + 2) / 4; };
  const auto y = [&](int units) { return (units * metrics.height() + 4) / 8; };
  return QRect(x(rect.x), y(rect.y), x(rect.w), y(rect.h));
}

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

class MainDialogTest : public testing::InEmptyFolder {
 protected:
  MainDialogTest() { testing::ShowAndActivate(dialog_); }

  static QString FilePath(const char* name) { return QDir::current().absoluteFilePath(name); }

  MainDialog dialog_;
};

// Where every control stands is the form table's business; these are the rules applied to it.
TEST_F(MainDialogTest, FormHasItsCaptionIconsAndFontSizedPlacesStylesAndTabOrder) {
  EXPECT_EQ(dialog_.windowTitle(), "Harvenor - Kelvo ");
  EXPECT_EQ(dialog_.minimumSize(), dialog_.maximumSize());
  const Qt::WindowFlags boxes = Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                                Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint;
  EXPECT_EQ(dialog_.windowFlags() & boxes, Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint);
  const QList<QSize> icon_sizes = dialog_.windowIcon().availableSizes();
  EXPECT_TRUE(icon_sizes.contains(QSize(32, 32)) && icon_sizes.contains(QSize(16, 16)));
  const QFont standard = QApplication::font();
  for (const int points : {standard.pointSize(), 14, 30}) {
    QFont font = standard;
    font.setPointSize(points);
    QApplication::setFont(font);
    EXPECT_EQ(MainDialog().size(), Pixels(font, {0, 0, 307, 276}).size()) << points;
  }
  QApplication::setFont(standard);

  EXPECT_EQ(Find<QWidget>(dialog_, "FileEdit")->geometry(),
            Pixels(dialog_.font(), {75, 15, 160, 12}));
  // Closed, a combo is as high as its font needs; the rest of its height is the dropped list.
  auto* port = Find<QComboBox>(dialog_, "PortCombo");
  const QRect port_rect = Pixels(dialog_.font(), {75, 40, 85, 70});
  EXPECT_LT(port->height(), port_rect.height());
  EXPECT_EQ(port->geometry(), QRect(port_rect.topLeft(), QSize(port_rect.width(), port->height())));
  for (const QLabel* label : dialog_.findChildren<QLabel*>())
    EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
  const std::tuple<const char*, bool, bool, const char*> fields[] = {
      // read-only, right-aligned, and what typing "a-1 .b2x" there leaves
      {"FileEdit", false, false, "a-1 .b2x"},
      {"ResponseDelayEdit", false, true, "12"},
      {"BlockField", true, true, ""},
      {"ChecksumField", true, true, ""}};
  for (const auto& [name, read_only, right, typed] : fields) {
    auto* edit = Find<QLineEdit>(dialog_, name);
    EXPECT_EQ(edit->isReadOnly(), read_only) << name;
    EXPECT_EQ(bool(edit->alignment() & Qt::AlignRight), right) << name;
    edit->clear();
    QTest::keyClicks(edit, "a-1 .b2x");
    EXPECT_EQ(edit->text(), typed) << name;
  }
  // The digits are a rule for typing only.
  dialog_.Form()->SetText(Control::ResponseDelayEdit, "-1 ms");
  EXPECT_TRUE(testing::ProcessEventsUntil(
      [&] { return Find<QLineEdit>(dialog_, "ResponseDelayEdit")->text() == "-1 ms"; }));
  auto* device = Find<QComboBox>(dialog_, "DeviceTypeCombo");  // in the table's order, unsorted
  EXPECT_EQ(device->itemText(0) + "|" + device->itemText(1), "ZARQX|ZARQ 40 - 580");
  EXPECT_TRUE(port->isEditable() && device->isEditable());  // a port or device not listed
  // The view follows the caret sideways: a bar would hide a line.
  auto* log = Find<LogPane>(dialog_, "LogEdit");
  EXPECT_EQ(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(log->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  auto* halt = Find<QPushButton>(dialog_, "HaltButton");
  EXPECT_FALSE(halt->isEnabled());

  // Tab skips the log and the read-only fields, and goes round again.
  halt->setEnabled(true);  // as while a transfer runs
  for (const char* stop :
       {"FileEdit", "BrowseButton", "PortCombo", "StartAddressCombo", "DeviceTypeCombo",
        "StartButton", "QuitButton", "HaltButton", "ResponseDelayEdit", "HelpButton", "FileEdit"}) {
    EXPECT_EQ(QApplication::focusWidget()->objectName(), stop);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
}

// A byte of a Windows code page, a UTF-8 letter and what only looks like UTF-8 (a surrogate, an
// overlong form, a code past U+10FFFF, a cut sequence) reach the transfers and the file as read.
TEST_F(MainDialogTest, TextsKeepTheirBytesFromTheFileToTheTransferAndBack) {
  const std::pair<std::string, bool> cases[] = {
      // the path, and whether it shows as text
      {"C:\\caf\xE9.bin", false},
      {"C:\\café.bin", true},
      {"\xED\xA0\x80\xC0\xAF\xF4\x90\x80\x80\xE2\x82", false}};
  for (const auto& [path, text] : cases) {
    const std::vector<std::uint8_t> file = EncodeSettings({"COM1", path, "0x2000", "ZARQX", 100});
    testing::WriteFileBytes("KELVO.DAT", file);
    MainDialog dialog;
    EXPECT_EQ(Find<QLineEdit>(dialog, "FileEdit")->text().toStdString() == path, text);
    EXPECT_EQ(dialog.Form()->ReadText(Control::FileEdit), path);
    EXPECT_EQ(dialog.Shared()->ResponseDelay.load(), 100);
    dialog.accept();
    EXPECT_EQ(testing::FileContents("KELVO.DAT"), std::string(file.begin(), file.end()));
  }
}

// Enter clicks Quit, the default button. With no transfer running, nothing asks first.
TEST_F(MainDialogTest, EnterInAnyFieldQuitsAndSavesWhileEscAndTheCloseBoxLeaveTheFileAlone) {
  const std::tuple<const char*, Qt::Key, bool> cases[] = {
      // the field with the focus, the key pressed there, and whether it saves
      {"PortCombo", Qt::Key_Return, true},
      {"ResponseDelayEdit", Qt::Key_Return, true},
      {"LogEdit", Qt::Key_Return, true},
      {"FileEdit", Qt::Key_Escape, false},
      {nullptr, Qt::Key_unknown, false}};  // the close box
  for (const auto& [field, key, saves] : cases) {
    SCOPED_TRACE(field ? field : "close box");
    testing::WriteFileBytes("KELVO.DAT", EncodeSettings({"COM1", "C:\\fw.bin", "0x2000", "", 0}));
    MainDialog dialog;
    testing::ShowAndActivate(dialog);
    Find<QLineEdit>(dialog, "FileEdit")->setText("/changed.bin");
    QString asked;
    testing::WhenOpens<QMessageBox>(
        [&](QMessageBox* box) {
          asked = box->text();
          box->button(QMessageBox::Yes)->click();
        },
        &QApplication::activeModalWidget, &dialog);
    if (field) {
      Find<QWidget>(dialog, field)->setFocus();
      QTest::keyClick(QApplication::focusWidget(), key);
    } else {
      dialog.close();
    }
    EXPECT_EQ(asked, "");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), saves ? QDialog::Accepted : QDialog::Rejected);
    // What the next start reads.
    EXPECT_EQ(MainDialog().Form()->ReadText(Control::FileEdit),
              saves ? "/changed.bin" : "C:\\fw.bin");
  }
}

// A folder in the file's place fails the save for anyone, as a read-only file does for all but
// root.
TEST_F(MainDialogTest, AQuitWhoseSaveFailsSaysWhyBeforeTheWindowCloses) {
  ASSERT_TRUE(QDir().mkdir("KELVO.DAT"));
  QStringList shown;
  testing::WhenOpens<QMessageBox>(
      [&](QMessageBox* box) {
        shown << box->windowTitle() << box->text();
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        EXPECT_TRUE(dialog_.isVisible());
        box->button(QMessageBox::Ok)->click();
      },
      &QApplication::activeModalWidget, &dialog_);
  QTest::mouseClick(Find<QPushButton>(dialog_, "QuitButton"), Qt::LeftButton);
  EXPECT_EQ(shown,
            QStringList({window_texts::kCaption,
                         QString::fromLocal8Bit(window_texts::NotSaved(std::strerror(EISDIR)))}));
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.result(), QDialog::Accepted);
}

TEST_F(MainDialogTest, TickCountAdvancesFromZeroByFiftyAtEveryTick) {
  auto* timer = Find<QTimer>(dialog_, "TickTimer");
  EXPECT_EQ(timer->interval(), 50);
  EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);
  // Connected after the window's own handler, so each reading follows one tick.
  std::vector<std::uint32_t> readings;
  QObject::connect(timer, &QTimer::timeout,
                   [&] { readings.push_back(dialog_.Shared()->clock.TickCount()); });
  ASSERT_TRUE(testing::ProcessEventsUntil([&] { return readings.size() >= 6; }));
  for (std::size_t i = 0; i < readings.size(); ++i) EXPECT_EQ(readings[i], 50 * (i + 1));
}

TEST_F(MainDialogTest, BrowseOpensOnFileEditsFileAndPutsTheChosenFileThereWithoutMovingHome) {
  QDir().mkpath("images");
  for (const char* name : {"app.bin", "setup.scr", "app.s19", "app.S37"})
    testing::WriteFileBytes(std::string("images/") + name, {'S'});
  const QString start_folder = QDir::currentPath();
  auto* file_edit = Find<QLineEdit>(dialog_, "FileEdit");
  file_edit->setText(FilePath("images/app.bin"));

  for (const bool ok : {false, true}) {
    testing::WhenOpens<QFileDialog>([&](QFileDialog* browse) {
      EXPECT_EQ(browse->nameFilters(),
                QStringList({"BIN Files (*.bin)", "Scripts (*.scr)", "HEX Files (*.hex)",
                             "S-Record Files (*.srec *.s19 *.s28 *.s37)"}));
      // Each pattern of a filter lists its files.
      browse->selectNameFilter(browse->nameFilters().last());
      auto* list = browse->findChild<QListView*>("listView");
      EXPECT_TRUE(testing::ProcessEventsUntil(
          [&] { return list->model()->rowCount(list->rootIndex()) == 2; }));
      EXPECT_EQ(browse->defaultSuffix(), "bin");
      EXPECT_EQ(browse->fileMode(), QFileDialog::ExistingFile);
      EXPECT_EQ(browse->selectedFiles(), QStringList({FilePath("images/app.bin")}));
      // The name field takes the path only while it has no focus.
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

// Installed, the program is in bin/ and the help in share/kelvo/ beside it.
TEST_F(MainDialogTest, HelpOrF1OpensTheHelpFileHereElseTheInstalledOneAndTheContextMenuTheAbout) {
  OpenedUrls opened;
  const auto help_then_f1 = [&] {
    Find<QPushButton>(dialog_, "HelpButton")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    Find<QLineEdit>(dialog_, "FileEdit")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
  };
  help_then_f1();
  ASSERT_TRUE(QFile(FilePath("KelvoHelp.rtf")).open(QIODevice::WriteOnly));
  help_then_f1();
  QDir prefix(QCoreApplication::applicationDirPath());
  ASSERT_TRUE(prefix.cdUp());
  const QUrl installed = QUrl::fromLocalFile(prefix.filePath("share/kelvo/KelvoHelp.rtf"));
  const QUrl here = QUrl::fromLocalFile(FilePath("KelvoHelp.rtf"));
  EXPECT_EQ(opened.urls, QList<QUrl>({installed, installed, here, here}));
  EXPECT_TRUE(dialog_.isVisible());

  // Enter and Esc in the About box are Qt's own; OK closes it here.
  const std::tuple<const char*, Qt::Key, Qt::KeyboardModifiers> ways_to_open[] = {
      {"right click", Qt::Key_unknown, {}},
      {"Shift+F10", Qt::Key_F10, Qt::ShiftModifier},
      {"Menu key", Qt::Key_Menu, {}}};
  for (const auto& [way, key, modifiers] : ways_to_open) {
    SCOPED_TRACE(way);
    testing::ShowAndActivate(dialog_);
    QStringList entries, about_texts;
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
    if (key != Qt::Key_unknown) {
      QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    } else {
      QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                              dialog_.mapToGlobal(QPoint(5, 5)));
      QApplication::sendEvent(&dialog_, &click);
    }
    EXPECT_EQ(entries, QStringList({"&About Kelvo..."}));
    EXPECT_EQ(about_texts,
              QStringList({"About Kelvo", "Kelvo Version 1.1", "Copyright (C) 2026 Harvenor",
                           "Harvenor Instruments Ltd.", "www.harvenor.example"}));
    EXPECT_TRUE(dialog_.isVisible());
  }
}

// The log's rules are LogLayout's; these are about Qt's side of them: the scroll bar, the mouse,
// the clipboard and the caret.
TEST(LogPane, ItsScrollBarFollowsTheLogAndTheOperatorSelectsAndCopiesWithoutCarriageReturns) {
  LogPane pane;
  pane.resize(300, 120);
  testing::ShowAndActivate(pane);
  std::string lines;
  for (int i = 0; i < 300; ++i) lines += "Line " + std::to_string(i) + " of a log\r\n";
  pane.Show({true, lines, lines.size()});
  QScrollBar* scroll = pane.verticalScrollBar();
  EXPECT_EQ(scroll->maximum(), static_cast<int>(301 - pane.Layout().LinesInView()));
  EXPECT_EQ(scroll->value(), scroll->maximum());
  scroll->setValue(0);
  EXPECT_EQ(pane.Layout().Top(), 0u);

  pane.Show({true, "alpha\r\nbeta\r\ngamma\r\n", 0});
  const QFontMetrics metrics = pane.fontMetrics();
  // Nearer the boundary after "be" than the one before it.
  const int e_width = metrics.horizontalAdvance("e");
  const QPoint after_be(2 + metrics.horizontalAdvance("b") + e_width * 3 / 4,
                        metrics.height() * 3 / 2);
  QTest::mousePress(pane.viewport(), Qt::LeftButton, {}, QPoint(1, metrics.height() / 2));
  QTest::mouseMove(pane.viewport(), after_be);
  QTest::mouseRelease(pane.viewport(), Qt::LeftButton, {}, after_be);
  EXPECT_EQ(pane.SelectedText(), "alpha\nbe");

  // The caret shows only while the log has the focus.
  pane.clearFocus();
  const QImage unfocused = pane.viewport()->grab().toImage();
  pane.setFocus();
  EXPECT_NE(pane.viewport()->grab().toImage(), unfocused);
  QTest::keyClick(&pane, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "alpha\nbe");
  QTest::keyClick(&pane, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(pane.SelectedText(), "alpha\nbeta\ngamma\n");
}

}  // namespace
}  // namespace kelvo

#include "main_dialog_test.moc"
