// What the VarnSrv program tests share: the built program run as a child
// process in a TempEnv, the device emulator registered as COM1, and clients
// that reach the server the way drivers do (the remote-call connection over
// the Unix socket or TCP) and call IVarnSrv by name.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/emulated_device.h"
#include "emulator/registration.h"
#include "platform/automation/dispatch.h"
#include "platform/process.h"
#include "platform/process_info.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/socket.h"
#include "platform/testing/child_process.h"
#include "platform/text.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "remote/connection.h"
#include "remote/local_server.h"
#include "server/app/server_app.h"
#include "server/settings.h"
#include "server/varn_srv.h"
#include "tests/support/test_env.h"

namespace varn::test {

using namespace std::chrono_literals;

// The program under test (the build passes its path).
inline std::string VarnSrvProgram() {
  return VARNSRV_PROGRAM;
}

// Who a run of the program acts as. An ordinary user is "nobody" when the
// tests run as root (root ignores file modes and the exclusive mode of
// terminals, which would hide what an ordinary user meets), else the user
// running the tests.
enum class RunAs { ThisUser, OrdinaryUser };
inline constexpr int64_t kNobody = 65534;
inline bool TestsRunAsRoot() {
  return CurrentUserId() == 0;
}

// One run of the program, as a child of the test; killed if still running
// at the end. Output (standard output and error) goes to <name>.out.
class ServerProcess {
 public:
  ServerProcess(const TempEnv& env, std::vector<std::string> args = {"--headless"},
                const std::string& name = "server", RunAs as = RunAs::ThisUser)
      : m_output(env.Path(name + ".out")),
        m_child(Program(env, as), Arguments(as, std::move(args)), m_output) {}

  ChildProcess& Child() { return m_child; }
  int64_t Pid() const { return m_child.Pid(); }
  // True once this process listens on the local socket; false when it
  // ended first or took too long.
  bool Listening() {
    return Eventually([&] {
             if (!m_child.Running()) return true;
             try {
               return UnixSocketListenerProcessId(
                          remote::LocalServerSocketPath(kVarnSrvLocalServer)) == Pid();
             } catch (const std::exception&) {
               return false;
             }
           }) &&
           m_child.Running();
  }
  // True once this process also listens on TCP `port` (it opens TCP right
  // after the local socket); false when it ended first or took too long.
  bool TcpListening(int32_t port) {
    return Eventually([&] { return !m_child.Running() || TcpPortListens(port); }) &&
           m_child.Running();
  }
  // The exit status, waiting at most kPatience.
  std::optional<int> Exit() { return m_child.Wait(kPatience); }
  std::string Output() const { return ReadFileOrEmpty(m_output); }

 private:
  static std::string Program(const TempEnv& env, RunAs as) {
    if (as == RunAs::ThisUser || !TestsRunAsRoot()) return VarnSrvProgram();
    // Room for nobody's log and runtime folders, sticky as /tmp, and the
    // registry as the test wrote it, open to nobody too.
    namespace fs = std::filesystem;
    fs::permissions(env.Dir(), fs::perms::all | fs::perms::sticky_bit);
    const fs::perms readWrite = fs::perms::owner_read | fs::perms::owner_write |
                                fs::perms::group_read | fs::perms::group_write |
                                fs::perms::others_read | fs::perms::others_write;
    for (const std::string& file : {env.RegistryFile(), env.RegistryFile() + ".lock"})
      if (fs::exists(file)) fs::permissions(file, readWrite);
    return "/usr/bin/setpriv";
  }
  static std::vector<std::string> Arguments(RunAs as, std::vector<std::string> args) {
    if (as == RunAs::ThisUser || !TestsRunAsRoot()) return args;
    const std::string id = std::to_string(kNobody);
    std::vector<std::string> all = {"--reuid=" + id, "--regid=" + id, "--clear-groups",
                                    VarnSrvProgram()};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }

