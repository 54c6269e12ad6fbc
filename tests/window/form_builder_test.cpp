#include "window/form_builder.h"

#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include "window_test_support.h"

namespace kelvo {
namespace {

TEST(DialogUnits, AreAQuarterOfTheAverageCharacterWidthAndAnEighthOfTheHeight) {
  for (const int points : {8, 9, 14, 30}) {
    SCOPED_TRACE(points);
    QFont font = QApplication::font();
    font.setPointSize(points);
    const QFontMetrics metrics(font);
    const double average =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52.0;
    const int width = static_cast<int>(average + 0.5);
    const DialogUnits units(font);
    EXPECT_EQ(units.ToPixelsX(4), width);
    EXPECT_EQ(units.ToPixelsY(8), metrics.height());
    EXPECT_EQ(units.ToPixelsX(307), (307 * width * 2 + 4) / 8);
    EXPECT_EQ(units.ToPixels({20, 16, 40, 12}),
              QRect(units.ToPixelsX(20), units.ToPixelsY(16), 10 * width,
                    (12 * metrics.height() * 2 + 8) / 16));
  }
}

constexpr const char* kUnsortedItems[] = {"beta", "Gamma", "alpha", "COM10", "COM2"};

constexpr forms::Control kTrialControls[] = {
    {0, "", forms::Kind::kLabel, "A label much longer than its place", {5, 5, 10, 8}, 0},
    {10,
     "Sorted",
     forms::Kind::kCombo,
     "",
     {5, 20, 60, 50},
     forms::kTabStop | forms::kSorted,
     kUnsortedItems},
    {11, "InOrder", forms::Kind::kCombo, "", {5, 40, 60, 50}, forms::kTabStop, kUnsortedItems},
    {12, "Off", forms::Kind::kButton, "Off", {80, 20, 40, 14}, forms::kTabStop | forms::kDisabled},
    {1, "Ok", forms::Kind::kDefaultButton, "OK", {80, 40, 40, 14}, forms::kTabStop},
};
constexpr forms::Form kTrialForm = {"Trial", 130, 60, kTrialControls};

QStringList Items(const QComboBox& combo) {
  QStringList items;
  for (int i = 0; i < combo.count(); ++i) items << combo.itemText(i);
  return items;
}

TEST(BuildForm, MakesTheControlsOfATable) {
  QDialog dialog;
  const QHash<int, QWidget*> controls = BuildForm(dialog, kTrialForm);
  EXPECT_EQ(dialog.windowTitle(), "Trial");
  EXPECT_EQ(controls.keys().size(), 4);

  auto* sorted = qobject_cast<QComboBox*>(controls.value(10));
  auto* in_order = qobject_cast<QComboBox*>(controls.value(11));
  ASSERT_TRUE(sorted && in_order);
  EXPECT_EQ(Items(*sorted), QStringList({"alpha", "beta", "COM10", "COM2", "Gamma"}));
  EXPECT_EQ(Items(*in_order), QStringList({"beta", "Gamma", "alpha", "COM10", "COM2"}));
  EXPECT_EQ(sorted->currentText(), "");

  auto* label = dialog.findChild<QLabel*>();
  ASSERT_NE(label, nullptr);
  EXPECT_GE(label->width(), label->sizeHint().width());
  EXPECT_FALSE(controls.value(12)->isEnabled());

  dialog.show();
  QTest::mouseClick(qobject_cast<QPushButton*>(controls.value(1)), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace kelvo
