// A full read of the device's tables (table descriptions, field
// descriptions, values) as the table editor makes it, through the real
// VarnSrv program and the device emulator: first with no cache of
// descriptions, then with the cache that the first read left. Exchanges are
// counted by command from the server's exchange log; each read is timed.
// Run once with the emulator answering at once and once on a 4800-baud line
// (each byte it sends takes 10 bit times).
//
//   build/default/bin/bench_tables [rounds per figure, default 3]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "bench/bench_util.h"
#include "bench/port_server.h"
#include "driver/services/operations.h"
#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/automation/classes.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "platform/registry.h"
#include "platform/testing/child_process.h"

using namespace varn;

namespace {

constexpr const char* kServerKey = "SOFTWARE\\Kvelta\\Варн\\Сервер";

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "bench_tables: %s\n", what.c_str());
  std::exit(1);
}

// Progress windows nobody looks at: each waits for its worker.
class TUnattended : public IProgressOwner {
  class Window : public IProgressWindow {
   public:
    void SetCaption(const std::string&) override {}
    void SetMaximum(int32_t) override {}
    void ShowProgress(int32_t, const std::string&, const std::string&) override {}
    void Close() override {
      std::lock_guard lock(m_mutex);
      m_closed = true;
      m_wake.notify_all();
    }
    bool ShowModal() override {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [&] { return m_closed; });
      return true;
    }

   private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_closed = false;
  };

 public:
  std::unique_ptr<IProgressWindow> CreateProgressWindow() override {
    return std::make_unique<Window>();
  }
};

// Frames sent to the device, by command code, from the exchange log lines
// "<time stamp> -> 02 LEN CMD ..." written after `from`.
std::map<int, long> CountFrames(const std::string& log, size_t from) {
  std::map<int, long> counts;
  for (size_t at = log.find("-> 02 ", from); at != std::string::npos;
       at = log.find("-> 02 ", at + 1)) {
    if (at + 11 > log.size()) break;
    counts[std::stoi(log.substr(at + 9, 2), nullptr, 16)]++;
  }
  return counts;
}

struct Figures {
  std::map<int, long> frames;  // of one read
  double seconds = 0;          // summed over the rounds
  long Total() const {
    long n = 0;
    for (const auto& [code, count] : frames) n += count;
    return n;
  }
  long Of(int code) const {
    auto it = frames.find(code);
    return it == frames.end() ? 0 : it->second;
  }
};

// What the editor does to show every table: the firmware key, the tables
// (cache or device), then each table opened (field descriptions when not
// cached, then the values).
void FullRead(IDispatch& drv, IProgressOwner& owner, int& cells) {
  TTables tables;
  tables.Key = ComputeFirmwareKey(drv);
  LoadTables(owner, tables);
  cells = 0;
  for (int i = 0; i < tables.Count(); ++i) {
    OpenTable(owner, tables.Items(i));
    cells += tables.Items(i).Fields().Count();
  }
}

void Measure(Figures& f, bool cached, IDispatch& drv, const std::string& logPath, int& cells) {
  TUnattended owner;
  if (!cached) Registry::Default().DeleteKey(kTableDefsKey);
  const size_t from = ReadWholeFile(logPath).value_or("").size();
  const auto start = std::chrono::steady_clock::now();
  FullRead(drv, owner, cells);
  f.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  f.frames = CountFrames(ReadWholeFile(logPath).value_or(""), from);
}

void Print(const char* title, const Figures& f, int rounds) {
  std::printf(
      "  %-34s %4ld exchanges (%ld status, %ld table descriptions, %ld field "
      "descriptions, %ld values), %7.3f s\n",
      title, f.Total(), f.Of(0x11), f.Of(0x2D), f.Of(0x2E), f.Of(0x1F), f.seconds / rounds);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  bench::TempFolder folder;
  Registry reg = Registry::Default();
  RegisterClass(reg, bench::kPortServer.Clsid, "VarnSrv.VarnSrv", VARNSRV_PROGRAM);
  reg.WriteDword(kServerKey, "LogOn", 1);
  ChildProcess server(VARNSRV_PROGRAM, {"--headless"}, (folder.Path() / "server.out").string());
  const std::string socketPath = bench::PortServerSocketPath();
  for (int i = 0;; ++i) {
    try {
      if (UnixSocketListenerProcessId(socketPath) == server.Pid()) break;
    } catch (const std::exception&) {
    }
    if (i == 1000) Die("VarnSrv did not listen");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::string logPath = (folder.Path() / "log" / "VarnSrv.log").string();

  emu::EmulatedDevice device(emu::EmulatorOptions{});
  emu::TComRegistration com1(1, device.SlavePath());
  DispatchPtr drv = CreateObject(u"VarnDrv.VarnDrv");  // as hosts do: libVarnDrv.so beside

  Figures uncached, cached;
  int cells = 0;
  try {
    for (bool line : {false, true}) {
      emu::FaultOptions faults;
      faults.lineSpeed = line;
      device.SetFaults(faults);
      const int n = line ? 1 : rounds;
      Figures u, c;
      for (int r = 0; r < n; ++r) {
        Measure(u, false, *drv, logPath, cells);
        Measure(c, true, *drv, logPath, cells);
      }
      std::printf("%s (%d cells, mean of %d):\n",
                  line ? "emulator on a 4800-baud line" : "emulator answering at once", cells, n);
      Print("without the cache of descriptions:", u, n);
      Print("with the cache of descriptions:", c, n);
      if (!line) uncached = u, cached = c;
    }
  } catch (const std::exception& e) {
    Die(e.what());
  }
  if (!FileExists(logPath)) Die("no exchange log at " + logPath);
  if (cached.Of(0x2D) + cached.Of(0x2E) != 0) Die("the cached read asked for descriptions");

  drv = {};
  server.Terminate();
  if (server.Wait(std::chrono::seconds(20)) != 0) Die("VarnSrv did not end cleanly");
  std::printf("ratio: %.3f\n",
              static_cast<double>(cached.Total()) / static_cast<double>(uncached.Total()));
  return 0;
}
