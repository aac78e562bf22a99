// Many clients on a few ports through one VarnSrv: four varn-emu processes
// (COM1..COM4) keeping to a 115200-baud line, the real VarnSrv with its
// exchange log on, and 64 threads, each with its own driver object (by
// ProgID, with its own driver log): three of four over TCP loopback, the
// rest over the Unix socket, 16 to a port. Each loops: LockPort (a busy
// port, -18, is tried again after a short back-off), GetECRStatus,
// GetShortECRStatus, three PrintString lines unique to the client and the
// session ("c17 s0042 l1"), UnlockPort.
//
// Afterwards it proves from each emulator's paper that no line a client
// was told 0 for is lost or doubled, that nothing else is there, and that
// the three lines of every session are adjacent and in order (no client
// printed while another held the lock); it prints the exchanges per second
// per port against what the bytes of both sides allow on the line, the lock
// waits, and the server's threads, descriptors and memory before the
// clients came and after they all left. Exit status 1 when any call failed
// or the paper disagrees; `ratio:` (achieved / line-limited) last.
//
//   build/default/bin/bench_load [--seconds S (60)] [--clients N (64)]
//       [--back-off MS (16): the longest wait before LockPort is tried again]
//       [--no-logs] [--keep DIR: the logs and papers are copied there]
//       [--timeout MS (100, the driver's): the link's byte time-out]
//       [--one-session: the server and emulators not in sessions of their own]
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <latch>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "bench/port_server.h"
#include "driver/client/driver_client.h"
#include "platform/automation/classes.h"
#include "platform/com_ports.h"
#include "platform/paths.h"
#include "platform/process_info.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/testing/child_process.h"
#include "platform/text.h"
#include "protocol/answers.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "server/settings.h"

using namespace varn;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

using bench::Within;

constexpr int kPorts = 4;
constexpr int kBaudCode = 6;  // 115200
constexpr double kBaud = 115200;
constexpr int32_t kLockBusy = -18;
constexpr int kLinesPerSession = 3;
constexpr int kExchangesPerSession = 2 + kLinesPerSession;  // the two statuses, the lines

// Raised, not exited: the emulators and the server are stopped and the
// private folder is removed on the way out.
[[noreturn]] void Die(const std::string& what) {
  throw std::runtime_error(what);
}

struct Options {
  double seconds = 60;
  int clients = 64;
  bool logs = true;  // --no-logs: to see what logging costs
  // The longest back-off after a busy LockPort: every try is a round trip
  // through the server, so the waiters' tries cost the machine CPU.
  double backOffMs = 16;
  std::string keep;         // --keep DIR: the logs and papers are copied there
  bool ownSessions = true;  // --one-session: the server and emulators in the bench's session
  int timeoutMs = 100;      // the driver's Timeout (its default), the link's byte time-out
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--seconds" || a == "--clients" || a == "--back-off" || a == "--timeout") &&
        i + 1 < argc) {
      char* end = nullptr;
      const double v = std::strtod(argv[++i], &end);
      if (*end != '\0' || !(v > 0) || v > 86400) Die(a + ": not a positive number: " + argv[i]);
      if (a == "--seconds")
        o.seconds = v;
      else if (a == "--back-off")
        o.backOffMs = v;
      else if (a == "--timeout")
        o.timeoutMs = static_cast<int>(v);
      else
        o.clients = static_cast<int>(v);
    } else if (a == "--keep" && i + 1 < argc) {
      o.keep = argv[++i];
    } else if (a == "--one-session") {
      o.ownSessions = false;
    } else if (a == "--no-logs") {
      o.logs = false;
    } else {
      Die("usage: bench_load [--seconds S] [--clients N] [--back-off MS] [--no-logs] [--keep DIR] "
          "[--one-session]");
    }
  }
  if (o.clients < kPorts || o.clients % kPorts != 0 || o.clients > 400)
    Die("--clients must be a multiple of " + std::to_string(kPorts) + " up to 400");
  return o;
}

// --- the server's figures, from /proc ----------------------------------------

