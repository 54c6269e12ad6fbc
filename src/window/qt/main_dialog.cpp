#include "window/qt/main_dialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "window/forms.h"
#include "window/qt/about_dialog.h"
#include "window/qt/byte_text.h"
#include "window/qt/form_builder.h"
#include "window/qt/log_pane.h"
#include "window/window_texts.h"

namespace kelvo {

MainDialog::MainDialog() : tick_timer_(this) {
  controls_ = BuildForm(*this, forms::kMainForm);

  // The window manager's menu is out of reach here, so the About entry lives in the form's own
  // context menu: a right click on the form, or the Menu key or Shift+F10 anywhere in it.
  auto* form_menu_key = new QAction(this);
  form_menu_key->setShortcuts({QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)});
  connect(form_menu_key, &QAction::triggered, this, [this] {
    QWidget* focus = focusWidget() ? focusWidget() : this;
    ShowFormMenu(focus->mapToGlobal(focus->rect().center()));
  });
  addAction(form_menu_key);
  auto* help_key = new QAction(this);
  help_key->setShortcut(QKeySequence::HelpContents);
  connect(help_key, &QAction::triggered, this, &MainDialog::Help);
  addAction(help_key);

  // The window manager shows this icon in the title bar, the task bar and for a minimised window.
  QIcon icon;
  icon.addFile(":/kelvo-32.png", QSize(32, 32));
  icon.addFile(":/kelvo-16.png", QSize(16, 16));
  setWindowIcon(icon);

  core_ = std::make_unique<WindowCore>(static_cast<FormView&>(*this));
  for (const Control control : kTypedControls) {
    const auto typed = [this, control](const QString& text) {
      core_->Typed(control, BytesFromText(text));
    };
    if (auto* edit = qobject_cast<QLineEdit*>(Widget(control))) {
      connect(edit, &QLineEdit::textChanged, this, typed);
    } else if (auto* combo = qobject_cast<QComboBox*>(Widget(control))) {
      connect(combo, &QComboBox::editTextChanged, this, typed);
    }
  }
  tick_timer_.setObjectName("TickTimer");
  tick_timer_.setTimerType(Qt::PreciseTimer);
  tick_timer_.setInterval(Clock::kTickMs);
  connect(&tick_timer_, &QTimer::timeout, this, [this] { core_->Tick(); });
  tick_timer_.start();

  connect(qobject_cast<QPushButton*>(controls_.value(forms::kBrowseButton)), &QPushButton::clicked,
          this, &MainDialog::Browse);
  connect(qobject_cast<QPushButton*>(Widget(Control::StartButton)), &QPushButton::clicked, this,
          [this] { core_->Start(); });
  connect(qobject_cast<QPushButton*>(Widget(Control::HaltButton)), &QPushButton::clicked, this,
          [this] { core_->Halt(); });
  connect(qobject_cast<QPushButton*>(controls_.value(forms::kHelpButton)), &QPushButton::clicked,
          this, &MainDialog::Help);
  Widget(Control::FileEdit)->setFocus();

  // Return, Enter and Esc go to the control with the focus (a button clicks itself), then to
  // the window (the default button, closing): every control is watched (eventFilter).
  installEventFilter(this);
  for (QWidget* control : findChildren<QWidget*>()) control->installEventFilter(this);
}

QWidget* MainDialog::Widget(Control control) const {
  return controls_.value(ControlId(control));
}

void MainDialog::ShowText(Control control, const std::string& text) {
  if (auto* edit = qobject_cast<QLineEdit*>(Widget(control))) {
    edit->setText(TextFromBytes(text));
  } else if (auto* combo = qobject_cast<QComboBox*>(Widget(control))) {
    combo->setEditText(TextFromBytes(text));
  }
}

void MainDialog::ShowEnabled(Control button, bool enabled) {
  Widget(button)->setEnabled(enabled);
}

void MainDialog::ShowLog(const LogChanges& log) {
  qobject_cast<LogPane*>(Widget(Control::LogEdit))->Show(log);
}

bool MainDialog::HasFocus(Control control) const {
  return Widget(control)->hasFocus();
}

void MainDialog::Focus(Control control) {
  Widget(control)->setFocus();
}

void MainDialog::accept() {
  // The window and its log are gone once Quit is done, and a desktop launch shows no standard
  // error: the operator is told before the window closes.
  const std::string not_saved = core_->Save();
  if (!not_saved.empty()) {
    QMessageBox::warning(this, QString::fromLocal8Bit(window_texts::kCaption),
                         QString::fromLocal8Bit(not_saved));
  }
  QDialog::accept();
}

void MainDialog::closeEvent(QCloseEvent* event) {
  // Closing ends the program, and with it a transfer part way through.
  if (core_->Busy() &&
      QMessageBox::question(this, QString::fromLocal8Bit(window_texts::kCaption),
                            QString::fromLocal8Bit(window_texts::kCloseWhileRunning),
                            QMessageBox::Yes | QMessageBox::No,
                            QMessageBox::No) != QMessageBox::Yes) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

// While a transfer runs, a stray Return, Enter or Esc would quit or close and leave the device
// half-loaded, so in this window they do nothing; a box or menu over it keeps its keys.
bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && core_->Busy() &&
      static_cast<QWidget*>(watched)->window() == this) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) return true;
  }
  return QDialog::eventFilter(watched, event);
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
  ShowFormMenu(event->globalPos());
}

void MainDialog::ShowFormMenu(const QPoint& at) {
  QMenu menu(this);
  QAction* about = menu.addAction(QString::fromLocal8Bit(forms::kAboutEntry));
  if (menu.exec(at) == about) ShowAbout();
}

void MainDialog::ShowAbout() {
  AboutDialog about(this);
  about.exec();
}

void MainDialog::Browse() {
  // Opens on the file that FileEdit names; choosing a file never changes the current
  // directory, against which the settings and help files resolve.
  auto* file_edit = qobject_cast<QLineEdit*>(Widget(Control::FileEdit));
  QFileDialog dialog(this, QString(), file_edit->text());
  dialog.setFileMode(QFileDialog::ExistingFile);
  QStringList filters;
  for (const auto& [name, patterns] : window_texts::kBrowseFilters) {
    // Qt parts a filter's patterns at blanks: the semicolons Windows shows would match no file.
    filters << QString::fromLatin1(name) + " (" + QString::fromLatin1(patterns).replace(';', ' ') +
                   ")";
  }
  dialog.setNameFilters(filters);
  dialog.setDefaultSuffix(QString::fromLatin1(window_texts::kBrowseExtension));
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    file_edit->setText(dialog.selectedFiles().constFirst());
  }
}

void MainDialog::Help() {
  // The installed copy is found from the program's own folder rather than a fixed /usr, so that
  // it is also found in a package unpacked anywhere (dpkg-deb -x) or installed elsewhere.
  const QString here = QDir::current().absoluteFilePath(forms::kHelpFileName);
  const QString installed = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                            "/../share/kelvo/" + forms::kHelpFileName);
  const std::string help =
      HelpPath(QFile::encodeName(here).toStdString(), QFile::encodeName(installed).toStdString());
  QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(help.c_str())));
}

}  // namespace kelvo
