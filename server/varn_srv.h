// TVarnSrv: the port server's automation object, one per client, offering
// IVarnSrv. It keeps the client's own state (its current port, its
// identification, its last answer and result) and carries every port
// operation to the shared ports: lock operations under the ports' state
// lock, device operations under the port's own exchange lock.
//
// Every member reports its outcome as a result code (the call's result,
// [out, retval] `Value`) and sets ResultDescription; only OpenPort and
// SendData turn arbitrary errors into -8, elsewhere an unexpected error
// fails the call itself (DISP_E_EXCEPTION).
//
//   RegisterVarnSrvClass(context);     // the server's TServerContext
//   DispatchPtr srv = ClassTable::Instance().Create(u"VarnSrv.VarnSrv");
//   InvokeById(*srv, dispid::kConnect, DISPATCH_METHOD, {1820, u"Касса", u"SHOP-2"});
//   InvokeById(*srv, dispid::kOpenPort, DISPATCH_METHOD, {1, 4800, 100});
//   int32_t rc = InvokeById(*srv, dispid::kSendData, DISPATCH_METHOD, {frame}).ToInt32();
//   Variant rx = InvokeById(*srv, dispid::kRxData, DISPATCH_PROPERTYGET);
//
// The members' dispatch identifiers are in varn_srv_dispids.h.
//
// Calls on one object come one at a time (one client, one connection);
// calls on different objects may come from any threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/automation/dispatch.h"
#include "platform/errors.h"

namespace varn {

class TPorts;
class TClients;
class TPort;
class TServerContext;

inline constexpr const char* kVarnSrvClsid = "{51FABCFE-95AD-4BC9-BABA-97F9D279F37E}";
inline constexpr const char* kVarnSrvProgId = "VarnSrv.VarnSrv";
// Where the drivers of this computer find the server: its socket's name in
// the runtime folder, and its program when the class is not registered.
inline constexpr const char* kVarnSrvSocketName = "VarnSrv.sock";
inline constexpr const char* kVarnSrvProgram = "VarnSrv";
// The documentation string of the interface and of the class.
inline constexpr const char* kVarnSrvDoc = "Квелта: Драйвер Варн";

// Its texts (msg::kNoError, msg::kPortLocked) are in platform/errors.h.

class TVarnSrv : public DispatchObject<TVarnSrv> {
 public:
  explicit TVarnSrv(std::shared_ptr<TServerContext> context);
  ~TVarnSrv() override;

  static const MemberTable<TVarnSrv>& Members();

  // For the server window (any thread).
  int32_t ClientNumber() const { return m_clientNumber; }
  int32_t PortNumber() const { return m_portNumber; }
  struct Identity {
    int32_t appPID = 0;
    std::string appName;   // UTF-8
    std::string compName;  // UTF-8
  };
  Identity ClientIdentity() const;

 private:
  enum class Catch { DriverErrors, AllErrors };

  int32_t OpenPort(int32_t portNumber, int32_t baudRate, int32_t timeout);
  int32_t ClosePort();
  int32_t LockPort(int32_t portNumber);
  int32_t UnlockPort();
  int32_t SendData(const std::string& txData);
  bool PortOpened();
  bool PortLocked();
  int32_t AdminUnlockPort(int32_t portNumber);
  int32_t AdminUnlockPorts();
  int32_t Connect(int32_t appPID, std::string appName, std::string compName);
  std::u16string PortText(bool input);

  // The automation boundary: runs a member's body and turns its outcome
  // into the result code and ResultDescription.
  int32_t Outcome(Catch what, const std::function<void()>& body);
  int32_t Succeed();
  // The listed port with that number (under the state lock, let go again).
  TPort* FindPort(int32_t portNumber);
  // The close step of ClosePort (under that port's exchange lock).
  void CloseCurrentPort();
  // The unlock step of UnlockPort (under the state lock): EDriverError -18
  // when another client holds it.
  void UnlockCurrentPort();
  [[noreturn]] void ThrowLockedBy(const TPort& port) const;
  // Under the state lock: `port` becomes this client's current port (its
  // user); returns the port it left, null when none or the same.
  TPort* TakePort(TPort* port, int32_t portNumber);
  // Closes a port this client left once no client has it as its current
  // port (under that port's exchange lock; not under the state lock).
  void CloseIfUnused(TPort* port);

  const std::shared_ptr<TServerContext> m_context;  // held while the object lives
  TPorts& m_ports;
  TClients& m_clients;
  const int32_t m_clientNumber;
  std::string m_rxData;               // bytes of the last successful answer
  mutable std::mutex m_identityLock;  // the three below: Connect vs. the window
  int32_t m_appPID = 0;
  std::string m_appName;
  std::string m_compName;
  std::atomic<int32_t> m_portNumber{0};  // 0: no port yet
  TPort* m_current = nullptr;            // the port of m_portNumber once there is one
  std::string m_resultDescription;       // UTF-8
};

// The program's version, "%d.%d.%d.%d" (major, minor, release, build): the
// FileVersion property and the about box.
std::string VarnSrvFileVersion();

// Adds VarnSrv to the class table (by CLSID and ProgID): its objects are
// made on `context`. Once the context has gone (the server is ending), a
// creation fails with CLASS_E_CLASSNOTAVAILABLE.
void RegisterVarnSrvClass(const std::shared_ptr<TServerContext>& context);

}  // namespace varn
