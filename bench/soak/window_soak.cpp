// 200 uploads through the window on Qt's offscreen platform, with Halt pressed and the About box
// opened from the form's menu at random moments: each upload ends complete (the image in the
// device) or, after Halt, halted, and the window's 50 ms timer never misses more than one tick.
//
//   window_soak [--seed N]
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QEventLoop>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "doubles/temp_folder.h"
#include "serial/protocol.h"
#include "simulator/zarq_simulator.h"
#include "window/qt/about_dialog.h"
#include "window/qt/loader_app.h"
#include "window/qt/main_dialog.h"

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;
constexpr int kUploads = 200;

// Runs action once the widget that current() names is up, from whatever event loop runs then.
void WhenUp(std::function<QWidget*()> current, std::function<void(QWidget*)> action) {
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, [=] {
    if (QWidget* up = current()) {
      poll->stop();
      poll->deleteLater();
      action(up);
    }
  });
  poll->start(2);
}

// As the operator does: the form's context menu, its About entry, and OK after hold ms.
void OpenAbout(MainDialog& window, int hold_ms) {
  WhenUp(&QApplication::activePopupWidget, [=](QWidget* menu) {
    WhenUp([] { return qobject_cast<AboutDialog*>(QApplication::activeModalWidget()); },
           [=](QWidget* about) {
             QTimer::singleShot(hold_ms, Qt::PreciseTimer, about,
                                [about] { qobject_cast<AboutDialog*>(about)->accept(); });
           });
    QTest::keyClick(menu, Qt::Key_A);
  });
  QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), window.mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(&window, &click);
}

bool Finished(MainDialog& window) {
  return window.Form()->ReadText(Control::LogEdit).find("Elapsed: ") != std::string::npos &&
         window.findChild<QPushButton*>("StartButton")->isEnabled() &&
         !window.findChild<QPushButton*>("HaltButton")->isEnabled() &&
         QApplication::activeModalWidget() == nullptr &&
         QApplication::activePopupWidget() == nullptr;
}

void ProcessEventsUntil(const std::function<bool()>& done) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (done()) loop.quit();
  });
  poll.start(1);
  loop.exec();
}

// The offscreen platform says at every menu that it cannot grab the keyboard or raise a window.
void QuietOffscreenPlatform(QtMsgType type, const QMessageLogContext& context,
                            const QString& text) {
  if (text.startsWith("This plugin does not support")) return;
  qt_message_output(type, context, text);
}

}  // namespace
}  // namespace kelvo

int main(int argc, char** argv) {
  using namespace kelvo;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::uint64_t seed = std::random_device{}();
  if (argc == 3 && std::string(argv[1]) == "--seed") seed = std::strtoull(argv[2], nullptr, 10);
  std::printf("window soak: seed %llu\n", static_cast<unsigned long long>(seed));
  std::mt19937_64 random(seed);
  const auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };

  qInstallMessageHandler(QuietOffscreenPlatform);
  LoaderApp app;
  QTemporaryDir folder;
  QDir::setCurrent(folder.path());
  MainDialog window;
  window.show();
  std::vector<SteadyClock::time_point> ticks;
  QObject::connect(window.findChild<QTimer*>("TickTimer"), &QTimer::timeout,
                   [&] { ticks.push_back(SteadyClock::now()); });
  auto* halt = window.findChild<QPushButton*>("HaltButton");

  int complete = 0, halted = 0, abouts = 0, failed = 0;
  const std::string image_path = (folder.path() + "/app.bin").toStdString();
  for (int run = 0; run < kUploads; ++run) {
    Bytes image(static_cast<std::size_t>(pick(1, 16)) * kBlockSize);
    for (std::uint8_t& byte : image) byte = static_cast<std::uint8_t>(pick(0, 0xFE));
    testing::WriteFileBytes(image_path, image);
    ZarqSimulator device;
    window.Form()->SetText(Control::PortCombo, device.PortPath());
    window.Form()->SetText(Control::FileEdit, image_path);

    bool halt_pressed = false;
    QObject moments;  // the moments still to come when the upload has ended go with it
    // An upload lasts about 200 ms: the handshake's look for a byte after the NAK takes three
    // ticks. The moments fall before, during and after it.
    if (pick(0, 1) == 1) {
      QTimer::singleShot(pick(0, 300), Qt::PreciseTimer, &moments, [&] {
        halt_pressed = halt_pressed || halt->isEnabled();
        halt->click();
      });
    }
    if (pick(0, 1) == 1) {
      ++abouts;
      QTimer::singleShot(pick(0, 300), Qt::PreciseTimer, &moments,
                         [&, hold = pick(0, 200)] { OpenAbout(window, hold); });
    }
    window.Form()->SetText(Control::LogEdit, "");  // the last upload's closing lines
    window.findChild<QPushButton*>("StartButton")->click();
    ProcessEventsUntil([&] { return Finished(window); });

    const std::string log = window.Form()->ReadText(Control::LogEdit);
    const bool was_complete = log.find("Programming Complete\r\n") != std::string::npos;
    const Bytes memory = device.Memory();
    bool sound = log.ends_with("\r\n") && log.find("Closing Port\r\nTime: ") != std::string::npos;
    if (was_complete) {
      ++complete;
      sound = sound && std::equal(image.begin(), image.end(), memory.begin() + 0x20000);
    } else {
      ++halted;
      sound = sound && halt_pressed;
    }
    if (!sound) {
      ++failed;
      std::printf("upload %d FAILED:\n%s\n", run, log.c_str());
    }
  }

  double longest = 0;
  int one_missed = 0, more_missed = 0;
  for (std::size_t i = 1; i < ticks.size(); ++i) {
    const double gap = std::chrono::duration<double, std::milli>(ticks[i] - ticks[i - 1]).count();
    longest = std::max(longest, gap);
    // A gap of about 100 ms is one tick missed, of 150 ms two.
    one_missed += gap > 75 && gap <= 125;
    more_missed += gap > 125;
  }
  const double span = std::chrono::duration<double>(ticks.back() - ticks.front()).count();
  std::printf("%d uploads: %d complete, %d halted, %d failed; the About box opened %d times\n",
              kUploads, complete, halted, failed, abouts);
  std::printf(
      "timer: %zu ticks in %.1f s (%.2f a second), longest gap %.1f ms, %d gaps of one "
      "missed tick, %d of more\n",
      ticks.size(), span, static_cast<double>(ticks.size() - 1) / span, longest, one_missed,
      more_missed);
  return failed == 0 && more_missed == 0 ? 0 : 1;
}
