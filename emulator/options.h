// What an emulated device is: its baud rate, model, files and faults, and
// the command line of `varn-emu` that sets them.
//
//   EmulatorOptions o;
//   o.baudCode = 2;                                  // 9600
//   o.faults = ParseFaults("bad-check=3,delay=200");
//   ProgramOptions p = ParseCommandLine({"--com", "1", "--fault", "silent"});
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "protocol/exchange.h"

namespace varn::emu {

// The baud-rate codes of the device's exchange parameters, 0..6.
using protocol::kBaudCodeCount;
using protocol::kBaudRates;

// Misbehaviour on the line, each one selectable and combinable.
struct FaultOptions {
  bool silent = false;            // reads everything, sends nothing
  bool staleFirstAnswer = false;  // the first ENQ finds an answer left from before
  int badCheckEvery = 0;          // every Nth answer frame sent has a wrong check byte (0 never)
  bool nakStorm = false;          // takes every frame, never delivers a valid answer
  int dropAckEvery = 0;           // the ACK of every Nth accepted frame is lost (0 never)
  std::chrono::milliseconds answerDelay{0};  // between taking a frame and its answer
  bool lineSpeed = false;  // every byte, sent or received, takes 10 bit times at the rate
  bool operator==(const FaultOptions&) const = default;
};

struct EmulatorOptions {
  int baudCode = 1;          // 4800
  uint8_t model = 6;         // 7 and up print lines longer than one paper line
  std::string statePath;     // tables; "" keeps them in memory only
  std::string paperPath;     // UTF-8 text of the printed lines; "" for none
  std::string paperPngPath;  // picture of the paper; "" for none
  FaultOptions faults;
  std::chrono::milliseconds testRunUnit{60000};    // one unit of a test run's period
  std::chrono::milliseconds drawerOpenTime{3000};  // the drawer reports open this long
  // The device's own time, for the test run and the drawer (not the line's).
  const IClock* clock = &SteadyClock();
  // Told what went wrong inside (a file that could not be written, ...).
  std::function<void(const std::string&)> onDiagnostic;
};

// A command line or fault text that cannot be used; what() says why.
class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "silent", "stale", "bad-check[=N]", "nak-storm", "drop-ack[=N]",
// "delay=MS", "line-speed", separated by commas.
FaultOptions ParseFaults(const std::string& text);

struct ProgramOptions {
  int com = 0;  // COM N to register as
  bool help = false;
  EmulatorOptions emulator;
};

ProgramOptions ParseCommandLine(const std::vector<std::string>& args);
extern const char* const kUsage;

}  // namespace varn::emu
