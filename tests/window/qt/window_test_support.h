#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>

#include "doubles/temp_folder.h"
#include "window/qt/about_dialog.h"
#include "window/qt/log_pane.h"
#include "window/qt/main_dialog.h"
#include "window/window_texts.h"

// A failed comparison shows a text as its characters, not as the bytes of each one.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace kelvo::testing {

// The window finds its settings and help files in the current directory: an empty one each.
class InEmptyFolder : public ::testing::Test {
 protected:
  InEmptyFolder() : previous_(QDir::currentPath()) { QDir::setCurrent(folder_.path()); }
  ~InEmptyFolder() override { QDir::setCurrent(previous_); }

 private:
  QTemporaryDir folder_;
  QString previous_;
};

template <typename Widget>
Widget* Find(const QObject& parent, const char* name) {
  auto* found = parent.findChild<Widget*>(QString::fromLatin1(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

// As the window is after a dialog or menu over it closes.
inline void ShowAndActivate(QWidget& window) {
  window.show();
  QApplication::setActiveWindow(&window);
  EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
}

// Runs action on the first Opened that current() names, from within the window's exec(). The
// watch ends with owner: one for a box that may fail to open dies with the window it belongs to.
template <typename Opened>
void WhenOpens(std::function<void(Opened*)> action,
               QWidget* (*current)() = &QApplication::activeModalWidget, QObject* owner = qApp) {
  auto* poll = new QTimer(owner);
  QObject::connect(poll, &QTimer::timeout, [poll, action, current] {
    if (auto* opened = qobject_cast<Opened*>(current())) {
      poll->deleteLater();
      poll->stop();
      action(opened);
    }
  });
  poll->start(5);
}

// Whether done() holds within limit; a worker's calls are served as fast as the window would.
inline bool ProcessEventsUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(limit, &loop, &QEventLoop::quit);
  poll.start(1);
  if (!done()) loop.exec();
  return done();
}

}  // namespace kelvo::testing
