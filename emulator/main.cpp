// varn-emu: the simulated device as a program. It registers its pty as
// COM N for as long as it runs; SIGINT, SIGTERM or SIGHUP end it cleanly.
#include <cstdio>
#include <string>
#include <vector>

#include "emulator/emulated_device.h"
#include "emulator/options.h"
#include "emulator/registration.h"
#include "platform/registry.h"
#include "platform/signals.h"

int main(int argc, char** argv) {
  using namespace varn;
  using namespace varn::emu;
  ProgramOptions p;
  try {
    p = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EUsageError& e) {
    std::fprintf(stderr, "varn-emu: %s\n\n%s", e.what(), kUsage);
    return 2;
  }
  if (p.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  try {
    // Before the device thread starts, so that the thread inherits the mask.
    TerminationSignals signals;
    p.emulator.onDiagnostic = [](const std::string& text) {
      std::fprintf(stderr, "varn-emu: %s\n", text.c_str());
    };
    EmulatedDevice device(p.emulator);
    {
      TComRegistration registration(p.com, device.SlavePath());
      std::printf("varn-emu: COM%d is %s, %d baud (registry %s)\n", p.com,
                  device.SlavePath().c_str(), device.BaudRate(),
                  Registry::Default().FilePath().c_str());
      std::fflush(stdout);
      while (!signals.Wait(std::chrono::seconds(1))) {
      }
      device.Stop();
    }
    std::printf("varn-emu: stopped, COM%d unregistered\n", p.com);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "varn-emu: %s\n", e.what());
    return 1;
  }
}
