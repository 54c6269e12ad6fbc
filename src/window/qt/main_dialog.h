#pragma once

#include <QDialog>
#include <QHash>
#include <QTimer>
#include <memory>

#include "window/window_core.h"

namespace kelvo {

// The program's window: the form through which the operator picks the file, port, start
// address, device type and response delay, starts and halts a transfer and reads its log.
// Quit (and Enter) saves the form and closes, and says why when the save fails; Esc and the close
// box close without saving. While a transfer runs, Enter and Esc do nothing and the close box
// asks first. Closing neither halts nor waits for a running transfer.
class MainDialog : public QDialog, private FormView {
  Q_OBJECT

 public:
  MainDialog();

  // What the window shares with the transfers it starts; they keep both alive.
  const std::shared_ptr<SharedState>& Shared() const { return core_->Parts().shared; }
  const std::shared_ptr<FormModel>& Form() const { return core_->Parts().form; }

  // Quit.
  void accept() override;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowText(Control control, const std::string& text) override;
  void ShowEnabled(Control button, bool enabled) override;
  void ShowLog(const LogChanges& log) override;
  bool HasFocus(Control control) const override;
  void Focus(Control control) override;

  QWidget* Widget(Control control) const;
  void Browse();
  void Help();
  void ShowFormMenu(const QPoint& at);
  void ShowAbout();

  QHash<int, QWidget*> controls_;
  std::unique_ptr<WindowCore> core_;
  QTimer tick_timer_;
};

}  // namespace kelvo
