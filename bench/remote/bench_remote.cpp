// Round-trip calls per second through the remote-call transport: a client
// connection over the Unix socket and over TCP loopback to a dispatcher in
// this process serving a trivial object, beside a direct Invoke of the same
// object. Figures are Invoke calls (one round trip each, the id looked up
// once); "by name" adds the GetIDsOfNames round trip a late-bound call makes.
//
//   build/default/bin/bench_remote [seconds per figure, default 3]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "bench/bench_util.h"
#include "platform/automation/classes.h"
#include "platform/text.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "remote/connection.h"
#include "remote/dispatcher.h"

using namespace varn;
using namespace varn::remote;
using bench::PerSecond;

namespace {

// Answers its input like a device answers a short command.
class TEcho : public DispatchObject<TEcho> {
 public:
  static const MemberTable<TEcho>& Members() {
    static const MemberTable<TEcho> table{{
        Method<TEcho>(1, "SendData", {{"TxData", VT_BSTR}}, VT_BSTR, "",
                      [](TEcho&, Args a) { return a[0]; }),
    }};
    return table;
  }
};

const std::u16string kFrame =
    Cp1251ToUtf16(protocol::Frame(protocol::Request(protocol::cmd::GetECRStatus)));

double InvokeRate(IDispatch& obj, double seconds) {
  DISPID id;
  if (GetIDOfName(obj, u"SendData", id) != S_OK) std::abort();
  return PerSecond(seconds, [&] {
    if (InvokeById(obj, id, DISPATCH_METHOD, {Variant(kFrame)}).RawString() != kFrame) std::abort();
  });
}

double ByNameRate(IDispatch& obj, double seconds) {
  return PerSecond(seconds, [&] {
    if (CallMethod(obj, u"SendData", {Variant(kFrame)}).RawString() != kFrame) std::abort();
  });
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  bench::TempFolder folder;
  const auto& dir = folder.Path();
  ClassTable::Instance().Add({"{0B5E7C61-2F3A-4D8B-9E1C-5A6F7D8E9F01}", "Varn.BenchEcho",
                              [] { return MakeObject<TEcho>(); }});

  TkxSocketDispatcher local, tcp;
  local.OpenLocal((dir / "VarnSrv.sock").string());
  tcp.Port = 0;
  tcp.Open();

  TkxLocalSocketConnection viaUnix;
  viaUnix.Path = (dir / "VarnSrv.sock").string();
  viaUnix.ServerName = "Varn.BenchEcho";
  viaUnix.Open();
  TkxSocketConnection viaTcp;
  viaTcp.SetAddress("127.0.0.1");
  viaTcp.Port = tcp.BoundPort();
  viaTcp.ServerName = "Varn.BenchEcho";
  viaTcp.Open();
  DispatchPtr direct = MakeObject<TEcho>();

  const double inProcess = InvokeRate(*direct, seconds);
  const double unixRate = InvokeRate(*viaUnix.ServerObject(), seconds);
  const double tcpRate = InvokeRate(*viaTcp.ServerObject(), seconds);
  const double unixByName = ByNameRate(*viaUnix.ServerObject(), seconds);

  std::printf("in-process Invoke:          %10.0f calls/s\n", inProcess);
  std::printf("unix socket Invoke:         %10.0f calls/s  (%.1f us per call)\n", unixRate,
              1e6 / unixRate);
  std::printf("tcp loopback Invoke:        %10.0f calls/s  (%.1f us per call)\n", tcpRate,
              1e6 / tcpRate);
  std::printf("unix socket by name:        %10.0f calls/s  (GetIDsOfNames + Invoke)\n", unixByName);
  std::printf("ratio: %.4f\n", unixRate / inProcess);

  viaUnix.Close();
  viaTcp.Close();
  local.Close();
  tcp.Close();
  return 0;
}
