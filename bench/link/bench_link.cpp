// Clean exchanges per second through TPort::Exchange over a pseudo-terminal,
// against the floor: the same responder driven by a bare loop that writes
// ENQ / frame / ACK with no logging, purging or time-out bookkeeping.
//
//   build/default/bin/bench_link [seconds per figure, default 6]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "bench/bench_util.h"
#include "emulator/minimal_responder.h"
#include "platform/com_ports.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "server/link/port.h"

using namespace varn;

namespace {

const std::string kRequest = protocol::Frame(protocol::Request(protocol::cmd::GetECRStatus));

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 6.0;
  bench::TempFolder folder;

  // Command code, error 0, two data bytes: an answer of the usual size.
  emu::MinimalResponder device([](std::string_view p) {
    return std::string{p.empty() ? '\0' : p[0], '\0', 'O', 'K'};
  });
  Registry::Default().WriteString(kPortsKey, "COM1", device.Path());

  // Alternating rounds, so that a busy spell of the machine hits both alike.
  constexpr int kRounds = 6;
  bench::Tally exchange, bare;
  for (int round = 0; round < kRounds; ++round) {
    {
      auto settings = std::make_shared<TLinkSettings>();
      settings->LogOn = false;
      TPort port(settings);
      port.SetPortNumber(1);
      bench::Measure(exchange, seconds / kRounds, [&] {
        if (port.Exchange(kRequest).size() != 4) std::abort();
      });
    }
    {
      auto line = OpenSerialLine(device.Path());
      line->ApplyLineSettings(4800);
      CommTimeouts to;
      to.ReadTotalTimeoutConstant = 1000;
      line->SetTimeouts(to);
      bench::Measure(bare, seconds / kRounds, [&] {
        line->Write(std::string(1, protocol::ENQ));
        if (line->Read(1) != std::string(1, protocol::NAK)) std::abort();
        line->Write(kRequest);
        if (line->Read(1) != std::string(1, protocol::ACK)) std::abort();
        const std::string head = line->Read(2);
        const std::string rest = line->Read(static_cast<unsigned char>(head[1]) + 1);
        if (rest.size() != 5) std::abort();
        line->Write(std::string(1, protocol::ACK));
      });
    }
  }
  std::printf("exchange (TPort::Exchange, log off): %.0f exchanges/s\n", exchange.PerSecond());
  std::printf("bare loop (floor):                   %.0f exchanges/s\n", bare.PerSecond());
  std::printf("ratio: %.2f\n", exchange.PerSecond() / bare.PerSecond());
  return 0;
}
