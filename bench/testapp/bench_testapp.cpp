// The connection-test page's own figure: VarnTest's "Проверка связи" runs
// its loop (Connect, the figures, window events, the outcome fields)
// offscreen against the device emulator for a while and reports commands
// per second; beside it, the same driver object called in a bare loop with
// Connect and with GetECRStatus (bench_driver's call), no window at all.
//
// With --line the emulator keeps to a 115200-baud line (each byte it sends
// takes 10 bit times), as bench_driver's second figure does: there the
// device, not the page, sets the pace.
//
//   build/default/bin/bench_testapp [--hidden] [--line] [seconds of the page's run, default 10]
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_util.h"
#include "bench/port_server.h"
#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/automation/classes.h"
#include "platform/registry.h"
#include "testapp/main_window.h"

using namespace varn;

namespace {

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "bench_testapp: %s\n", what);
  std::exit(1);
}

template <class W>
W* Find(QWidget& parent, const char* name) {
  W* w = parent.findChild<W*>(name);
  if (!w) Die(name);
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  bool hidden = false, line = false;
  double seconds = 10.0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--hidden")
      hidden = true;
    else if (arg == "--line")
      line = true;
    else
      seconds = std::atof(argv[i]);
  }
  bench::TempFolder folder;
  Registry reg = Registry::Default();
  RegisterClass(reg, bench::kPortServer.Clsid, "VarnSrv.VarnSrv", VARNSRV_PROGRAM);
  emu::EmulatorOptions options;  // 4800 baud set, bytes at once
  if (line) {
    options.baudCode = 6;
    options.faults.lineSpeed = true;
  }
  emu::EmulatedDevice device(options);
  emu::TComRegistration com1(1, device.SlavePath());

  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  testapp::TfmMain w;
  // Shown, every figure and outcome field is painted after each command;
  // with --hidden the loop runs without painting.
  if (!hidden) w.show();
  w.Driver().Set(u"BaudRate", options.baudCode);
  Find<QListWidget>(w, "ListBox")->setCurrentRow(10);
  QWidget& page = *w.CurrentPage();
  auto* stop = Find<QPushButton>(page, "btnStop");
  QTimer::singleShot(std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000)),
                     [stop] { stop->click(); });
  Find<QPushButton>(page, "btnStart")->click();  // returns when stopped
  const auto figure = [&](const char* name) { return Find<QLabel>(page, name)->text(); };
  if (figure("lblErrorsValue") != "0") Die("the connection test counted failures");
  const double pageRate = figure("lblSpeedValue").toDouble();
  std::printf("\"Проверка связи\" page, %s s: %s commands, %s commands/s, %s ms a command\n",
              qPrintable(figure("lblTestTimeValue")), qPrintable(figure("lblCountValue")),
              qPrintable(figure("lblSpeedValue")), qPrintable(figure("lblCommandTimeValue")));

  // The same object, no window: what the page adds is the difference.
  testapp::TDriver& drv = w.Driver();
  bench::Tally connect, status;
  bench::Measure(
      connect, seconds / 2,
      [&] {
        if (drv.Call(u"Connect") != 0) Die("Connect failed");
      },
      20, 10);
  bench::Measure(
      status, seconds / 2,
      [&] {
        if (drv.Call(u"GetECRStatus") != 0) Die("GetECRStatus failed");
      },
      20, 10);
  drv.Call(u"Disconnect");
  std::printf("bare loop, Connect:      %6.0f calls/s\n", connect.PerSecond());
  std::printf("bare loop, GetECRStatus: %6.0f calls/s\n", status.PerSecond());
  std::printf("ratio: %.2f\n", pageRate / status.PerSecond());
  return 0;
}
