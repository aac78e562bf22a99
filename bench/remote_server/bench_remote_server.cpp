// SendData exchanges per second from a client to the real VarnSrv program
// and the device emulator: over the Unix socket and over TCP loopback,
// beside the same call on an in-process server object against the same
// emulated device, in the same run. Each remote figure is a proxy Invoke
// by dispatch id (one round trip); "by name" adds the GetIDsOfNames round
// trip of a call that looks its name up every time. The parties alternate
// in short rounds (each opens COM1 and closes it again), so a change of
// machine load hits all alike.
//
// Then ports in parallel: two emulators that send at the pace of a real
// 115200-baud line (as real devices are line-limited) on COM2 and COM3;
// one client alone on COM2, against two clients (two connections) on COM2
// and COM3 at once, again in alternating rounds. `ratio:` is the two
// ports' combined rate over the one port's (2 when ports never wait for
// each other).
//
// With --log the exchange log is on (LogOn 1) in the server and the
// in-process object alike: ports must not wait for each other then either.
//
//   build/default/bin/bench_remote_server [seconds per figure, default 4] [--log]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "bench/bench_util.h"
#include "bench/port_server.h"
#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/automation/classes.h"
#include "platform/event_loop.h"
#include "platform/process_info.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/testing/child_process.h"
#include "platform/text.h"
#include "platform/timers.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "remote/connection.h"
#include "server/context.h"
#include "server/settings.h"
#include "server/varn_srv.h"
#include "server/varn_srv_dispids.h"

using namespace varn;
using Clock = std::chrono::steady_clock;
using bench::Tally;

namespace {

using bench::Within;

using namespace dispid;

const std::u16string kTx =
    Cp1251ToUtf16(protocol::Frame(protocol::Request(protocol::cmd::GetECRStatus)));

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "bench_remote_server: %s\n", what.c_str());
  std::exit(1);
}

// One round on COM `com` through `obj`: open, measure, close (frees the device).
void Round(IDispatch& obj, Tally& tally, double seconds, bool byName, int32_t com = 1,
           int32_t baud = 4800) {
  if (InvokeById(obj, kOpenPort, DISPATCH_METHOD, {com, baud, 100}).ToInt32() != 0)
    Die("OpenPort failed");
  bench::Measure(
      tally, seconds,
      [&] {
        const Variant rc = byName ? CallMethod(obj, u"SendData", {kTx})
                                  : InvokeById(obj, kSendData, DISPATCH_METHOD, {kTx});
        if (rc.ToInt32() != 0) Die("SendData failed");
      },
      /*warmUp=*/50, /*batch=*/20);
  InvokeById(obj, kClosePort, DISPATCH_METHOD);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 4.0;
  bool logOn = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--log")
      logOn = true;
    else
      seconds = std::atof(argv[i]);
  }
  constexpr int kRounds = 8;
  bench::TempFolder folder;
  const auto& dir = folder.Path();

  emu::EmulatedDevice device{emu::EmulatorOptions{}};  // 4800 baud
  emu::TComRegistration com1(1, device.SlavePath());
  emu::EmulatorOptions lineLimited;
  lineLimited.baudCode = 6;  // 115200
  lineLimited.faults.lineSpeed = true;
  emu::EmulatedDevice fast2{lineLimited}, fast3{lineLimited};
  emu::TComRegistration com2(2, fast2.SlavePath()), com3(3, fast3.SlavePath());
  const uint16_t tcpPort = ListeningSocket::ListenTcp(0).Port();
  Registry::Default().WriteDword(kServerKey, "TCPEnabled", 1);
  Registry::Default().WriteDword(kServerKey, "TCPPort", tcpPort);
  Registry::Default().WriteDword(kServerKey, "LogOn", logOn ? 1 : 0);

  auto server = std::make_unique<ChildProcess>(
      VARNSRV_PROGRAM, std::vector<std::string>{"--headless"}, (dir / "server.out").string());
  const std::string socketPath = bench::PortServerSocketPath();
  if (!Within(std::chrono::seconds(10), [&] {
        try {
          return UnixSocketListenerProcessId(socketPath) == server->Pid();
        } catch (const std::exception&) {
          return false;
        }
      }))
    Die("VarnSrv did not listen at " + socketPath);
  remote::TkxLocalSocketConnection local, second;
  local.Path = socketPath;
  local.ServerGUID = kVarnSrvClsid;
  second.Path = socketPath;
  second.ServerGUID = kVarnSrvClsid;
  remote::TkxSocketConnection tcp;
  tcp.SetAddress("127.0.0.1");
  tcp.Port = tcpPort;
  tcp.ServerGUID = kVarnSrvClsid;
  if (!Within(std::chrono::seconds(10), [&] {
        try {
          local.Open();
          second.Open();
          tcp.Open();
          return true;
        } catch (const std::exception&) {
          return false;
        }
      }))
    Die("cannot connect to VarnSrv");

  // The in-process object with the program's main loop and timer service.
  TEventLoop loop;
  TTimers timers(loop);
  std::thread mainLoop([&] { loop.Run(); });
  auto context = std::make_shared<TServerContext>(timers);
  RegisterVarnSrvClass(context);
  context->Settings().LogOn = logOn;
  DispatchPtr inProcess = ClassTable::Instance().Create(u"VarnSrv.VarnSrv");

  Tally direct, unixById, tcpById, unixByName;
  const double slice = seconds / kRounds;
  for (int round = 0; round < kRounds; ++round) {
    Round(*inProcess, direct, slice, false);
    Round(*local.ServerObject(), unixById, slice, false);
    Round(*tcp.ServerObject(), tcpById, slice, false);
    Round(*local.ServerObject(), unixByName, slice / 2, true);
  }

  Tally alone, together2, together3;
  for (int round = 0; round < kRounds; ++round) {
    Round(*local.ServerObject(), alone, slice, false, 2, 115200);
    std::thread other([&] { Round(*second.ServerObject(), together3, slice, false, 3, 115200); });
    Round(*local.ServerObject(), together2, slice, false, 2, 115200);
    other.join();
  }

  inProcess = DispatchPtr();
  local.Close();
  second.Close();
  tcp.Close();
  server->Terminate();
  const std::optional<int> status = server->Wait(std::chrono::seconds(20));
  loop.Quit();
  mainLoop.join();
  if (status != 0) Die("VarnSrv did not end cleanly");

  std::printf("in-process object (Invoke SendData):     %.0f exchanges/s\n", direct.PerSecond());
  std::printf("VarnSrv over the Unix socket (by id):    %.0f exchanges/s\n", unixById.PerSecond());
  std::printf("VarnSrv over TCP loopback (by id):       %.0f exchanges/s\n", tcpById.PerSecond());
  std::printf("VarnSrv over the Unix socket (by name):  %.0f exchanges/s\n",
              unixByName.PerSecond());
  std::printf("Unix socket / in-process:                %.2f\n",
              unixById.PerSecond() / direct.PerSecond());
  const double both = together2.PerSecond() + together3.PerSecond();
  std::printf("one port alone, 115200-baud line:        %.0f exchanges/s\n", alone.PerSecond());
  std::printf("two ports at once, 115200-baud lines:    %.0f exchanges/s (%.0f + %.0f)\n", both,
              together2.PerSecond(), together3.PerSecond());
  std::printf("ratio: %.2f%s\n", both / alone.PerSecond(), logOn ? " (exchange log on)" : "");
  return 0;
}
