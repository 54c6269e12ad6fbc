// kelvo.exe's window under load, run under Wine by bench/wine/run.sh with COM5 on a
// pseudo-terminal where zarq-sim answers at once:
// - the 50 ms timer's ticks a second while an upload of the image named on the command line
//   changes the fields as fast as the simulator answers;
// - the time from the first of N log lines written to all of them shown, for 10000 and 100000.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "window/forms.h"
#include "window/win32/main_window.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// Runs the window on this thread and job on another once it is up; job's end closes it.
void WithWindow(const kelvo::WindowParts& parts, const std::function<void(HWND)>& job) {
  std::thread worker([&] {
    HWND window = nullptr;
    while (!(window = ::FindWindowA(nullptr, kelvo::forms::kMainForm.caption))) ::Sleep(10);
    // Set up once the settings file has filled the form.
    while (parts.form->ReadText(kelvo::Control::PortCombo).empty()) ::Sleep(10);
    job(window);
    ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  });
  kelvo::RunMainWindow(::GetModuleHandleW(nullptr), parts);
  worker.join();
}

double Seconds(SteadyClock::time_point since) {
  return std::chrono::duration<double>(SteadyClock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  {
    kelvo::WindowParts parts;
    WithWindow(parts, [&](HWND window) {
      parts.form->SetText(kelvo::Control::FileEdit, argv[1]);
      parts.form->SetText(kelvo::Control::PortCombo, "COM5");
      parts.form->SetText(kelvo::Control::ResponseDelayEdit, "0");
      ::Sleep(200);  // shown, as if typed
      const auto start = SteadyClock::now();
      const std::uint32_t ticks_before = parts.shared->clock.TickCount();
      ::PostMessageW(window, WM_COMMAND, kelvo::forms::kStartButton, 0);
      while (parts.form->ReadText(kelvo::Control::LogEdit).find("Elapsed") == std::string::npos) {
        ::Sleep(20);
      }
      const double seconds = Seconds(start);
      const double ticks = (parts.shared->clock.TickCount() - ticks_before) / 50.0;
      std::printf("upload: %s blocks in %.2f s, %.1f ticks a second (50 ms timer: 20)\n",
                  parts.form->ReadText(kelvo::Control::BlockField).c_str(), seconds,
                  ticks / seconds);
    });
  }
  double times[2] = {};
  const int counts[2] = {10000, 100000};
  for (int i = 0; i < 2; ++i) {
    kelvo::WindowParts parts;
    WithWindow(parts, [&](HWND window) {
      const HWND log = ::GetDlgItem(window, kelvo::forms::kLogEdit);
      const auto start = SteadyClock::now();
      for (int line = 1; line <= counts[i]; ++line) {
        parts.form->LogLine("Error on Block " + std::to_string(line) + " / 7168 . . . Retrying");
      }
      // The pane's scroll range counts the lines it has taken in, the empty last one too.
      SCROLLINFO range{};
      range.cbSize = sizeof range;
      range.fMask = SIF_RANGE;
      while (::GetScrollInfo(log, SB_VERT, &range) && range.nMax < counts[i]) ::Sleep(2);
      times[i] = Seconds(start);
      std::printf("log: %d lines shown in %.3f s\n", counts[i], times[i]);
    });
  }
  std::printf("log: 100000 lines take %.1f times as long as 10000 (linear: 10)\n",
              times[1] / times[0]);
  return 0;
}
