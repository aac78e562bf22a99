// The interpreter both ends of a remote-call connection run.
//
// Calling side: a proxy's GetIDsOfNames/Invoke (remote/proxy.h) become call
// blocks, sent through the owner's ISendDataBlock; the answer becomes the
// results. Serving side: InterpretData turns a call block into a real call
// on an object in FDispList and sends the answer. Objects go out as slot
// numbers (DispatchIndex) in the sender's FDispList and come in as
// TkxDataDispatch proxies; the values themselves are the codec's
// (remote/codec.h), to which the interpreter is the IObjectSlots.
//
//   class Owner : public ISendDataBlock { ... };       // a connection
//   TkxDataBlockInterpreter interp(owner);
//   DispatchPtr server = interp.SendCreateObject(u"{51FABCFE-...}");
//   Variant r = CallMethod(*server, u"Connect", {...});  // through the proxy
//
// Locking: one recursive lock per interpreter (Lock()), shared with its
// proxies, is held for the whole of every remote call and every served
// block, so one call is in flight per connection; calls the peer makes back
// while a call waits are served on the waiting thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/automation/dispatch.h"
#include "remote/codec.h"
#include "remote/data_block.h"
#include "remote/errors.h"
#include "remote/proxy.h"

namespace varn::remote {

class ISendDataBlock {
 public:
  // Sends `block`. With `waitForResult` it returns the answer, serving call
  // blocks of the peer that arrive first; nullopt when no answer came.
  virtual std::optional<TDataBlock> Send(TDataBlock& block, bool waitForResult) = 0;

 protected:
  ~ISendDataBlock() = default;
};

class TkxDataBlockInterpreter : private IObjectSlots {
 public:
  // `sender` is the owner (connection or server thread); it outlives this.
  explicit TkxDataBlockInterpreter(ISendDataBlock& sender);
  // Detaches every proxy and releases every object lent to the peer.
  virtual ~TkxDataBlockInterpreter();
  TkxDataBlockInterpreter(const TkxDataBlockInterpreter&) = delete;
  TkxDataBlockInterpreter& operator=(const TkxDataBlockInterpreter&) = delete;

  std::recursive_mutex& Lock() { return m_link->lock; }

  // How DoCreateObject makes an object from a ProgID or a CLSID in braces.
  // Default: ClassTable::Instance().Create.
  std::function<DispatchPtr(const std::u16string&)> CreateObject;

  // --- values, with this interpreter's slots (remote/codec.h) ---
  void WriteVariant(const Variant& value, TDataBlock& block);
  Variant ReadVariant(TDataBlock& block, bool* byRef = nullptr, bool* byRefVariant = nullptr);

  // --- serving side ---
  // Serves one call block and sends its answer (an error in a handler is
  // answered with asError). An asError block raises ERemoteError unanswered;
  // transport errors pass through. Either means: close the connection.
  void InterpretData(TDataBlock& block);

  // --- calling side (raise on failure, see the error contract in proxy.h) ---
  HRESULT SendInvoke(int32_t dispatchIndex, DISPID id, uint16_t flags, DispParams& params,
                     Variant* result, ExcepInfo* excep);
  // One name only: any other count gives E_NOTIMPL and sends nothing.
  HRESULT SendGetIDsOfNames(int32_t dispatchIndex, std::span<const std::u16string> names,
                            std::span<DISPID> ids);
  DispatchPtr SendCreateObject(const std::u16string& name);
  Variant SendGetServers();
  // Raises ERemoteError with the received text when `block` is an asError block.
  void RaiseIfError(TDataBlock& block);

  // --- FDispList: the objects lent to the peer ---
  int32_t StoreDispatch(const DispatchPtr& obj);
  void ReleaseDispatch(int32_t index);  // out of range: ignored
  DispatchPtr DispatchAt(int32_t index) const;
  size_t DispListSlots() const;
  size_t DispListUsed() const;
  size_t ProxyCount() const;

 protected:
  // Handlers: read the arguments, Clear, write the answer and set its
  // signature; return false when no answer is to be sent.
  virtual bool DoCreateObject(TDataBlock& block);
  virtual bool DoFreeObject(TDataBlock& block);
  virtual bool DoGetIDsOfNames(TDataBlock& block);
  virtual bool DoInvoke(TDataBlock& block);
  virtual bool DoGetServers(TDataBlock& block);
  // Actions without a handler: report them as not handled.
  virtual bool DoCustomAction(TDataBlock& block);

 private:
  friend class TkxDataDispatch;
  // IObjectSlots: lending stores in FDispList; a slot number read is the
  // peer's, and becomes a proxy.
  int32_t Lend(const DispatchPtr& obj) override { return StoreDispatch(obj); }
  DispatchPtr Lookup(int32_t index) override;
  void Write(const Variant& value, TDataBlock& block) { WriteValue(value, block, *this); }
  TDataBlock SendAndWait(TDataBlock& block);

  ISendDataBlock& m_sender;
  std::shared_ptr<detail::InterpreterLink> m_link;
  std::vector<DispatchPtr> m_dispList;             // FDispList
  std::unordered_set<TkxDataDispatch*> m_proxies;  // not counted
};

}  // namespace varn::remote
