#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace kelvo::testing {

// Each test runs in an empty folder of its own, the current directory while it lasts, since the
// window finds its settings and help files there.
class InEmptyFolder : public ::testing::Test {
 protected:
  InEmptyFolder() : previous_(QDir::currentPath()) { QDir::setCurrent(folder_.path()); }
  ~InEmptyFolder() override { QDir::setCurrent(previous_); }

  std::filesystem::path Folder() const { return folder_.path().toStdString(); }

 private:
  QTemporaryDir folder_;
  QString previous_;
};

// The child of parent with the object name name, which must exist.
template <typename Widget>
Widget* Find(const QObject& parent, const char* name) {
  auto* found = parent.findChild<Widget*>(QString::fromLatin1(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

// Runs action on the first modal window of type Modal to appear, from within whatever event
// loop the test is in at the time (the window's own exec(), typically).
template <typename Modal>
void WhenModalOpens(std::function<void(Modal*)> action) {
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, [poll, action] {
    if (auto* modal = qobject_cast<Modal*>(QApplication::activeModalWidget())) {
      poll->deleteLater();
      poll->stop();
      action(modal);
    }
  });
  poll->start(5);
}

// Runs an event loop until done() holds or the limit runs out; true if it held. The loop wakes
// for every event, so a worker's calls to the window are served as fast as the window would.
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

// Runs action on the first popup (a context menu) to appear.
inline void WhenPopupOpens(std::function<void(QWidget*)> action) {
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, [poll, action] {
    if (QWidget* popup = QApplication::activePopupWidget()) {
      poll->deleteLater();
      poll->stop();
      action(popup);
    }
  });
  poll->start(5);
}

inline std::vector<std::uint8_t> FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::filesystem::path& path,
                           const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kelvo::testing
