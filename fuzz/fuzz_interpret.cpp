// Serves the input as one incoming block: the first four bytes are the
// signature, the rest the payload. Slot 0 holds an object with a few
// members. Whatever comes, InterpretData answers (and the answer decodes),
// stays silent for a free call, or raises one of the errors that close a
// connection; it never crashes, hangs or leaks.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/errors.h"
#include "remote/interpreter.h"

namespace {

using namespace varn;
using namespace varn::remote;

class TFuzzObject : public DispatchObject<TFuzzObject> {
 public:
  static const MemberTable<TFuzzObject>& Members() {
    using T = TFuzzObject;
    static const MemberTable<T> table{{
        Method<T>(1, "Add", {{"A", VT_I4}, {"B", VT_I4}}, VT_I4, "",
                  [](T&, Args a) { return Variant(a[0].ToInt32() + a[1].ToInt32()); }),
        Get<T>(2, "Text", VT_BSTR, "", [](T& s, Args) { return Variant(s.m_text); }),
        Put<T>(2, "Text", VT_BSTR, "",
               [](T& s, Args a) {
                 s.m_text = a[0].ToString();
                 return Variant();
               }),
        Method<T>(3, "Fail", {}, VT_I4, "",
                  [](T&, Args) -> Variant { throw EDriverError(-4, "fail"); }),
        Method<T>(4, "Echo", {{"Value", VT_VARIANT}}, VT_VARIANT, "",
                  [](T&, Args a) { return a[0]; }),
    }};
    return table;
  }
  std::u16string m_text;
};

// Keeps the answer; a call that waits gets none (as from a silent peer).
class Sink : public ISendDataBlock {
 public:
  std::optional<TDataBlock> Send(TDataBlock& block, bool waitForResult) override {
    if (waitForResult) return std::nullopt;
    answers.push_back(block);
    return std::nullopt;
  }
  std::vector<TDataBlock> answers;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  Sink sink;
  TkxDataBlockInterpreter interp(sink);
  interp.CreateObject = [](const std::u16string& name) -> DispatchPtr {
    if (name == u"Fuzz.Object") return MakeObject<TFuzzObject>();
    throw EDriverError(-1, "no such class");
  };
  interp.StoreDispatch(MakeObject<TFuzzObject>());
  int32_t sig;
  std::memcpy(&sig, data, 4);
  TDataBlock block;
  block.SetSignature(sig);
  block.Write(data + 4, size - 4);
  try {
    interp.InterpretData(block);
  } catch (const ERemoteError&) {
    return 0;  // an error block as a call
  } catch (const EInterpreterError&) {
    return 0;  // ... whose text could not be read
  }
  if (sink.answers.size() > 1) std::abort();
  for (TDataBlock& answer : sink.answers) {
    if (!answer.IsAnswer()) std::abort();
    // Our own answer always decodes, value after value.
    Sink other;
    TkxDataBlockInterpreter peer(other);
    while (answer.Remaining() > 0) peer.ReadVariant(answer);
  }
  return 0;
}
