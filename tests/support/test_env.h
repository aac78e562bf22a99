// Test fixtures shared by the suites: a private temporary folder with its own
// registry, log and runtime folders, polling, byte strings, and error and
// result helpers.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>

#include "platform/errors.h"
#include "platform/socket.h"

namespace varn::test {

// A fresh folder; VARN_REGISTRY, VARN_LOG_DIR and VARN_RUNTIME_DIR point
// into it while the object lives. Removed (with its contents) at the end.
class TempEnv {
 public:
  TempEnv();
  ~TempEnv();
  const std::string& Dir() const { return m_dir; }
  std::string Path(std::string_view name) const { return m_dir + "/" + std::string(name); }
  std::string RegistryFile() const { return Path("registry.reg"); }
  std::string LogDir() const { return Path("log"); }

 private:
  std::string m_dir;
};

// Generous: CI runs on a loaded 2-core machine. Nothing waits this long
// unless something is broken.
inline constexpr std::chrono::seconds kPatience{20};

// Polls `done` until it holds (true) or kPatience has passed (false).
template <class F>
bool Eventually(F done) {
  const auto until = std::chrono::steady_clock::now() + kPatience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// What the kernel's socket tables say listens, without connecting (a
// connect would count as a client: it starts an activated server, and a
// listener may be bound but not yet listening, which refuses it).
bool TcpPortListens(int32_t port);
bool UnixPathListens(const std::string& path);

// Reads until `size` bytes came, the peer closed or kPatience passed.
std::string ReceiveUpTo(StreamSocket& socket, size_t size);
// Reads until the peer closes (a test failure when it does not within
// kPatience); what came before the close.
std::string ReceiveUntilClosed(StreamSocket& socket);

// The bytes of an asError answer block carrying `text` (ASCII).
std::string ErrorAnswerBlock(std::string_view text);

std::string Bytes(std::initializer_list<int> values);
std::string ReadFileOrEmpty(const std::string& path);

// A shell command line run to its end (at most kPatience) in `env`: its exit
// status, standard output and standard error apart, as a script sees them.
struct ShellRun {
  std::optional<int> status;
  std::string out, err;
};
ShellRun RunShell(const TempEnv& env, const std::string& commandLine);

// The message of the `E` that `f` raises: "no error" when it raises none,
// and another error propagates.
//   EXPECT_EQ(MessageOf<EUsageError>([&] { Parse(args); }), "--com needs a value");
template <class E, class F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "no error";
}

// A result code with the ResultDescription read right after it (a call of
// IVarnSrv, in-process or remote).
struct Outcome {
  int32_t code;
  std::string text;
  bool operator==(const Outcome&) const = default;
};
inline void PrintTo(const Outcome& o, std::ostream* os) {
  *os << o.code << " \"" << o.text << "\"";
}

// EXPECT_THAT([&]{ ... }, ThrowsDriverError(-4, "Нет связи"));
MATCHER_P2(ThrowsDriverError, code, text, "throws EDriverError " + std::to_string(code)) {
  try {
    arg();
  } catch (const EDriverError& e) {
    *result_listener << "threw " << e.Code << " \"" << e.what() << "\"";
    return e.Code == code && std::string(e.what()) == text;
  } catch (const std::exception& e) {
    *result_listener << "threw another error: " << e.what();
    return false;
  }
  *result_listener << "threw nothing";
  return false;
}

}  // namespace varn::test
