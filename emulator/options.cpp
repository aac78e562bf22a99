#include "emulator/options.h"

#include <charconv>

namespace varn::emu {
namespace {

bool ParseInt(const std::string& text, long long min, long long max, long long& value) {
  const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && p == text.data() + text.size() && value >= min && value <= max;
}

int Count(const std::string& name, const std::string& arg) {
  if (arg.empty()) return 1;
  long long n = 0;
  if (!ParseInt(arg, 1, 1000000, n))
    throw EUsageError("fault " + name + ": \"" + arg + "\" is not a count from 1");
  return static_cast<int>(n);
}

// "0..6 for 2400, 4800, ...": the codes and their rates.
std::string BaudCodes() {
  std::string text = "0.." + std::to_string(kBaudCodeCount - 1) + " for ";
  for (int code = 0; code < kBaudCodeCount; ++code)
    text += (code ? ", " : "") + std::to_string(kBaudRates[code]);
  return text;
}

const std::string kUsageText =
    "usage: varn-emu --com N [--baud CODE] [--state FILE] [--paper FILE]\n"
    "                [--paper-png FILE] [--model M] [--fault LIST]...\n"
    "\n"
    "Runs a simulated device on a pseudo-terminal and registers it as COM N\n"
    "until SIGINT or SIGTERM.\n"
    "  --baud CODE       " +
    BaudCodes() +
    "\n"
    "                    (default 1: 4800); it answers only at this speed\n"
    "  --state FILE      keeps the settings tables across runs\n"
    "  --paper FILE      appends printed lines (UTF-8)\n"
    "  --paper-png FILE  keeps a picture of the paper\n"
    "  --model M         model number it reports (default 6; 7 and up take long lines)\n"
    "  --fault LIST      comma-separated: silent, stale, bad-check[=N], nak-storm,\n"
    "                    drop-ack[=N], delay=MS, line-speed\n";

}  // namespace

const char* const kUsage = kUsageText.c_str();

FaultOptions ParseFaults(const std::string& text) {
  FaultOptions f;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(',', pos);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(pos, end - pos);
    pos = end + 1;
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    const std::string name = item.substr(0, eq);
    const std::string arg = eq == std::string::npos ? "" : item.substr(eq + 1);
    if (eq != std::string::npos && arg.empty())
      throw EUsageError("fault " + name + ": a value is missing after '='");
    const bool takesArg = name == "bad-check" || name == "drop-ack" || name == "delay";
    if (!takesArg && !arg.empty()) throw EUsageError("fault " + name + " takes no value");
    if (name == "silent") {
      f.silent = true;
    } else if (name == "stale") {
      f.staleFirstAnswer = true;
    } else if (name == "bad-check") {
      f.badCheckEvery = Count(name, arg);
    } else if (name == "nak-storm") {
      f.nakStorm = true;
    } else if (name == "drop-ack") {
      f.dropAckEvery = Count(name, arg);
    } else if (name == "delay") {
      long long ms = 0;
      if (!ParseInt(arg, 0, 600000, ms))
        throw EUsageError("fault delay: \"" + arg +
                          "\" is not a number of milliseconds (0..600000)");
      f.answerDelay = std::chrono::milliseconds(ms);
    } else if (name == "line-speed") {
      f.lineSpeed = true;
    } else {
      throw EUsageError("unknown fault \"" + name + "\"");
    }
  }
  return f;
}

ProgramOptions ParseCommandLine(const std::vector<std::string>& args) {
  ProgramOptions p;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string opt = args[i], value;
    bool inlineValue = false;
    if (const size_t eq = opt.find('='); opt.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = opt.substr(eq + 1);
      opt = opt.substr(0, eq);
      inlineValue = true;
    }
    if (opt == "-h" || opt == "--help") {
      p.help = true;
      continue;
    }
    const bool known = opt == "--com" || opt == "--baud" || opt == "--state" || opt == "--paper" ||
                       opt == "--paper-png" || opt == "--model" || opt == "--fault";
    if (!known) throw EUsageError("unknown option \"" + opt + "\"");
    if (!inlineValue) {
      if (i + 1 >= args.size()) throw EUsageError(opt + " needs a value");
      value = args[++i];
    }
    long long n = 0;
    if (opt == "--com") {
      if (!ParseInt(value, 1, 255, n)) throw EUsageError("--com: \"" + value + "\" is not 1..255");
      p.com = static_cast<int>(n);
    } else if (opt == "--baud") {
      if (!ParseInt(value, 0, kBaudCodeCount - 1, n))
        throw EUsageError("--baud: \"" + value + "\" is not a code 0..6");
      p.emulator.baudCode = static_cast<int>(n);
    } else if (opt == "--model") {
      if (!ParseInt(value, 0, 255, n))
        throw EUsageError("--model: \"" + value + "\" is not 0..255");
      p.emulator.model = static_cast<uint8_t>(n);
    } else if (value.empty()) {
      throw EUsageError(opt + " needs a value");
    } else if (opt == "--state") {
      p.emulator.statePath = value;
    } else if (opt == "--paper") {
      p.emulator.paperPath = value;
    } else if (opt == "--paper-png") {
      p.emulator.paperPngPath = value;
    } else {
      // Several --fault options add up.
      const FaultOptions more = ParseFaults(value);
      FaultOptions& f = p.emulator.faults;
      f.silent |= more.silent;
      f.staleFirstAnswer |= more.staleFirstAnswer;
      f.nakStorm |= more.nakStorm;
      f.lineSpeed |= more.lineSpeed;
      if (more.badCheckEvery) f.badCheckEvery = more.badCheckEvery;
      if (more.dropAckEvery) f.dropAckEvery = more.dropAckEvery;
      if (more.answerDelay.count()) f.answerDelay = more.answerDelay;
    }
  }
  if (!p.help && p.com == 0) throw EUsageError("--com N is required");
  return p;
}

}  // namespace varn::emu