struct ProcessFigures {
  long threads = 0;
  long descriptors = 0;
  long rssKb = 0;
};

// User and system CPU seconds of a whole process (all its threads) so far.
// /proc counts them in USER_HZ ticks, 100 a second on Linux.
double CpuSeconds(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/stat");
  std::string stat;
  std::getline(in, stat);
  const size_t name = stat.rfind(')');  // the program's name may hold blanks
  if (name == std::string::npos) return 0;
  std::istringstream fields(stat.substr(name + 2));
  std::string field;
  double ticks = 0;
  for (int k = 3; k <= 15 && fields >> field; ++k)
    if (k >= 14) ticks += std::atof(field.c_str());  // utime, stime
  return ticks / 100.0;
}
double CpuSeconds(int64_t pid) {
  return CpuSeconds(std::to_string(pid));
}

ProcessFigures FiguresOf(int64_t pid) {
  ProcessFigures f;
  const fs::path dir = fs::path("/proc") / std::to_string(pid);
  std::ifstream status(dir / "status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) f.threads = std::atol(line.c_str() + 8);
    if (line.rfind("VmRSS:", 0) == 0) f.rssKb = std::atol(line.c_str() + 6);
  }
  std::error_code ec;
  for (auto it = fs::directory_iterator(dir / "fd", ec); !ec && it != fs::directory_iterator();
       it.increment(ec))
    ++f.descriptors;
  return f;
}

// VarnSrv runs in a session of its own wherever it runs for real (the driver
// starts it detached, or systemd does), and the devices are no processes of
// the host at all. Where the kernel shares the CPU out per session
// (autogroup), 64 client threads in one session with the emulators would
// starve the emulators, which then answer late as no device would. So each
// gets a session of its own, through setsid(1), which runs the program in
// place (the child is no group leader): the process is the program itself.
std::unique_ptr<ChildProcess> Start(const std::string& program, std::vector<std::string> args,
                                    const fs::path& output, bool ownSession) {
  static const std::string setsid = "/usr/bin/setsid";
  if (ownSession && fs::exists(setsid)) {
    args.insert(args.begin(), program);
    return std::make_unique<ChildProcess>(setsid, args, output.string());
  }
  return std::make_unique<ChildProcess>(program, args, output.string());
}

// --- one client ------------------------------------------------------------------

struct Line {
  int client;
  int session;
  int line;
};

std::string LineText(const Line& l) {
  char text[48];
  std::snprintf(text, sizeof text, "c%02d s%04d l%d", l.client, l.session, l.line);
  return text;
}

std::optional<Line> ParseLine(const std::string& text) {
  Line l{};
  char rest = 0;
  if (std::sscanf(text.c_str(), "c%d s%d l%d%c", &l.client, &l.session, &l.line, &rest) != 3)
    return std::nullopt;
  if (LineText(l) != text) return std::nullopt;
  return l;
}

struct Client {
  int number = 0;
  int port = 0;  // COM N
  bool tcp = false;
  std::unique_ptr<DriverClient> driver;
  // Results of the run.
  long calls = 0;
  long exchanges = 0;  // driver commands that went to the device and gave 0
  long busy = 0;       // LockPort tries that found the port locked (-18)
  std::vector<std::string> failures;
  std::vector<std::string> printed;  // lines the client was told 0 for, in order
  std::vector<double> lockWaits;     // seconds from the first try to holding the lock
  double held = 0;                   // seconds from holding the lock to UnlockPort's answer
  double inCalls = 0;                // of those, seconds in the device commands' calls
  Clock::time_point lastEnd{};
};

void Fail(Client& c, const char* what, int32_t code) {
  if (c.failures.size() < 20)
    c.failures.push_back(std::string(what) + ": " + std::to_string(code) + " " +
                         c.driver->Text(drv_dispid::kResultCodeDescription));
  else
    c.failures.push_back({});
}

