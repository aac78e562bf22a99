// TkxDataDispatch: the proxy of an object that the peer lent, through which
// this end calls it. It holds the peer's slot number (DispatchIndex) and a
// link to the interpreter that made it; GetIDsOfNames and Invoke become
// call blocks through that interpreter.
//
//   DispatchPtr server = interpreter.SendCreateObject(u"VarnSrv.VarnSrv");
//   Variant rc = CallMethod(*server, u"OpenPort", {1, 4800, 100});
//
// Error contract. An HRESULT is the remote object's own outcome, exception
// information included (DISP_E_EXCEPTION with its code and text, as the
// object reported it). A call that did not reach the object or whose
// answer did not come back is not an outcome of the object, and is thrown:
//   ESocketConnectionError  the connection failed or closed (close it);
//   ERemoteError            the peer answered the call with asError;
//   EInterpreterError       a value that cannot be encoded or decoded, or
//                           the interpreter is gone ("The connection of
//                           this remote object is closed").
// Callers that are an automation boundary themselves turn these into their
// own outcome: a member handler's DISP_E_EXCEPTION (dispatch.h), a served
// block's asError answer (InterpretData).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "platform/automation/dispatch.h"

namespace varn::remote {

class TkxDataBlockInterpreter;

namespace detail {
// What an interpreter shares with its proxies: the lock, and the pointer
// that goes null when the interpreter is destroyed (the proxies detach).
struct InterpreterLink {
  std::recursive_mutex lock;
  TkxDataBlockInterpreter* interpreter = nullptr;
};
}  // namespace detail

class TkxDataDispatch : public RefCountedDispatch {
 public:
  TkxDataDispatch(TkxDataBlockInterpreter& interpreter, int32_t dispatchIndex);
  ~TkxDataDispatch() override;

  int32_t DispatchIndex() const { return m_index; }
  bool Detached() const;

  HRESULT GetIDsOfNames(std::span<const std::u16string> names, std::span<DISPID> ids) override;
  HRESULT Invoke(DISPID id, uint16_t flags, DispParams& params, Variant* result, ExcepInfo* excep,
                 uint32_t* argErr) override;

 private:
  std::shared_ptr<detail::InterpreterLink> m_link;
  int32_t m_index;
};

}  // namespace varn::remote
