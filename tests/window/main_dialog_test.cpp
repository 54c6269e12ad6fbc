#include "window/main_dialog.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include "forms.h"
#include "settings/settings_file.h"
#include "transfer/memory_form.h"
#include "window/form_builder.h"
#include "window/log_pane.h"
#include "window/window_form.h"
#include "window_test_support.h"

namespace kelvo {
namespace {

using testing::Find;
using Bytes = std::vector<std::uint8_t>;

// Port "COM1", path C:\fw.bin, start address "0x2000", device type "ZARQX", delay 100.
const Bytes kExampleFile = {0x43, 0x4F, 0x4D, 0x31, 0x09, 0x43, 0x3A, 0x5C, 0x66, 0x77, 0x2E, 0x62,
                            0x69, 0x6E, 0x06, 0x30, 0x78, 0x32, 0x30, 0x30, 0x30, 0x01, 0x64, 0x00};

class MainDialogTest : public testing::InEmptyFolder {
 protected:
  std::string Text(const char* name) {
    if (auto* edit = dialog_.findChild<QLineEdit*>(name)) return edit->text().toStdString();
    return Find<QComboBox>(dialog_, name)->currentText().toStdString();
  }

  void ShowAndActivate() {
    dialog_.show();
    QApplication::setActiveWindow(&dialog_);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
  }

