// varn-demo: a client of the link layer for the main job. It waits for
// COM N to be registered, then sends a device-type and a status request and
// a short receipt through TPort::Exchange and prints what came back.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/text.h"
#include "protocol/answers.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "server/link/port.h"

namespace {

using namespace varn;

namespace cmd = protocol::cmd;
namespace answer = protocol::answer;
using protocol::Request;

std::string Text(const std::string& utf8, size_t width) {
  std::string t = Utf8ToCp1251(utf8);
  t.resize(width, '\0');
  return t;
}

uint8_t At(const std::string& s, size_t i) {
  return i < s.size() ? static_cast<uint8_t>(s[i]) : 0;
}

// Prints the request and the answer unless `what` is empty; the answer's data.
std::string Exchange(TPort& port, const char* what, const std::string& payload) {
  const std::string answer = port.Exchange(protocol::Frame(payload));
  if (*what)
    std::printf("%-22s -> %s\n%-22s <- %s\n", what, HexDump(payload).c_str(), "",
                HexDump(answer).c_str());
  if (answer.size() < answer::kData || answer[answer::kError] != 0)
    throw EDriverError(answer.size() < answer::kData ? -1 : At(answer, answer::kError),
                       std::string(what) + ": the device answered an error");
  return answer.substr(answer::kData);
}

}  // namespace

int main(int argc, char** argv) {
  const int com = argc > 2 && std::string(argv[1]) == "--com" ? std::atoi(argv[2]) : 1;
  const std::string name = "COM" + std::to_string(com);
  // The emulator was started just before us: give it time to register.
  for (int i = 0; i < 200 && !Registry::Default().ReadString(kPortsKey, name); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (!Registry::Default().ReadString(kPortsKey, name)) {
    std::fprintf(stderr, "varn-demo: %s is not registered\n", name.c_str());
    return 1;
  }
  auto settings = std::make_shared<TLinkSettings>();
  TPort port(settings);
  port.SetPortNumber(com);
  try {
    namespace metrics = protocol::device_metrics;
    namespace status = protocol::short_status;
    const std::string type = Exchange(port, "device type (FC)",
                                      std::string(1, static_cast<char>(cmd::GetDeviceMetrics)));
    std::printf("  model %d, \"%s\"\n", At(type, metrics::kModel),
                Cp1251ToUtf8(type.substr(std::min(type.size(), metrics::kDescription))).c_str());
    const std::string st = Exchange(port, "short status (10)", Request(cmd::GetShortECRStatus));
    const unsigned flags = At(st, status::kFlags) | unsigned{At(st, status::kFlags + 1)} << 8;
    std::printf("  flags %u, mode %d, power %.2f V\n", flags, At(st, status::kMode),
                At(st, status::kVoltage) * 24.0 / 216);

    Exchange(port, "bold line (12)", Request(cmd::PrintWideString, "\x02" + Text("ВАРН", 20)));
    Exchange(port, "line (17)",
             Request(cmd::PrintString, "\x02" + Text("Проверка связи: 4800 бод", 40)));
    Exchange(port, "line in font 3 (2F)",
             Request(cmd::PrintStringWithFont, "\x02\x03" + Text("Спасибо за покупку!", 40)));
    // A framed box in graphics lines 0..23.
    for (int line = 0; line < 24; ++line) {
      std::string dots(40, '\0');
      const bool edge = line < 2 || line > 21;
      for (int b = 10; b < 30; ++b) dots[static_cast<size_t>(b)] = edge ? '\xFF' : '\0';
      if (!edge) dots[10] = '\xC0', dots[29] = '\x03';
      Exchange(port, line == 0 ? "graphics line (C4)" : "",
               Request(cmd::LoadLineDataEx, std::string{static_cast<char>(line), '\0'} + dots));
    }
    std::printf("%-22s    (23 more lines)\n", "");
    Exchange(port, "print graphics (C3)", Request(cmd::DrawEx, std::string("\0\0\x17\0", 4)));
    Exchange(port, "bar code (C2)",
             Request(cmd::PrintBarCode, std::string("\x15\xCD\x5B\x07\0", 5)));
    Exchange(port, "feed 3 lines (29)", Request(cmd::FeedDocument, "\x02\x03"));
  } catch (const EDriverError& e) {
    std::fprintf(stderr, "varn-demo: error %d: %s\n", e.Code, e.what());
    return 1;
  }
  return 0;
}
