// GetECRStatus calls per second through the driver object to the real
// VarnSrv program and the device emulator, over the Unix socket and over
// TCP loopback, beside the bare TPort::Exchange loop on the same device, in
// one run. Then the same with the emulator keeping to a 115200-baud line
// (each byte it sends takes 10 bit times), against the rate that the
// device's own bytes allow at that speed. The parties alternate in short
// rounds (each opens COM1 and closes it again), so machine load hits all.
//
//   build/default/bin/bench_driver [seconds per figure, default 4]
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "bench/bench_util.h"
#include "bench/port_server.h"
#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/automation/classes.h"
#include "platform/process_info.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/testing/child_process.h"
#include "platform/text.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "server/link/port.h"
#include "server/settings.h"

using namespace varn;
using bench::Tally;

namespace {

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "bench_driver: %s\n", what.c_str());
  std::exit(1);
}

struct Figures {
  Tally port, unix, tcp;
  size_t answerBytes = 0;  // the answer payload of one status request
};

void DriverRound(IDispatch& drv, Tally& tally, double seconds) {
  if (CallMethod(drv, u"Connect").ToInt32() != 0)
    Die("Connect failed: " + Utf16ToUtf8(GetProperty(drv, u"ResultCodeDescription").ToString()));
  const DISPID status = [&] {
    DISPID id = 0;
    GetIDOfName(drv, u"GetECRStatus", id);
    return id;
  }();
  bench::Measure(
      tally, seconds,
      [&] {
        if (InvokeById(drv, status, DISPATCH_METHOD).ToInt32() != 0) Die("GetECRStatus failed");
      },
      /*warmUp=*/20, /*batch=*/10);
  CallMethod(drv, u"Disconnect");
}

void PortRound(int32_t baud, Figures& f, double seconds) {
  auto settings = std::make_shared<TLinkSettings>();
  settings->LogOn = false;
  TPort port(settings);
  port.SetPortNumber(1);
  port.SetBaudRate(baud);
  const std::string request = protocol::Frame(protocol::Request(protocol::cmd::GetECRStatus));
  bench::Measure(
      f.port, seconds, [&] { f.answerBytes = port.Exchange(request).size(); }, 20, 10);
}

DispatchPtr MakeDriver(int32_t baudCode, int32_t connectionType, uint16_t tcpPort) {
  DispatchPtr drv = CreateObject(u"VarnDrv.VarnDrv");  // as hosts do: libVarnDrv.so beside
  PutProperty(*drv, u"BaudRate", Variant(baudCode));
  PutProperty(*drv, u"ConnectionType", Variant(connectionType));
  if (connectionType == 1) {
    PutProperty(*drv, u"UseIPAddress", Variant(true));
    PutProperty(*drv, u"IPAddress", Variant(u"127.0.0.1"));
    PutProperty(*drv, u"TCPPort", Variant(static_cast<int32_t>(tcpPort)));
  }
  return drv;
}

Figures Run(int baudCode, bool lineSpeed, uint16_t tcpPort, double seconds) {
  emu::EmulatorOptions options;
  options.baudCode = baudCode;
  options.faults.lineSpeed = lineSpeed;
  emu::EmulatedDevice device(options);
  emu::TComRegistration com1(1, device.SlavePath());
  DispatchPtr unixDrv = MakeDriver(baudCode, 0, tcpPort);
  DispatchPtr tcpDrv = MakeDriver(baudCode, 1, tcpPort);
  Figures f;
  constexpr int kRounds = 6;
  for (int round = 0; round < kRounds; ++round) {
    PortRound(emu::kBaudRates[baudCode], f, seconds / kRounds);
    DriverRound(*unixDrv, f.unix, seconds / kRounds);
    DriverRound(*tcpDrv, f.tcp, seconds / kRounds);
  }
  return f;
}

void Print(const char* title, const Figures& f) {
  std::printf("%s\n", title);
  std::printf("  TPort::Exchange (bare link):        %7.0f calls/s\n", f.port.PerSecond());
  std::printf("  driver, VarnSrv over the Unix socket: %5.0f calls/s\n", f.unix.PerSecond());
  std::printf("  driver, VarnSrv over TCP loopback:    %5.0f calls/s\n", f.tcp.PerSecond());
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 4.0;
  bench::TempFolder folder;
  RegisterClass(*std::make_unique<Registry>(Registry::Default()), bench::kPortServer.Clsid,
                "VarnSrv.VarnSrv", VARNSRV_PROGRAM);
  const uint16_t tcpPort = ListeningSocket::ListenTcp(0).Port();
  Registry::Default().WriteDword(kServerKey, "TCPEnabled", 1);
  Registry::Default().WriteDword(kServerKey, "TCPPort", tcpPort);
  ChildProcess server(VARNSRV_PROGRAM, {"--headless"}, (folder.Path() / "server.out").string());
  const std::string socketPath = bench::PortServerSocketPath();
  for (int i = 0; i < 1000; ++i) {
    try {
      if (UnixSocketListenerProcessId(socketPath) == server.Pid()) break;
    } catch (const std::exception&) {
    }
    if (i == 999) Die("VarnSrv did not listen");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  const Figures fast = Run(1, false, tcpPort, seconds);
  Print("emulator without line timing (4800 baud set, bytes at once):", fast);
  const Figures line = Run(6, true, tcpPort, seconds);
  Print("emulator on a 115200-baud line:", line);
  // The device sends NAK, ACK and the answer frame (STX, LEN, payload,
  // check); the server ENQ, the request frame and ACK. Each side waits for
  // the other's bytes, so all of them take their time on the line.
  const size_t deviceBytes = 1 + 1 + 3 + line.answerBytes;
  const size_t serverBytes =
      1 + protocol::Frame(protocol::Request(protocol::cmd::GetECRStatus)).size() + 1;
  const double limit = 115200.0 / (10.0 * static_cast<double>(deviceBytes + serverBytes));
  std::printf("  line limit of the device's %zu and the server's %zu bytes: %7.0f calls/s\n",
              deviceBytes, serverBytes, limit);

  server.Terminate();
  if (server.Wait(std::chrono::seconds(20)) != 0) Die("VarnSrv did not end cleanly");
  std::printf("ratio: %.2f\n", line.unix.PerSecond() / limit);
  return 0;
}
