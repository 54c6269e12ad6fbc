#include "window/main_dialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "forms.h"
#include "settings/settings_file.h"
#include "window/about_dialog.h"
#include "window/form_builder.h"
#include "window/log_pane.h"
#include "window/window_form.h"
#include "window/window_texts.h"

namespace kelvo {

MainDialog::MainDialog() : shared_(std::make_shared<SharedState>()), tick_timer_(this) {
  const QHash<int, QWidget*> controls = BuildForm(*this, forms::kMainForm);

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

  std::array<QWidget*, kControlCount> bound{};
  for (std::size_t i = 0; i < kControlCount; ++i)
    bound[i] = controls.value(forms::kTransferControlIds[i]);
  file_edit_ = qobject_cast<QLineEdit*>(controls.value(forms::kFileEdit));
  form_ = std::make_shared<WindowForm>(*this, bound,
                                       *qobject_cast<LogPane*>(controls.value(forms::kLogEdit)));
  launcher_ = std::make_unique<TransferLauncher>(form_, shared_);

  LoadSettings(*form_, shared_->ResponseDelay);
  shared_->clock.Reset();
  tick_timer_.setObjectName("TickTimer");
  tick_timer_.setTimerType(Qt::PreciseTimer);
  tick_timer_.setInterval(Clock::kTickMs);
  connect(&tick_timer_, &QTimer::timeout, this, [this] { shared_->clock.Tick(); });
  tick_timer_.start();

  connect(qobject_cast<QPushButton*>(controls.value(forms::kBrowseButton)), &QPushButton::clicked,
          this, &MainDialog::Browse);
  connect(qobject_cast<QPushButton*>(controls.value(forms::kStartButton)), &QPushButton::clicked,
          this, [this] { launcher_->Start(); });
  connect(qobject_cast<QPushButton*>(controls.value(forms::kHaltButton)), &QPushButton::clicked,
          this, [this] { launcher_->Halt(); });
  connect(qobject_cast<QPushButton*>(controls.value(forms::kHelpButton)), &QPushButton::clicked,
          this, &MainDialog::Help);
  file_edit_->setFocus();

  // Return, Enter and Esc go to the control with the focus (a button clicks itself), then to
  // the window (the default button, closing): every control is watched (eventFilter).
  installEventFilter(this);
  for (QWidget* control : findChildren<QWidget*>()) control->installEventFilter(this);
}

MainDialog::~MainDialog() {
  form_->Detach();
}

void MainDialog::accept() {
  // The window and its log are gone once Quit is done, and a desktop launch shows no standard
  // error: the operator is told before the window closes.
  const std::string why = SaveSettings(*form_, shared_->ResponseDelay);
  if (!why.empty()) {
    QMessageBox::warning(this, QString::fromLocal8Bit(window_texts::kCaption),
                         QString::fromLocal8Bit(window_texts::NotSaved(why)));
  }
  QDialog::accept();
}

void MainDialog::closeEvent(QCloseEvent* event) {
  // Closing ends the program, and with it a transfer part way through.
  if (launcher_->Busy() &&
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
  if (event->type() == QEvent::KeyPress && launcher_->Busy() &&
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
  QFileDialog dialog(this, QString(), file_edit_->text());
  dialog.setFileMode(QFileDialog::ExistingFile);
  // Qt parts a filter's patterns at blanks: the semicolons Windows shows would match no file.
  dialog.setNameFilters({"BIN Files (*.bin)", "Scripts (*.scr)", "HEX Files (*.hex)",
                         "S-Record Files (*.srec *.s19 *.s28 *.s37)"});
  dialog.setDefaultSuffix("bin");
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    file_edit_->setText(dialog.selectedFiles().constFirst());
  }
}

void MainDialog::Help() {
  QString help = QDir::current().absoluteFilePath(forms::kHelpFileName);
  // Else the installed copy, found from the program's own folder rather than a fixed /usr, so
  // that it is also found in a package unpacked anywhere (dpkg-deb -x) or installed elsewhere.
  if (!QFileInfo::exists(help)) {
    help = QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/kelvo/" +
                           forms::kHelpFileName);
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(help));
}

}  // namespace kelvo