  MainDialog dialog_;
};

TEST_F(MainDialogTest, HasItsCaptionAFixedSizeInDialogUnitsAndNoMinimiseOrMaximiseBox) {
  EXPECT_EQ(dialog_.windowTitle(), "Harvenor - Kelvo ");
  const DialogUnits units(dialog_.font());
  EXPECT_EQ(dialog_.size(), QSize(units.ToPixelsX(307), units.ToPixelsY(276)));
  EXPECT_EQ(dialog_.minimumSize(), dialog_.maximumSize());
  const Qt::WindowFlags flags = dialog_.windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  const QList<QSize> icon_sizes = dialog_.windowIcon().availableSizes();
  EXPECT_TRUE(icon_sizes.contains(QSize(32, 32)));
  EXPECT_TRUE(icon_sizes.contains(QSize(16, 16)));
}

TEST_F(MainDialogTest, ControlsHaveTheirKindPlaceAndStyle) {
  enum class Kind { kEdit, kCombo, kButton, kLog };
  struct Case {
    const char* name;
    Kind kind;
    forms::DialogRect rect;
    bool tab_stop;
    bool read_only;
    bool right_aligned;
  };
  const Case cases[] = {
      {"FileEdit", Kind::kEdit, {75, 15, 160, 12}, true, false, false},
      {"BrowseButton", Kind::kButton, {235, 15, 50, 13}, true, false, false},
      {"PortCombo", Kind::kCombo, {75, 40, 85, 70}, true, false, false},
      {"StartAddressCombo", Kind::kCombo, {75, 65, 84, 70}, true, false, false},
      {"DeviceTypeCombo", Kind::kCombo, {75, 90, 85, 45}, true, false, false},
      {"StartButton", Kind::kButton, {235, 45, 50, 14}, true, false, false},
      {"QuitButton", Kind::kButton, {235, 115, 50, 14}, true, false, false},
      {"LogEdit", Kind::kLog, {20, 140, 270, 90}, false, true, false},
      {"ErrorsField", Kind::kEdit, {166, 250, 40, 15}, false, true, true},
      {"BlockField", Kind::kEdit, {20, 250, 54, 14}, false, true, true},
      {"HaltButton", Kind::kButton, {235, 60, 50, 14}, true, false, false},
      {"AddressField", Kind::kEdit, {100, 250, 40, 14}, false, true, true},
      {"ChecksumField", Kind::kEdit, {232, 250, 40, 14}, false, true, true},
      {"ResponseDelayEdit", Kind::kEdit, {75, 115, 85, 12}, true, false, true},
      {"HelpButton", Kind::kButton, {235, 90, 50, 14}, true, false, false},
  };
  const DialogUnits units(dialog_.font());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QWidget* widget = Find<QWidget>(dialog_, c.name);
    ASSERT_NE(widget, nullptr);
    const QRect expected = units.ToPixels(c.rect);
    if (c.kind == Kind::kCombo) {
      // The closed field's height is the font's; the rest of the template's height is the list.
      EXPECT_EQ(widget->pos(), expected.topLeft());
      EXPECT_EQ(widget->width(), expected.width());
      EXPECT_LT(widget->height(), expected.height());
    } else {
      EXPECT_EQ(widget->geometry(), expected);
    }
    EXPECT_EQ(bool(widget->focusPolicy() & Qt::TabFocus), c.tab_stop);
    switch (c.kind) {
      case Kind::kEdit: {
        auto* edit = qobject_cast<QLineEdit*>(widget);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->isReadOnly(), c.read_only);
        EXPECT_EQ(bool(edit->alignment() & Qt::AlignRight), c.right_aligned);
        break;
      }
      case Kind::kCombo:
        ASSERT_NE(qobject_cast<QComboBox*>(widget), nullptr);
        EXPECT_TRUE(qobject_cast<QComboBox*>(widget)->isEditable());
        break;
      case Kind::kButton:
        ASSERT_NE(qobject_cast<QPushButton*>(widget), nullptr);
        EXPECT_EQ(qobject_cast<QPushButton*>(widget)->isDefault(),
                  std::string(c.name) == "QuitButton");
        break;
      case Kind::kLog: {
        auto* log = qobject_cast<LogPane*>(widget);
        ASSERT_NE(log, nullptr);
        EXPECT_EQ(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        break;
      }
    }
  }
  EXPECT_FALSE(Find<QPushButton>(dialog_, "HaltButton")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>(dialog_, "StartButton")->isEnabled());
}

TEST_F(MainDialogTest, DropDownListsHoldTheirItemsInOrder) {
  struct Case {
    const char* name;
    QStringList items;
  };
  const Case cases[] = {
      {"PortCombo", {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}},
      {"StartAddressCombo", {"0x2000"}},
      {"DeviceTypeCombo", {"ZARQX", "ZARQ 40 - 580"}},
  };
  for (const Case& c : cases) {
    QComboBox* combo = Find<QComboBox>(dialog_, c.name);
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    EXPECT_EQ(items, c.items) << c.name;
  }
}

TEST_F(MainDialogTest, WithoutASettingsFileTheFieldsShowTheDefaults) {
  EXPECT_EQ(Text("FileEdit"), "");
  EXPECT_EQ(Text("PortCombo"), "COM1");
  EXPECT_EQ(Text("StartAddressCombo"), "0x2000");
  EXPECT_EQ(Text("DeviceTypeCombo"), "ZARQ 40 - 580");
  EXPECT_EQ(Text("ResponseDelayEdit"), "0");
  for (const char* field : {"BlockField", "ErrorsField", "AddressField", "ChecksumField"}) {
    EXPECT_EQ(Text(field), "") << field;
  }
  EXPECT_EQ(Find<LogPane>(dialog_, "LogEdit")->Text(), "");
}

TEST_F(MainDialogTest, TabVisitsTheTabStopsInFormOrderAndHaltOnlyWhenEnabled) {
  ShowAndActivate();
  const auto tab_order = [] {
    std::vector<std::string> names;
    for (int i = 0; i < 11; ++i) {
      names.push_back(QApplication::focusWidget()->objectName().toStdString());
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    return names;
  };
  const std::vector<std::string> without_halt = {
      "FileEdit",        "BrowseButton", "PortCombo",   "StartAddressCombo",
      "DeviceTypeCombo", "StartButton",  "QuitButton",  "ResponseDelayEdit",
      "HelpButton",      "FileEdit",     "BrowseButton"};
  EXPECT_EQ(tab_order(), without_halt);

  Find<QPushButton>(dialog_, "HaltButton")->setEnabled(true);
  Find<QLineEdit>(dialog_, "FileEdit")->setFocus();
  const std::vector<std::string> with_halt = {
      "FileEdit",          "BrowseButton", "PortCombo",  "StartAddressCombo",
      "DeviceTypeCombo",   "StartButton",  "QuitButton", "HaltButton",
      "ResponseDelayEdit", "HelpButton",   "FileEdit"};
  EXPECT_EQ(tab_order(), with_halt);
}

TEST_F(MainDialogTest, ResponseDelayTakesOnlyTypedDigitsButAnyTextFromTheProgram) {
  ShowAndActivate();
  auto* delay = Find<QLineEdit>(dialog_, "ResponseDelayEdit");
  delay->clear();
  QTest::keyClicks(delay, "1a2- b3x");
  EXPECT_EQ(delay->text(), "123");

  dialog_.Form()->SetText(Control::ResponseDelayEdit, "-1 ms");
  EXPECT_EQ(delay->text(), "-1 ms");
  delay->end(false);
  QTest::keyClicks(delay, "5q");
  EXPECT_EQ(delay->text(), "-1 ms5");

  auto* file = Find<QLineEdit>(dialog_, "FileEdit");
  QTest::keyClicks(file, "a-1 .bin");
  EXPECT_EQ(file->text(), "a-1 .bin");
}

TEST_F(MainDialogTest, TheExampleSettingsFileLoadsAndQuitWritesItBackIdentically) {
  testing::WriteFileBytes(Folder() / "KELVO.DAT", kExampleFile);
  MainDialog loaded;
  auto text = [&](const char* name) {
    if (auto* edit = loaded.findChild<QLineEdit*>(name)) return edit->text().toStdString();
    return Find<QComboBox>(loaded, name)->currentText().toStdString();
  };
  EXPECT_EQ(text("PortCombo"), "COM1");
  EXPECT_EQ(text("FileEdit"), "C:\\fw.bin");
  EXPECT_EQ(text("StartAddressCombo"), "0x2000");
  EXPECT_EQ(text("DeviceTypeCombo"), "ZARQX");
  EXPECT_EQ(text("ResponseDelayEdit"), "100");
  EXPECT_EQ(loaded.Shared()->ResponseDelay.load(), 100);

  std::filesystem::remove(Folder() / "KELVO.DAT");
  QTest::mouseClick(Find<QPushButton>(loaded, "QuitButton"), Qt::LeftButton);
  EXPECT_EQ(loaded.result(), QDialog::Accepted);
  EXPECT_FALSE(loaded.isVisible());
  EXPECT_EQ(testing::FileBytes(Folder() / "KELVO.DAT"), kExampleFile);
}

TEST_F(MainDialogTest, EnterInAnyFieldQuitsAndSavesWhatWasTyped) {
  for (const char* field :
       {"FileEdit", "PortCombo", "DeviceTypeCombo", "ResponseDelayEdit", "LogEdit"}) {
    SCOPED_TRACE(field);
    std::filesystem::remove(Folder() / "KELVO.DAT");
    MainDialog dialog;
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    Find<QLineEdit>(dialog, "FileEdit")->setText("/images/app.bin");
    QWidget* focus = Find<QWidget>(dialog, field);
    focus->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    MemoryForm saved;
    std::atomic<std::uint16_t> delay{0};
    LoadSettings(saved, delay);
    EXPECT_EQ(saved.ReadText(Control::FileEdit), "/images/app.bin");
    EXPECT_EQ(saved.ReadText(Control::PortCombo), "COM1");
  }
}

TEST_F(MainDialogTest, EscAndTheCloseBoxCloseWithoutSaving) {
  const std::vector<std::pair<const char*, std::function<void(MainDialog&)>>> ways = {
      {"Esc", [](MainDialog&) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); }},
      {"close box", [](MainDialog& d) { d.close(); }},
  };
  testing::WriteFileBytes(Folder() / "KELVO.DAT", kExampleFile);
  for (const auto& [way, close] : ways) {
    SCOPED_TRACE(way);
    MainDialog dialog;
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    Find<QLineEdit>(dialog, "FileEdit")->setText("/changed.bin");
    Find<QLineEdit>(dialog, "ResponseDelayEdit")->setText("250");
    close(dialog);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(testing::FileBytes(Folder() / "KELVO.DAT"), kExampleFile);
  }
}

TEST_F(MainDialogTest, TickCountStartsAtZeroAndAdvancesByFiftyAtEveryTick) {
  EXPECT_EQ(dialog_.Shared()->clock.TickCount(), 0u);
  auto* timer = Find<QTimer>(dialog_, "TickTimer");
  EXPECT_EQ(timer->interval(), 50);
  EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);
  EXPECT_FALSE(timer->isSingleShot());
  // Connected after the window's own handler, so each reading follows one tick.
  std::vector<std::uint32_t> readings;
  QObject::connect(timer, &QTimer::timeout,
                   [&] { readings.push_back(dialog_.Shared()->clock.TickCount()); });
  ASSERT_TRUE(testing::ProcessEventsUntil([&] { return readings.size() >= 6; }));
  for (std::size_t i = 0; i < readings.size(); ++i) EXPECT_EQ(readings[i], 50 * (i + 1));
}

}  // namespace
}  // namespace kelvo
