#include "window/qt/form_builder.h"

#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <vector>

#include "window/qt/log_pane.h"

namespace kelvo {
namespace {

// Units times a pixel size over a divisor, rounded to the nearest pixel.
int Scale(int units, int pixels, int divisor) {
  return (units * pixels * 2 + divisor) / (2 * divisor);
}

// Refuses typed characters other than 0 to 9. What the program writes, and what is pasted,
// passes: the field restricts typing, not its content.
class DigitsOnlyTyping : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const QString typed = static_cast<QKeyEvent*>(event)->text();
      const bool printable = !typed.isEmpty() && typed.at(0).isPrint();
      const bool digits =
          std::all_of(typed.begin(), typed.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
      if (printable && !digits) return true;
    }
    return QObject::eventFilter(watched, event);
  }
};

QLineEdit* MakeEdit(QDialog& dialog, const forms::Control& control) {
  auto* edit = new QLineEdit(QString::fromLocal8Bit(control.text), &dialog);
  edit->setReadOnly(control.style & forms::kReadOnly);
  if (control.style & forms::kRightAligned) edit->setAlignment(Qt::AlignRight);
  if (control.style & forms::kDigitsOnly) edit->installEventFilter(new DigitsOnlyTyping(edit));
  return edit;
}

QComboBox* MakeCombo(QDialog& dialog, const forms::Control& control) {
  auto* combo = new QComboBox(&dialog);
  combo->setEditable(true);
  // The field keeps exactly what is typed: no completion from the list, and Enter adds nothing
  // to it.
  combo->setCompleter(nullptr);
  combo->setInsertPolicy(QComboBox::NoInsert);
  QStringList items;
  for (const char* item : control.items) items << QString::fromLocal8Bit(item);
  if (control.style & forms::kSorted) {
    std::sort(items.begin(), items.end(), [](const QString& a, const QString& b) {
      return a.compare(b, Qt::CaseInsensitive) < 0;
    });
  }
  combo->addItems(items);
  combo->setEditText(QString());
  return combo;
}

QPushButton* MakeButton(QDialog& dialog, const forms::Control& control) {
  auto* button = new QPushButton(QString::fromLocal8Bit(control.text), &dialog);
  if (control.kind == forms::Kind::kDefaultButton) button->setDefault(true);
  if (control.id == 1) QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::accept);
  return button;
}

QWidget* MakeControl(QDialog& dialog, const forms::Control& control) {
  switch (control.kind) {
    case forms::Kind::kLabel:
      return new QLabel(QString::fromLocal8Bit(control.text), &dialog);
    case forms::Kind::kEdit:
      return MakeEdit(dialog, control);
    case forms::Kind::kCombo:
      return MakeCombo(dialog, control);
    case forms::Kind::kButton:
    case forms::Kind::kDefaultButton:
      return MakeButton(dialog, control);
    case forms::Kind::kLog:
      return new LogPane(&dialog);
  }
  return nullptr;
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  static const QString kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  char_width_ = Scale(1, metrics.horizontalAdvance(kLetters), kLetters.size());
  char_height_ = metrics.height();
}

int DialogUnits::ToPixelsX(int units) const {
  return Scale(units, char_width_, 4);
}

int DialogUnits::ToPixelsY(int units) const {
  return Scale(units, char_height_, 8);
}

QRect DialogUnits::ToPixels(const forms::DialogRect& rect) const {
  return QRect(ToPixelsX(rect.x), ToPixelsY(rect.y), ToPixelsX(rect.w), ToPixelsY(rect.h));
}

QHash<int, QWidget*> BuildForm(QDialog& dialog, const forms::Form& form) {
  const DialogUnits units(dialog.font());
  dialog.setWindowTitle(QString::fromLocal8Bit(form.caption));
  dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                        Qt::MSWindowsFixedSizeDialogHint);
  dialog.setFixedSize(units.ToPixelsX(form.width), units.ToPixelsY(form.height));

  QHash<int, QWidget*> controls;
  QWidget* previous_stop = nullptr;
  for (const forms::Control& control : form.controls) {
    QWidget* widget = MakeControl(dialog, control);
    widget->setObjectName(QString::fromLatin1(control.name));
    QRect place = units.ToPixels(control.rect);
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      // The template's height includes the dropped list; the closed field is as high as the
      // font needs.
      const int field_height = combo->sizeHint().height();
      const int item_height = QFontMetrics(combo->font()).height() + 2;
      combo->setMaxVisibleItems(std::max(1, (place.height() - field_height) / item_height));
      place.setHeight(field_height);
    } else if (control.kind == forms::Kind::kLabel) {
      // A font wider than the form was drawn for must not cut a label short; the space to the
      // right of every label is free.
      place.setWidth(std::max(place.width(), widget->sizeHint().width()));
    }
    widget->setGeometry(place);
    widget->setEnabled(!(control.style & forms::kDisabled));
    if (control.kind == forms::Kind::kLabel) {
      widget->setFocusPolicy(Qt::NoFocus);
    } else if (control.style & forms::kTabStop) {
      widget->setFocusPolicy(Qt::StrongFocus);
      if (previous_stop) QWidget::setTabOrder(previous_stop, widget);
      previous_stop = widget;
    } else {
      widget->setFocusPolicy(Qt::ClickFocus);
    }
    if (control.id != 0) controls.insert(control.id, widget);
  }
  return controls;
}

}  // namespace kelvo