void Run(Client& c, Clock::time_point end, std::chrono::microseconds longestBackOff) {
  DriverClient& d = *c.driver;
  std::minstd_rand random(static_cast<unsigned>(c.number) * 7919u + 1);
  auto call = [&](DISPID id, const char* what) {
    ++c.calls;
    const int32_t code = d.Call(id);
    if (code != 0) Fail(c, what, code);
    return code;
  };
  auto command = [&](DISPID id, const char* what) {
    const auto t = Clock::now();
    const int32_t code = call(id, what);
    c.inCalls += std::chrono::duration<double>(Clock::now() - t).count();
    if (code == 0) ++c.exchanges;
    return code;
  };
  for (int session = 1; Clock::now() < end; ++session) {
    // Taken as soon as the port is free: a busy port is tried again after
    // a back-off that grows to a few milliseconds, jittered so that the
    // waiting clients do not knock in step (each try is a round trip).
    const auto first = Clock::now();
    auto backOff = std::min(std::chrono::microseconds(250), longestBackOff);
    int32_t code = 0;
    for (;;) {
      ++c.calls;
      code = d.Call(drv_dispid::kLockPort);
      if (code != kLockBusy) break;
      ++c.busy;
      std::uniform_int_distribution<long> jitter(backOff.count() / 2, backOff.count());
      std::this_thread::sleep_for(std::chrono::microseconds(jitter(random)));
      backOff = std::min(backOff * 2, longestBackOff);
    }
    if (code != 0) {
      Fail(c, "LockPort", code);
      continue;
    }
    const auto holding = Clock::now();
    c.lockWaits.push_back(std::chrono::duration<double>(holding - first).count());
    command(drv_dispid::kGetECRStatus, "GetECRStatus");
    command(drv_dispid::kGetShortECRStatus, "GetShortECRStatus");
    for (int line = 1; line <= kLinesPerSession; ++line) {
      const std::string text = LineText({c.number, session, line});
      d.SetText(drv_dispid::kStringForPrinting, text);
      if (command(drv_dispid::kPrintString, "PrintString") == 0) c.printed.push_back(text);
    }
    call(drv_dispid::kUnlockPort, "UnlockPort");
    c.lastEnd = Clock::now();
    c.held += std::chrono::duration<double>(c.lastEnd - holding).count();
  }
}

// --- the paper -------------------------------------------------------------------

struct PaperCheck {
  size_t lines = 0;
  long lost = 0, doubled = 0, foreign = 0, broken = 0;
  std::vector<std::string> examples;
};

void Example(PaperCheck& p, std::string text) {
  if (p.examples.size() < 5) p.examples.push_back(std::move(text));
}

