#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>

#include "transfer/shared_state.h"
#include "transfer/transfer_launcher.h"

class QLineEdit;

namespace kelvo {

class WindowForm;

// The program's window: the form through which the operator picks the file, port, start
// address, device type and response delay, starts and halts a transfer and reads its log.
// Quit (and Enter) saves the form and closes, and says why when the save fails; Esc and the close
// box close without saving. While a transfer runs, Enter and Esc do nothing and the close box
// asks first. Closing neither halts nor waits for a running transfer.
class MainDialog : public QDialog {
  Q_OBJECT

 public:
  MainDialog();
  ~MainDialog() override;

  // What the window shares with the transfers it starts; they keep both alive.
  const std::shared_ptr<SharedState>& Shared() const { return shared_; }
  const std::shared_ptr<WindowForm>& Form() const { return form_; }

  // Quit.
  void accept() override;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Browse();
  void Help();
  void ShowFormMenu(const QPoint& at);
  void ShowAbout();

  QLineEdit* file_edit_ = nullptr;
  std::shared_ptr<SharedState> shared_;
  std::shared_ptr<WindowForm> form_;
  std::unique_ptr<TransferLauncher> launcher_;
  QTimer tick_timer_;
};

}  // namespace kelvo
