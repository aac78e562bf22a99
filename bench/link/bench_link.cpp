// Clean exchanges per second through TPort::Exchange over a pseudo-terminal,
// against the floor: the same responder driven by a bare loop that writes
// ENQ / frame / ACK with no logging, purging or time-out bookkeeping.
//
//   build/default/bench/link/bench_link [seconds per figure, default 3]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "bench/bench_util.h"
#include "bench/link/responder.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "server/link/port.h"

using namespace varn;
using bench::PerSecond;

namespace {

const std::string kRequest = bench::MinimalResponder::Frame(std::string("\x11\x93\x1C\x00\x00", 5));

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  bench::TempFolder folder;

  bench::MinimalResponder device;
  Registry::Default().WriteString(kPortsKey, "COM1", device.Path());

  double exchange = 0, bare = 0;
  {
    auto settings = std::make_shared<TLinkSettings>();
    settings->LogOn = false;
    TPort port(settings);
    port.SetPortNumber(1);
    exchange = PerSecond(seconds, [&] {
      if (port.Exchange(kRequest).size() != 4) std::abort();
    });
  }
  {
    auto line = OpenSerialLine(device.Path());
    line->ApplyLineSettings(4800);
    CommTimeouts to;
    to.ReadTotalTimeoutConstant = 1000;
    line->SetTimeouts(to);
    bare = PerSecond(seconds, [&] {
      line->Write("\x05");
      if (line->Read(1) != "\x15") std::abort();
      line->Write(kRequest);
      if (line->Read(1) != "\x06") std::abort();
      const std::string head = line->Read(2);
      const std::string rest = line->Read(static_cast<unsigned char>(head[1]) + 1);
      if (rest.size() != 5) std::abort();
      line->Write("\x06");
    });
  }
  std::printf("exchange (TPort::Exchange, log off): %.0f exchanges/s\n", exchange);
  std::printf("bare loop (floor):                   %.0f exchanges/s\n", bare);
  std::printf("ratio: %.2f\n", exchange / bare);
  return 0;
}