  std::string m_output;
  ChildProcess m_child;
};

// A program run to its end: its exit status and output.
struct RunResult {
  std::optional<int> status;
  std::string output;
};
inline RunResult RunProgram(const TempEnv& env, std::vector<std::string> args,
                            const std::string& name = "run") {
  ServerProcess p(env, std::move(args), name);
  RunResult r;
  r.status = p.Exit();
  r.output = p.Output();
  return r;
}

inline const char* const kOk = "Ошибок нет";
using protocol::Frame;
inline const std::string kRequest = Frame(protocol::Request(protocol::cmd::GetECRStatus));
inline const char* const kRequestHex = "02 05 11 97 1C 00 00 9F";

enum class Via { Unix, Tcp };
inline const char* ViaName(Via via) {
  return via == Via::Tcp ? "Tcp" : "Unix";
}

// A driver's view of the server: one connection, one server object,
// created by CLSID text and called by name through the proxy.
class RemoteClient {
 public:
  // `tcpPort` and `host` are used for Via::Tcp.
  explicit RemoteClient(Via via, int32_t tcpPort = 0, const std::string& host = "127.0.0.1") {
    if (via == Via::Tcp) {
      auto tcp = std::make_unique<remote::TkxSocketConnection>();
      tcp->SetAddress(host);
      tcp->Port = tcpPort;
      m_conn = std::move(tcp);
    } else {
      auto local = std::make_unique<remote::TkxLocalSocketConnection>();
      local->Path = remote::LocalServerSocketPath(kVarnSrvLocalServer);
      m_conn = std::move(local);
    }
    m_conn->ServerGUID = kVarnSrvClsid;
    m_conn->Open();
    m_obj = m_conn->ServerObject();
  }
  // Over a connection opened elsewhere (local activation).
  explicit RemoteClient(std::unique_ptr<remote::TkxStreamedConnection> conn)
      : m_conn(std::move(conn)), m_obj(m_conn->ServerObject()) {}

  Outcome Call(const std::u16string& name, std::vector<Variant> inputs = {}) {
    const int32_t code = CallMethod(*m_obj, name, std::move(inputs)).ToInt32();
    return {code, Text(u"ResultDescription")};
  }
  std::string Text(const std::u16string& name) {
    return Utf16ToUtf8(GetProperty(*m_obj, name).ToString());
  }
  bool Flag(const std::u16string& name) { return GetProperty(*m_obj, name).ToBool(); }

  Outcome Connect(int32_t pid, const char16_t* app, const char16_t* comp) {
    return Call(u"Connect", {pid, app, comp});
  }
  Outcome OpenPort(int32_t n, int32_t baud = 4800, int32_t timeout = 100) {
    return Call(u"OpenPort", {n, baud, timeout});
  }
  Outcome LockPort(int32_t n) { return Call(u"LockPort", {n}); }
  Outcome SendData(const std::string& frame) { return Call(u"SendData", {Cp1251ToUtf16(frame)}); }
  std::string RxData() { return Utf16ToCp1251(GetProperty(*m_obj, u"RxData").ToString()); }

  // Goes away as a process that dies does: the socket closes, nothing is
  // unlocked or closed first.
  void Drop() {
    m_obj = DispatchPtr();
    m_conn.reset();
  }

 private:
  std::unique_ptr<remote::TkxStreamedConnection> m_conn;
  DispatchPtr m_obj;
};

// A TCP port nobody listens on right now.
inline int32_t FreeTcpPort() {
  ListeningSocket probe = ListeningSocket::ListenTcp(0);
  return probe.Port();
}

// A fresh environment with the emulator as COM1 and, optionally, settings.
class ProgramTest : public ::testing::Test {
 protected:
  Registry Reg() { return Registry::Default(); }
  void SetSetting(const char* name, uint32_t value) { Reg().WriteDword(kServerKey, name, value); }
  std::string SocketPath() { return remote::LocalServerSocketPath(kVarnSrvLocalServer); }

  TempEnv env;
  emu::EmulatedDevice device{emu::EmulatorOptions{}};  // answers at 4800 baud
  emu::TComRegistration com1{1, device.SlavePath()};
};

}  // namespace varn::test
