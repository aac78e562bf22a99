// A program run as a child of this process, for tests and tools that drive
// the real programs (the port server, the emulator): it is started with its
// output captured in a file, signalled, and waited for with a time limit.
//
//   ChildProcess server(program, {"--headless"}, dir + "/server.out");
//   ...
//   server.Terminate();                                   // SIGTERM
//   std::optional<int> status = server.Wait(std::chrono::seconds(20));
//   // *status: the exit code, or 128 + N when signal N ended it
//
// A child still running when the object goes is killed and reaped, so none
// outlives a failed test.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varn {

class ChildProcess {
 public:
  // Starts `program` (a path) with `args`; standard input from /dev/null,
  // standard output and error both to `outputPath` (created or truncated).
  // It inherits the environment, with no signal blocked. EOSError when it
  // cannot be started.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& outputPath);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int64_t Pid() const { return m_pid; }
  // The exit status once the child has ended (waiting at most `limit`);
  // nullopt while it still runs. Once known it is kept.
  std::optional<int> Wait(std::chrono::milliseconds limit);
  bool Running() { return !Wait(std::chrono::milliseconds(0)); }
  void Terminate();  // SIGTERM
  void Interrupt();  // SIGINT
  void Kill();       // SIGKILL

 private:
  void Send(int signal);

  int64_t m_pid = 0;
  std::optional<int> m_status;
};

}  // namespace varn
