// The driver as its hosts call it: one late-bound client of a `VarnDrv`
// object, created by ProgID (hosts never link the driver) or wrapping an
// object they were given. Members are reached by the DISPIDs of the
// generated `varn_drv_dispids.h`, so a renamed member fails to compile;
// what must stay by name (names a user typed, the tests) is resolved once
// per name.
//
//   DriverClient d;  // the object is created at the first call
//   d.Set(drv_dispid::kStringForPrinting, u"Привет");
//   d.Check(drv_dispid::kPrintString);  // non-zero: EDriverError
//
// A failed automation call raises EDispatchError (its text names the
// member); an object that cannot be created raises what CreateObject does.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "driver/contract/varn_drv_dispids.h"
#include "platform/automation/dispatch.h"

namespace varn {

inline constexpr const char16_t* kDriverProgId = u"VarnDrv.VarnDrv";

class DriverClient {
 public:
  // The object of `progId`, created at the first call.
  explicit DriverClient(std::u16string progId = kDriverProgId);
  // A given object (a counted reference is held).
  explicit DriverClient(DispatchPtr object);
  explicit DriverClient(IDispatch& object) : DriverClient(DispatchPtr(&object)) {}

  IDispatch& Object();  // creates the object when there is none yet
  bool Created() const { return static_cast<bool>(m_object); }
  // Drops the object (the next call creates a new one by ProgID).
  void Release();

  // --- by DISPID -------------------------------------------------------------
  Variant Get(DISPID id);
  void Set(DISPID id, Variant value);
  // A method with inputs in natural order; its result.
  Variant Invoke(DISPID id, std::vector<Variant> inputs);
  // A method without inputs: its result code.
  int32_t Call(DISPID id) { return Invoke(id, {}).ToInt32(); }
  // Call, and a non-zero result raises EDriverError with the code and
  // ResultCodeDescription.
  void Check(DISPID id);
  int32_t Int(DISPID id) { return Get(id).ToInt32(); }
  bool Bool(DISPID id) { return Get(id).ToBool(); }
  double Real(DISPID id) { return Get(id).ToDouble(); }
  std::u16string Text16(DISPID id) { return Get(id).ToString(); }
  std::string Text(DISPID id);  // UTF-8
  void SetText(DISPID id, std::string_view utf8);

  // --- by name, each name resolved once --------------------------------------
  DISPID Id(const std::u16string& name);
  Variant Get(const std::u16string& name) { return GetNamed(Id(name), name); }
  void Set(const std::u16string& name, Variant value);
  Variant Invoke(const std::u16string& name, std::vector<Variant> inputs);
  int32_t Call(const std::u16string& name) { return Invoke(name, {}).ToInt32(); }
  int32_t Int(const std::u16string& name) { return Get(name).ToInt32(); }
  bool Bool(const std::u16string& name) { return Get(name).ToBool(); }
  std::string Text(const std::u16string& name);  // UTF-8

  // "ResultCode: ResultCodeDescription" as the windows show it (UTF-8).
  std::string ResultLine();

 private:
  Variant Run(DISPID id, std::u16string_view name, uint16_t flags, std::vector<Variant> inputs);
  Variant GetNamed(DISPID id, std::u16string_view name);

  std::u16string m_progId;
  DispatchPtr m_object;
  std::map<std::u16string, DISPID, std::less<>> m_ids;
};

// What a session opens, and how it closes it. The steps run in this order:
// ServerConnect, LockPort, Connect; on the way out Disconnect, UnlockPort,
// ServerDisconnect.
struct SessionSteps {
  bool serverConnect = true;
  bool connect = true;            // Connect after the lock
  bool disconnect = true;         // Disconnect on the way out
  bool serverDisconnect = false;  // ServerDisconnect on the way out
  // Checked: a non-zero result raises EDriverError (ResultCodeDescription).
  // Unchecked: the opening stops at the first non-zero result; Opened() says.
  bool checked = true;
  // On the way out every closing step runs, also for a step that did not
  // succeed; otherwise only the undoing of steps that succeeded.
  bool closeAll = false;
};

// Connect, lock, …, unlock, disconnect around a scope. A step that fails
// while opening undoes those that succeeded before the error leaves the
// constructor; the destructor closes the rest, whatever ended the scope.
// Failures while closing are kept from the destructor (the first failure is
// the one to report); Close() closes now and raises the first of them.
class DriverSession {
 public:
  explicit DriverSession(DriverClient& driver, SessionSteps steps = {});
  ~DriverSession();
  DriverSession(const DriverSession&) = delete;
  DriverSession& operator=(const DriverSession&) = delete;

  // Every step of the opening gave 0 (always so for a checked session).
  bool Opened() const { return m_opened; }
  void Close();

 private:
  void Open();
  // Runs the closing steps; the first failure is returned, not raised.
  std::exception_ptr CloseSteps();

  DriverClient& m_driver;
  SessionSteps m_steps;
  bool m_opened = false;
  bool m_closed = false;
  bool m_serverConnected = false;
  bool m_locked = false;
  bool m_connected = false;
};

}  // namespace varn