std::vector<std::string> ReadPaper(const fs::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    // The device pads a line to the paper's width; the text file keeps it.
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

PaperCheck CheckPaper(const std::vector<std::string>& paper,
                      const std::vector<const Client*>& clients) {
  PaperCheck p;
  p.lines = paper.size();
  std::map<std::string, int> expected;  // line -> times seen
  for (const Client* c : clients)
    for (const std::string& l : c->printed) expected.emplace(l, 0);
  for (size_t i = 0; i < paper.size(); ++i) {
    const auto it = expected.find(paper[i]);
    if (it == expected.end()) {
      ++p.foreign;
      Example(p, "line " + std::to_string(i + 1) + " nobody printed here: \"" + paper[i] + "\"");
    } else if (++it->second == 2) {
      ++p.doubled;
      Example(p, "line " + std::to_string(i + 1) + " printed twice: \"" + paper[i] + "\"");
    }
  }
  for (const auto& [text, seen] : expected)
    if (seen == 0) {
      ++p.lost;
      Example(p, "lost: \"" + text + "\"");
    }
  // A session's lines one after another, in order, nobody else's between:
  // every line of a session must sit where its session's first line puts it.
  std::set<std::pair<int, int>> broken;  // (client, session)
  for (size_t i = 0; i < paper.size(); ++i) {
    const std::optional<Line> l = ParseLine(paper[i]);
    if (!l) continue;
    const size_t index = static_cast<size_t>(l->line - 1);  // within the session
    bool whole = l->line >= 1 && l->line <= kLinesPerSession && index <= i &&
                 i - index + kLinesPerSession <= paper.size();
    for (int k = 0; whole && k < kLinesPerSession; ++k) {
      const std::optional<Line> other = ParseLine(paper[i - index + static_cast<size_t>(k)]);
      whole = other && other->client == l->client && other->session == l->session &&
              other->line == k + 1;
    }
    if (!whole && broken.emplace(l->client, l->session).second)
      Example(p, "the session of \"" + paper[i] + "\" (line " + std::to_string(i + 1) +
                     ") is not three adjacent lines in order");
  }
  p.broken = static_cast<long>(broken.size());
  return p;
}

// --- the server's exchange log ---------------------------------------------------

struct LogCount {
  long enq = 0;            // exchanges begun (ENQ sent)
  long frames = 0;         // request frames sent (STX first)
  long deviceBytes = 0;    // every byte the devices sent
  long hostBytes = 0;      // every byte the server sent
  long errors = 0;         // lines with "Error"
  double linkSeconds = 0;  // summed over the exchanges: first line (ENQ) to last
};

// Milliseconds of the day of a log line ("dd.mm.yyyy hh:mm:ss.zzz ..."); -1 if none.
double LineTime(const std::string& line) {
  int h = 0, m = 0, sec = 0, ms = 0;
  if (line.size() < 23 || std::sscanf(line.c_str() + 11, "%2d:%2d:%2d.%3d", &h, &m, &sec, &ms) != 4)
    return -1;
  return ((h * 60 + m) * 60 + sec) * 1000.0 + ms;
}

long HexBytes(const std::string& s, size_t from) {
  long n = 0;
  size_t i = from;
  while (i + 1 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i])) &&
         std::isxdigit(static_cast<unsigned char>(s[i + 1]))) {
    ++n;
    i += 2;
    if (i < s.size() && s[i] == ' ') ++i;
  }
  return n;
}

LogCount CountLog(const fs::path& path) {
  LogCount c;
  std::ifstream in(path);
  // An exchange's lines are written as one block: from its ENQ to its last.
  double begun = -1, last = -1;
  auto endBlock = [&] {
    if (begun >= 0 && last >= begun) c.linkSeconds += (last - begun) / 1000.0;
  };
  for (std::string line; std::getline(in, line);) {
    if (line.find("Error") != std::string::npos) ++c.errors;
    const double t = LineTime(line);
    if (const size_t at = line.find(" -> 05"); at != std::string::npos && line.size() <= at + 7) {
      endBlock();
      begun = t;
    }
    last = t;
    if (const size_t at = line.find(" -> "); at != std::string::npos) {
      const long n = HexBytes(line, at + 4);
      c.hostBytes += n;
      if (line.compare(at + 4, 2, "05") == 0 && n == 1) ++c.enq;
      if (line.compare(at + 4, 2, "02") == 0) ++c.frames;
    } else if (const size_t from = line.find(" <- "); from != std::string::npos) {
      c.deviceBytes += HexBytes(line, from + 4);
    }
  }
  endBlock();
  return c;
}

// --- the line's limit -----------------------------------------------------------

// What the device sends in one clean exchange of a command whose answer
// payload is `payload`: NAK to the ENQ, ACK to the frame, then STX, LEN,
// the payload and the check byte.
size_t DeviceBytes(const std::string& payload) {
  return 1 + 1 + 3 + payload.size();
}

// The device's bytes of one session (GetECRStatus, GetShortECRStatus and the
// lines), from the answers the protocol's encoders make, the emulator's own.
size_t SessionDeviceBytes() {
  namespace p = protocol;
  const size_t printed = DeviceBytes(p::Answer(p::cmd::PrintString, 0, std::string(1, '\x1E')));
  return DeviceBytes(p::Answer(p::cmd::GetECRStatus, 0, p::EncodeStatus({}))) +
         DeviceBytes(p::Answer(p::cmd::GetShortECRStatus, 0, p::EncodeShortStatus({}))) +
         kLinesPerSession * printed;
}

