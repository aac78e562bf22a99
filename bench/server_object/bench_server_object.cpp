// SendData exchanges per second through Invoke on an in-process server
// object, against the bare link (TPort::Exchange) on the same emulated
// device in the same run: what the object layer, the port list lock and the
// cp1251 crossing cost per exchange. The two alternate in short rounds so
// that a change of machine load hits both alike.
//
//   build/default/bin/bench_server_object [seconds per figure, default 4]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include "bench/bench_util.h"
#include "emulator/emulated_device.h"
#include "platform/automation/classes.h"
#include "platform/com_ports.h"
#include "platform/event_loop.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/text.h"
#include "platform/timers.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "server/context.h"
#include "server/link/port.h"
#include "server/settings.h"
#include "server/varn_srv.h"
#include "server/varn_srv_dispids.h"

using namespace varn;
using bench::Measure;
using bench::Tally;

namespace {

using namespace dispid;

const std::string kRequest = protocol::Frame(protocol::Request(protocol::cmd::GetECRStatus));

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 4.0;
  constexpr int kRounds = 8;
  bench::TempFolder folder;

  emu::EmulatedDevice device{emu::EmulatorOptions{}};  // 4800 baud
  Registry::Default().WriteString(kPortsKey, "COM1", device.SlavePath());

  // The server's main loop and timer service, as the program runs them.
  TEventLoop loop;
  TTimers timers(loop);
  std::thread mainLoop([&] { loop.Run(); });
  auto context = std::make_shared<TServerContext>(timers);
  RegisterVarnSrvClass(context);
  context->Settings().LogOn = false;

  Tally bare, object;
  const std::u16string tx = Cp1251ToUtf16(kRequest);
  for (int round = 0; round < kRounds; ++round) {
    {
      auto settings = std::make_shared<TLinkSettings>();
      TPort port(settings);
      port.SetPortNumber(1);
      Measure(bare, seconds / kRounds, [&] {
        if (port.Exchange(kRequest).size() < 2) std::abort();
      });
    }
    {
      DispatchPtr srv = ClassTable::Instance().Create(u"VarnSrv.VarnSrv");
      if (InvokeById(*srv, kOpenPort, DISPATCH_METHOD, {1, 4800, 100}).ToInt32() != 0) std::abort();
      Measure(object, seconds / kRounds, [&] {
        if (InvokeById(*srv, kSendData, DISPATCH_METHOD, {tx}).ToInt32() != 0) std::abort();
      });
      InvokeById(*srv, kClosePort, DISPATCH_METHOD);
    }
  }

  loop.Quit();
  mainLoop.join();
  std::printf("server object (Invoke SendData):  %.0f exchanges/s\n", object.PerSecond());
  std::printf("bare link (TPort::Exchange):      %.0f exchanges/s\n", bare.PerSecond());
  std::printf("ratio: %.2f\n", object.PerSecond() / bare.PerSecond());
  return 0;
}
