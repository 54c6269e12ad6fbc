#include "window/main_dialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QUrl>
#include <cstring>

#include "forms.h"
#include "settings/settings_record.h"
#include "window/about_dialog.h"
#include "window/log_pane.h"
#include "window/window_form.h"
#include "window_test_support.h"

namespace kelvo {
namespace {

using testing::Find;

// A rectangle in dialog units in pixels, measured here rather than taken from the window's own
// conversion: a quarter of the font's average character width across, an eighth of its height
// down, rounded to the nearest pixel.
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

// The window is shown and active, as it is after a dialog or menu over it closes.
class MainDialogTest : public testing::InEmptyFolder {
 protected:
  MainDialogTest() { testing::ShowAndActivate(dialog_); }

  static QString FilePath(const char* name) { return QDir::current().absoluteFilePath(name); }

  MainDialog dialog_;
};

TEST_F(MainDialogTest, HasItsCaptionAFixedSizeInDialogUnitsAndNoMinimiseOrMaximiseBox) {
  EXPECT_EQ(dialog_.windowTitle(), "Harvenor - Kelvo ");
  EXPECT_EQ(dialog_.minimumSize(), dialog_.maximumSize());
  const Qt::WindowFlags boxes = Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                                Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint;
  EXPECT_EQ(dialog_.windowFlags() & boxes, Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint);
  const QList<QSize> icon_sizes = dialog_.windowIcon().availableSizes();
  EXPECT_TRUE(icon_sizes.contains(QSize(32, 32)) && icon_sizes.contains(QSize(16, 16)));

  // The size follows the font, whatever it is.
  const QFont standard = QApplication::font();
  for (const int points : {standard.pointSize(), 14, 30}) {
    SCOPED_TRACE(points);
    QFont font = standard;
    font.setPointSize(points);
    QApplication::setFont(font);
    MainDialog window;
    EXPECT_EQ(window.size(), Pixels(font, {0, 0, 307, 276}).size());
  }
  QApplication::setFont(standard);
}

TEST_F(MainDialogTest, ControlsHaveTheirKindPlaceStyleAndDefaultTextAndTabVisitsTheStopsInOrder) {
  struct Case {
    const char* name;
    const char* kind;  // the widget's class
    forms::DialogRect rect;
    const char* style;      // T: a tab stop, R: read-only, A: right-aligned
    const char* text = "";  // of a field, there being no settings file
  };
  const Case cases[] = {
      {"FileEdit", "QLineEdit", {75, 15, 160, 12}, "T"},
      {"BrowseButton", "QPushButton", {235, 15, 50, 13}, "T"},
      {"PortCombo", "QComboBox", {75, 40, 85, 70}, "T", "COM1"},
      {"StartAddressCombo", "QComboBox", {75, 65, 84, 70}, "T", "0x2000"},
      {"DeviceTypeCombo", "QComboBox", {75, 90, 85, 45}, "T", "ZARQ 40 - 580"},
      {"StartButton", "QPushButton", {235, 45, 50, 14}, "T"},
      {"QuitButton", "QPushButton", {235, 115, 50, 14}, "T"},
      {"LogEdit", "kelvo::LogPane", {20, 140, 270, 90}, ""},
      {"ErrorsField", "QLineEdit", {166, 250, 40, 15}, "RA"},
      {"BlockField", "QLineEdit", {20, 250, 54, 14}, "RA"},
      {"HaltButton", "QPushButton", {235, 60, 50, 14}, "T"},
      {"AddressField", "QLineEdit", {100, 250, 40, 14}, "RA"},
      {"ChecksumField", "QLineEdit", {232, 250, 40, 14}, "RA"},
      {"ResponseDelayEdit", "QLineEdit", {75, 115, 85, 12}, "TA", "0"},
      {"HelpButton", "QPushButton", {235, 90, 50, 14}, "T"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto has = [&](char style) { return std::strchr(c.style, style) != nullptr; };
    QWidget* widget = Find<QWidget>(dialog_, c.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_STREQ(widget->metaObject()->className(), c.kind);
    QRect expected = Pixels(dialog_.font(), c.rect);
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      // Closed, it is as high as its font needs; the rest of the height is the dropped list.
      EXPECT_LT(combo->height(), expected.height());
      expected.setHeight(combo->height());
      EXPECT_TRUE(combo->isEditable());
      EXPECT_EQ(combo->currentText(), c.text);
    }
    EXPECT_EQ(widget->geometry(), expected);
    EXPECT_EQ(bool(widget->focusPolicy() & Qt::TabFocus), has('T'));
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      EXPECT_EQ(edit->isReadOnly(), has('R'));
      EXPECT_EQ(bool(edit->alignment() & Qt::AlignRight), has('A'));
      EXPECT_EQ(edit->text(), c.text);
    }
  }
  EXPECT_EQ(Find<LogPane>(dialog_, "LogEdit")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  // The view follows the caret sideways: a bar would hide a line.
  EXPECT_EQ(Find<LogPane>(dialog_, "LogEdit")->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_FALSE(Find<QPushButton>(dialog_, "HaltButton")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>(dialog_, "StartButton")->isEnabled());

  const auto items = [&](const char* name) {
    auto* combo = Find<QComboBox>(dialog_, name);
    QStringList list;
    for (int i = 0; i < combo->count(); ++i) list << combo->itemText(i);
    return list.join('|');
  };
  EXPECT_EQ(items("PortCombo"), "COM1|COM2|COM3|COM4|COM5|COM6|COM7|COM8");
  EXPECT_EQ(items("StartAddressCombo"), "0x2000");
  EXPECT_EQ(items("DeviceTypeCombo"), "ZARQX|ZARQ 40 - 580");
  for (const QLabel* label : dialog_.findChildren<QLabel*>()) {
    EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
  }

  // Tab visits the tab stops in the order of the table, and round again.
  Find<QPushButton>(dialog_, "HaltButton")->setEnabled(true);  // as while a transfer runs
  for (const Case& c : cases) {
    if (!std::strchr(c.style, 'T')) continue;
    EXPECT_EQ(QApplication::focusWidget()->objectName(), c.name);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(QApplication::focusWidget()->objectName(), "FileEdit");
}

// A path byte that is no UTF-8 (0xE9, a letter of a Windows code page), a UTF-8 letter, and
// what only looks like UTF-8 (an encoded surrogate, an overlong form, a code past U+10FFFF, a
// cut sequence) reach the transfers as they are and go back to the file unchanged by a Quit;
// the UTF-8 letter shows as itself.
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

TEST_F(MainDialogTest, ResponseDelayTakesOnlyTypedDigitsButAnyTextFromTheProgram) {
  auto* delay = Find<QLineEdit>(dialog_, "ResponseDelayEdit");
  delay->clear();
  QTest::keyClicks(delay, "1a2- b3x");
  EXPECT_EQ(delay->text(), "123");

  dialog_.Form()->SetText(Control::ResponseDelayEdit, "-1 ms");
  EXPECT_EQ(delay->text(), "-1 ms");

  auto* file = Find<QLineEdit>(dialog_, "FileEdit");
  QTest::keyClicks(file, "a-1 .bin");
  EXPECT_EQ(file->text(), "a-1 .bin");
}

TEST_F(MainDialogTest, QuitAndEnterInAnyFieldSaveWhileEscAndTheCloseBoxLeaveTheFileAlone) {
  const auto key_in = [](const char* field, Qt::Key key) {
    return [=](MainDialog& dialog) {
      Find<QWidget>(dialog, field)->setFocus();
      QTest::keyClick(QApplication::focusWidget(), key);
    };
  };
  struct Case {
    const char* name;
    std::function<void(MainDialog&)> close;
    bool saves;
  };
  const Case cases[] = {
      {"Quit, pressed with Space", key_in("QuitButton", Qt::Key_Space), true},
      {"Enter in PortCombo", key_in("PortCombo", Qt::Key_Return), true},
      {"Enter in ResponseDelayEdit", key_in("ResponseDelayEdit", Qt::Key_Return), true},
      {"Enter in LogEdit", key_in("LogEdit", Qt::Key_Return), true},
      {"Esc", key_in("FileEdit", Qt::Key_Escape), false},
      {"close box", [](MainDialog& dialog) { dialog.close(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::WriteFileBytes("KELVO.DAT", EncodeSettings({"COM1", "C:\\fw.bin", "0x2000", "", 0}));
    MainDialog dialog;
    testing::ShowAndActivate(dialog);
    Find<QLineEdit>(dialog, "FileEdit")->setText("/changed.bin");
    c.close(dialog);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), c.saves ? QDialog::Accepted : QDialog::Rejected);
    // What the next start reads.
    EXPECT_EQ(MainDialog().Form()->ReadText(Control::FileEdit),
              c.saves ? "/changed.bin" : "C:\\fw.bin");
  }
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
  testing::WriteFileBytes("images/app.bin", {1, 2, 3});
  testing::WriteFileBytes("images/setup.scr", {'S'});
  testing::WriteFileBytes("images/app.s19", {'S'});
  testing::WriteFileBytes("images/app.S37", {'S'});
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

// Installed, the program is in bin/ and the help in share/kelvo/ beside it.
TEST_F(MainDialogTest, EnterOnHelpOrF1OpensTheCurrentFoldersHelpFileElseTheInstalledOne) {
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
}

// Enter and Esc in the About box are Qt's own; OK closes it here.
TEST_F(MainDialogTest, TheFormsContextMenuOffersTheAboutBox) {
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

}  // namespace
}  // namespace kelvo

#include "main_dialog_test.moc"