// The bytes the server sends in a session: per exchange ENQ, the request
// frame and the ACK of the answer.
size_t SessionServerBytes() {
  namespace p = protocol;
  auto sent = [](const std::string& request) { return 1 + p::Frame(request).size() + 1; };
  // The driver gives a printed line its full 40 characters.
  const std::string line =
      p::PrintStringRequest(p::cmd::PrintString, p::kReceiptRibbon, std::string(40, '\0'));
  return sent(p::Request(p::cmd::GetECRStatus)) + sent(p::Request(p::cmd::GetShortECRStatus)) +
         kLinesPerSession * sent(line);
}

// --- figures ---------------------------------------------------------------------

double Percentile(std::vector<double>& v, double q) {
  if (v.empty()) return 0;
  const size_t k = std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())));
  std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
  return v[k];
}

std::string Kb(long kb) {
  char s[32];
  std::snprintf(s, sizeof s, "%.1f MB", static_cast<double>(kb) / 1024.0);
  return s;
}

}  // namespace

int Main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  const fs::path bin = fs::path(ExecutablePath()).parent_path();
  const std::string srvProgram = (bin / "VarnSrv").string();
  const std::string emuProgram = (bin / "varn-emu").string();
  bench::TempFolder folder;
  const fs::path& dir = folder.Path();
  fs::create_directories(dir / "log");

  RegisterClass(*std::make_unique<Registry>(Registry::Default()), bench::kPortServer.Clsid,
                "VarnSrv.VarnSrv", srvProgram);
  const uint16_t tcpPort = ListeningSocket::ListenTcp(0).Port();
  Registry::Default().WriteDword(kServerKey, "TCPEnabled", 1);
  Registry::Default().WriteDword(kServerKey, "TCPPort", tcpPort);
  Registry::Default().WriteDword(kServerKey, "LogOn", options.logs ? 1 : 0);

  // The devices, each registering itself as COM N in the private registry.
  std::vector<std::unique_ptr<ChildProcess>> emulators;
  for (int com = 1; com <= kPorts; ++com) {
    const std::string n = std::to_string(com);
    emulators.push_back(Start(emuProgram,
                              {"--com", n, "--baud", std::to_string(kBaudCode), "--fault",
                               "line-speed", "--paper", (dir / ("paper" + n + ".txt")).string()},
                              dir / ("emu" + n + ".out"), options.ownSessions));
  }
  for (int com = 1; com <= kPorts; ++com)
    if (!Within(std::chrono::seconds(20), [&] {
          return Registry::Default().ReadString(kPortsKey, "COM" + std::to_string(com)).has_value();
        }))
      Die("varn-emu did not register COM" + std::to_string(com));

  const std::unique_ptr<ChildProcess> serverProcess =
      Start(srvProgram, {"--headless"}, dir / "server.out", options.ownSessions);
  ChildProcess& server = *serverProcess;
  const std::string socketPath = bench::PortServerSocketPath();
  if (!Within(std::chrono::seconds(20), [&] {
        try {
          return UnixSocketListenerProcessId(socketPath) == server.Pid() &&
                 StreamSocket::ConnectTcp("127.0.0.1", tcpPort).IsOpen();
        } catch (const std::exception&) {
          return false;
        }
      }))
    Die("VarnSrv did not listen at " + socketPath + " and TCP port " + std::to_string(tcpPort));
  // Settled: the probe connection above has gone.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const ProcessFigures before = FiguresOf(server.Pid());
  auto emulatorsCpu = [&] {
    double sum = 0;
    for (auto& e : emulators) sum += CpuSeconds(e->Pid());
    return sum;
  };
  const double cpuBefore[] = {CpuSeconds(server.Pid()), emulatorsCpu(), CpuSeconds("self")};

  // The clients: 16 to a port, one in four of them over the Unix socket.
  std::vector<Client> clients(static_cast<size_t>(options.clients));
  for (int i = 0; i < options.clients; ++i) {
    Client& c = clients[static_cast<size_t>(i)];
    c.number = i + 1;
    c.port = i % kPorts + 1;
    c.tcp = (i / kPorts) % 4 != 1;
    c.driver = std::make_unique<DriverClient>();
    DriverClient& d = *c.driver;
    d.Set(drv_dispid::kComNumber, Variant(static_cast<int32_t>(c.port)));
    d.Set(drv_dispid::kBaudRate, Variant(static_cast<int32_t>(kBaudCode)));
    d.Set(drv_dispid::kTimeout, Variant(static_cast<int32_t>(options.timeoutMs)));
    d.Set(drv_dispid::kConnectionType, Variant(static_cast<int32_t>(c.tcp ? 1 : 0)));
    if (c.tcp) {
      d.SetText(drv_dispid::kComputerName, "127.0.0.1");
      d.Set(drv_dispid::kTCPPort, Variant(static_cast<int32_t>(tcpPort)));
    }
    // Its own log file: with one shared file only its first writer would log.
    d.SetText(drv_dispid::kLogFileName,
              (dir / "log" / ("VarnDrv-c" + std::to_string(c.number) + ".log")).string());
    d.Set(drv_dispid::kLogEnabled, Variant(options.logs));
  }

  std::latch ready(options.clients + 1);
  Clock::time_point start, end;  // set before the latch lets the clients go
  std::vector<std::thread> threads;
  for (Client& c : clients)
    threads.emplace_back([&] {
      ready.arrive_and_wait();
      try {
        Run(c, end, std::chrono::microseconds(static_cast<long>(options.backOffMs * 1000)));
      } catch (const std::exception& e) {
        c.failures.push_back(std::string("stopped by an error: ") + e.what());
      }
      // Gone from the server before the figures after the run are taken.
      try {
        c.driver->Call(drv_dispid::kServerDisconnect);
      } catch (const std::exception& e) {
        c.failures.push_back(std::string("ServerDisconnect: ") + e.what());
      }
    });
  start = Clock::now();
  end = start +
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
  ready.arrive_and_wait();
  // The server's most while the clients run, looked at twice a second.
  ProcessFigures peak;
  for (int i = 0; Clock::now() < end; ++i) {
    std::this_thread::sleep_until(std::min(end, start + std::chrono::milliseconds(500) * (i + 1)));
    const ProcessFigures now = FiguresOf(server.Pid());
    peak.threads = std::max(peak.threads, now.threads);
    peak.descriptors = std::max(peak.descriptors, now.descriptors);
    peak.rssKb = std::max(peak.rssKb, now.rssKb);
  }
  for (std::thread& t : threads) t.join();
  const Clock::time_point finished = Clock::now();
  const double cpuAfter[] = {CpuSeconds(server.Pid()), emulatorsCpu(), CpuSeconds("self")};
  for (Client& c : clients) c.driver.reset();

  // After every client left: the server's client threads end with their
  // connections; the figures are taken once the thread count has settled.
  ProcessFigures after = FiguresOf(server.Pid());
  Within(std::chrono::seconds(10), [&] {
    after = FiguresOf(server.Pid());
    return after.threads <= before.threads;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  after = FiguresOf(server.Pid());

  server.Terminate();
  const std::optional<int> serverStatus = server.Wait(std::chrono::seconds(20));
  for (auto& e : emulators) e->Terminate();
  bool emulatorsClean = true;
  for (auto& e : emulators)
    emulatorsClean = e->Wait(std::chrono::seconds(20)) == 0 && emulatorsClean;

  // --- figures and proofs ---
  bool ok = serverStatus == 0 && emulatorsClean;
  long calls = 0, exchanges = 0, busy = 0, failures = 0, lines = 0;
  std::vector<double> waits;
  std::printf(
      "bench_load: %d clients (%d over TCP, %d over the Unix socket) on %d ports, "
      "115200-baud lines, exchange log and driver logs %s, %.0f s\n",
      options.clients,
      static_cast<int>(
          std::count_if(clients.begin(), clients.end(), [](const Client& c) { return c.tcp; })),
      static_cast<int>(
          std::count_if(clients.begin(), clients.end(), [](const Client& c) { return !c.tcp; })),
      kPorts, options.logs ? "on" : "off", options.seconds);
  double achieved = 0;
  long lost = 0, doubled = 0, foreign = 0, broken = 0;
  for (int com = 1; com <= kPorts; ++com) {
    std::vector<const Client*> on;
    long portExchanges = 0;
    Clock::time_point last = start;
    for (const Client& c : clients)
      if (c.port == com) {
        on.push_back(&c);
        portExchanges += c.exchanges;
        last = std::max(last, c.lastEnd);
      }
    const double seconds = std::chrono::duration<double>(last - start).count();
    const double rate = seconds > 0 ? static_cast<double>(portExchanges) / seconds : 0;
    achieved += rate;
    const PaperCheck p = CheckPaper(ReadPaper(dir / ("paper" + std::to_string(com) + ".txt")), on);
    lost += p.lost;
    doubled += p.doubled;
    foreign += p.foreign;
    broken += p.broken;
    std::printf(
        "  COM%d: %6ld exchanges in %.1f s = %6.1f exchanges/s; paper %zu lines: "
        "%ld lost, %ld doubled, %ld foreign, %ld sessions not whole\n",
        com, portExchanges, seconds, rate, p.lines, p.lost, p.doubled, p.foreign, p.broken);
    for (const std::string& e : p.examples) std::printf("        %s\n", e.c_str());
  }
  for (const Client& c : clients) {
    calls += c.calls;
    exchanges += c.exchanges;
    busy += c.busy;
    failures += static_cast<long>(c.failures.size());
    lines += static_cast<long>(c.printed.size());
    waits.insert(waits.end(), c.lockWaits.begin(), c.lockWaits.end());
    for (size_t k = 0; k < c.failures.size() && k < 3; ++k)
      if (!c.failures[k].empty())
        std::printf("  client c%02d (COM%d, %s) failed: %s\n", c.number, c.port,
                    c.tcp ? "TCP" : "Unix", c.failures[k].c_str());
  }
  const size_t sessions = waits.size();
  const double p50 = Percentile(waits, 0.50), p99 = Percentile(waits, 0.99);
  const double worst = waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end());
  std::printf(
      "  calls %ld (LockPort found the port busy %ld times, not failures), "
      "failures %ld; sessions %zu; lines printed %ld\n",
      calls, busy, failures, sessions, lines);
  double held = 0, inCalls = 0;
  for (const Client& c : clients) {
    held += c.held;
    inCalls += c.inCalls;
  }
  const double portSeconds = kPorts * std::chrono::duration<double>(finished - start).count();
  std::printf(
      "  where the ports' time went: held by a client %.1f%% (%.1f%% in the device "
      "commands' calls, the rest between them and in UnlockPort), handed over %.1f%%; "
      "a device command's call took %.2f ms on average\n",
      100 * held / portSeconds, 100 * inCalls / portSeconds,
      100 * (portSeconds - held) / portSeconds,
      exchanges > 0 ? 1e3 * inCalls / static_cast<double>(exchanges) : 0);
  std::printf("  lock wait: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", p50 * 1e3, p99 * 1e3,
              worst * 1e3);
  std::printf("  clients' run %.1f s (the last sessions end after the %.0f s)\n",
              std::chrono::duration<double>(finished - start).count(), options.seconds);

  const LogCount log = CountLog(dir / "log" / "VarnSrv.log");
  std::printf(
      "  exchange log: %ld ENQs (%ld more than the exchanges: the link's retries), %ld "
      "request frames, %ld lines with an error; the devices sent %ld bytes, the server "
      "%ld\n",
      log.enq, log.enq - exchanges, log.frames, log.errors, log.deviceBytes, log.hostBytes);
  std::printf("  VarnSrv before the clients: %ld threads, %ld descriptors, RSS %s\n",
              before.threads, before.descriptors, Kb(before.rssKb).c_str());
  std::printf("  VarnSrv at most during the run: %ld threads, %ld descriptors, RSS %s\n",
              peak.threads, peak.descriptors, Kb(peak.rssKb).c_str());
  std::printf("  VarnSrv after they left:    %ld threads, %ld descriptors, RSS %s\n", after.threads,
              after.descriptors, Kb(after.rssKb).c_str());
  const double run = std::chrono::duration<double>(finished - start).count();
  std::printf("  the server and each emulator %s; byte time-out %d ms\n",
              options.ownSessions ? "in a session of its own" : "in the bench's session",
              options.timeoutMs);
  std::printf(
      "  CPU during the run: VarnSrv %.1f s, the 4 emulators %.1f s, the clients %.1f s "
      "(%.0f%% of the machine's %u cores for %.1f s)\n",
      cpuAfter[0] - cpuBefore[0], cpuAfter[1] - cpuBefore[1], cpuAfter[2] - cpuBefore[2],
      100.0 *
          (cpuAfter[0] - cpuBefore[0] + cpuAfter[1] - cpuBefore[1] + cpuAfter[2] - cpuBefore[2]) /
          (run * std::max(1u, std::thread::hardware_concurrency())),
      std::max(1u, std::thread::hardware_concurrency()), run);
  if (serverStatus != 0) std::printf("  VarnSrv did not end cleanly\n");
  if (!emulatorsClean) std::printf("  an emulator did not end cleanly\n");

  // The line's limit: every byte takes 10 bit times at 115200 baud, the
  // server's as the device's (the link waits for each side in turn, and the
  // emulator takes the server's bytes at the line's pace as a device does).
  const double kSession = static_cast<double>(kExchangesPerSession);
  const double devicePerExchange = static_cast<double>(SessionDeviceBytes()) / kSession;
  const double serverPerExchange = static_cast<double>(SessionServerBytes()) / kSession;
  const double limit = kBaud / 10.0 / (devicePerExchange + serverPerExchange);
  std::printf(
      "  line limit per port: %.1f device bytes (NAK, ACK, answer frame) and %.1f server "
      "bytes (ENQ, request frame, ACK) per exchange = %.1f exchanges/s (the device's bytes "
      "alone: %.1f)\n",
      devicePerExchange, serverPerExchange, limit, kBaud / 10.0 / devicePerExchange);
  if (exchanges > 0 && log.enq > 0) {
    const double enq = static_cast<double>(log.enq);
    std::printf("  by the exchange log: %.1f device and %.1f server bytes per exchange\n",
                static_cast<double>(log.deviceBytes) / enq,
                static_cast<double>(log.hostBytes) / enq);
  }
  std::printf("  achieved: %.1f exchanges/s on %d ports (%.1f per port)\n", achieved, kPorts,
              achieved / kPorts);

  if (log.enq > 0)
    std::printf(
        "  in the server's link (the exchange log's time stamps, ENQ to the last byte): "
        "%.2f ms per exchange; the rest of a device command's call is the driver, the "
        "calls to the server and the server's own work\n",
        1e3 * log.linkSeconds / static_cast<double>(log.enq));
  // More ENQs than answers are the link's retries; fewer, lines the log lost.
  if (options.logs && log.enq < exchanges) {
    std::printf("  the exchange log shows %ld exchanges, the clients were answered %ld\n", log.enq,
                exchanges);
    ok = false;
  }
  if (failures > 0 || lost > 0 || doubled > 0 || foreign > 0 || broken > 0 || exchanges == 0)
    ok = false;
  std::printf("%s: %ld failures, %ld lost lines, %ld doubled, %ld foreign, %ld stolen locks\n",
              ok ? "passed" : "FAILED", failures, lost, doubled, foreign, broken);
  if (!options.keep.empty()) {
    std::error_code ec;
    fs::copy(dir, options.keep, fs::copy_options::recursive | fs::copy_options::overwrite_existing,
             ec);
    std::printf("  logs and papers copied to %s%s\n", options.keep.c_str(),
                ec ? (": " + ec.message()).c_str() : "");
  }
  std::printf("ratio: %.1f / %.1f = %.2f (goal >= 0.75 with logging on)%s\n", achieved,
              kPorts * limit, limit > 0 ? achieved / (kPorts * limit) : 0,
              options.logs ? "" : " (logs off)");
  return ok ? 0 : 1;
}

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_load: %s\n", e.what());
    return 1;
  }
}
