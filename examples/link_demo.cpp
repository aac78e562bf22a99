// The link layer at work: a minimal simulated device on a pseudo-terminal is
// registered as COM1, one status request goes through TPort::Exchange with the
// exchange log on, and the answer and the log are printed.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "bench/link/responder.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "server/link/port.h"

int main() {
  using namespace varn;
  const auto dir = std::filesystem::temp_directory_path() /
                   ("varn-demo-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  setenv("VARN_REGISTRY", (dir / "registry.reg").c_str(), 1);

  bench::MinimalResponder device;
  Registry::Default().WriteString(kPortsKey, "COM1", device.Path());
  std::printf("device on %s, registered as COM1\n", device.Path().c_str());

  auto settings = std::make_shared<TLinkSettings>();
  settings->LogOn = true;
  settings->LogFile = (dir / "VarnSrv.log").string();
  TPort port(settings);
  port.SetPortNumber(1);
  int rc = 0;
  try {
    const std::string frame =
        bench::MinimalResponder::Frame(std::string("\x11\x93\x1C\x00\x00", 5));
    const std::string answer = port.Exchange(frame);
    std::printf("request:  %s\nanswer:   %s\noutput:   %s\n\nexchange log:\n%s",
                port.Input().c_str(), HexDump(answer).c_str(), port.Output().c_str(),
                ReadWholeFile(settings->LogFile).value_or("").c_str());
  } catch (const EDriverError& e) {
    std::printf("error %d: %s\n", e.Code, e.what());
    rc = 1;
  }
  std::filesystem::remove_all(dir);
  return rc;
}
