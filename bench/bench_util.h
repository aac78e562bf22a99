// Shared pieces of the benchmarks: timing rounds and a private
// folder for the registry, logs and runtime files of one run.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <thread>

namespace varn::bench {

// Calls counted over the time they took, summed over rounds.
struct Tally {
  long count = 0;
  double seconds = 0;
  double PerSecond() const { return seconds > 0 ? count / seconds : 0; }
};

// Warms up, then calls `once` in batches for about `seconds`.
inline void Measure(Tally& tally, double seconds, const std::function<void()>& once,
                    int warmUp = 100, int batch = 50) {
  using Clock = std::chrono::steady_clock;
  for (int i = 0; i < warmUp; ++i) once();
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  long n = 0;
  while (Clock::now() < end) {
    for (int i = 0; i < batch; ++i) once();
    n += batch;
  }
  tally.count += n;
  tally.seconds += std::chrono::duration<double>(Clock::now() - start).count();
}

// Polls `done` every 10 ms until it holds (true) or `limit` passed (false).
template <class F>
bool Within(std::chrono::seconds limit, F done) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline double PerSecond(double seconds, const std::function<void()>& once) {
  Tally t;
  Measure(t, seconds, once, 200);
  return t.PerSecond();
}

// Points VARN_REGISTRY, VARN_LOG_DIR and VARN_RUNTIME_DIR into a fresh
// folder, removed at the end of the run.
class TempFolder {
 public:
  TempFolder()
      : m_dir(std::filesystem::temp_directory_path() /
              ("varn-bench-" + std::to_string(std::random_device{}()))) {
    std::filesystem::create_directories(m_dir);
    setenv("VARN_REGISTRY", (m_dir / "registry.reg").c_str(), 1);
    setenv("VARN_LOG_DIR", (m_dir / "log").c_str(), 1);
    setenv("VARN_RUNTIME_DIR", (m_dir / "run").c_str(), 1);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }
  const std::filesystem::path& Path() const { return m_dir; }

 private:
  std::filesystem::path m_dir;
};

}  // namespace varn::bench
