// The automation objects the remote-call tests serve: a member-table class
// that counts its live instances, and a hand-written object that writes
// through by-reference arguments.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/automation/classes.h"
#include "platform/automation/dispatch.h"
#include "platform/errors.h"
#include "platform/process.h"
#include "remote/local_server.h"

namespace varn::test {

inline std::atomic<int> g_liveSamples{0};
inline std::atomic<int> g_createdSamples{0};

inline constexpr const char* kSampleClsid = "{6C0F0A52-3D1B-4E0B-9C51-7B1D2A7E0F11}";
// The sample class's server as the activation tests name it: a socket and a
// program of its own (the program is found only through the registry).
inline constexpr remote::TLocalServer kSampleServer{kSampleClsid, "SampleSrv.sock",
                                                    "no-such-sample-server"};
inline constexpr const char* kSampleProgId = "Varn.RemoteSample";

class TRemoteSample : public DispatchObject<TRemoteSample> {
 public:
  TRemoteSample() {
    ++g_liveSamples;
    ++g_createdSamples;
  }
  ~TRemoteSample() override { --g_liveSamples; }

  static const MemberTable<TRemoteSample>& Members() {
    using T = TRemoteSample;
    static const MemberTable<T> table{{
        Method<T>(1, "Add", {{"A", VT_I4}, {"B", VT_I4}}, VT_I4, "Сложить",
                  [](T&, Args a) { return Variant(a[0].ToInt32() + a[1].ToInt32()); }),
        Get<T>(2, "Text", VT_BSTR, "Текст", [](T& s, Args) { return Variant(s.m_text); }),
        Put<T>(2, "Text", VT_BSTR, "Текст",
               [](T& s, Args a) {
                 s.m_text = a[0].ToString();
                 return Variant();
               }),
        Method<T>(3, "Fail", {}, VT_I4, "",
                  [](T&, Args) -> Variant { throw EDriverError(-4, "Нет связи"); }),
        Method<T>(4, "Echo", {{"Value", VT_VARIANT}}, VT_VARIANT, "",
                  [](T&, Args a) { return a[0]; }),
        Method<T>(5, "Sleep", {{"Ms", VT_I4}}, VT_I4, "",
                  [](T&, Args a) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(a[0].ToInt32()));
                    return a[0];
                  }),
        Method<T>(6, "Nothing", {}, VT_VARIANT, "", [](T&, Args) { return Variant(); }),
        Get<T>(7, "Pid", VT_I4, "",
               [](T&, Args) { return Variant(static_cast<int32_t>(CurrentProcessId())); }),
        // Calls Add on an object the caller lent us, while the caller waits.
        Method<T>(8, "CallBack", {{"Target", VT_DISPATCH}, {"A", VT_I4}, {"B", VT_I4}}, VT_I4, "",
                  [](T&, Args a) {
                    return CallMethod(*a[0].ToDispatch(), u"Add", {a[1], a[2]});
                  }),
    }};
    return table;
  }

 private:
  std::u16string m_text = u"начало";
};

inline void RegisterSampleClass() {
  ClassTable::Instance().Add(
      {kSampleClsid, kSampleProgId, [] { return MakeObject<TRemoteSample>(); }});
}

// "Double" (id 1) writes through every by-reference argument: numbers
// doubled, texts repeated, arrays reversed; the result is how many it wrote.
class TRefDoubler : public RefCountedDispatch {
 public:
  HRESULT GetIDsOfNames(std::span<const std::u16string> names, std::span<DISPID> ids) override {
    if (names.size() != 1 || names[0] != u"Double") return DISP_E_UNKNOWNNAME;
    ids[0] = 1;
    return S_OK;
  }
  HRESULT Invoke(DISPID id, uint16_t, DispParams& params, Variant* result, ExcepInfo*,
                 uint32_t*) override {
    if (id != 1) return DISP_E_MEMBERNOTFOUND;
    int32_t written = 0;
    for (Variant& a : params.args) {
      if (!a.IsByRef()) continue;
      const Variant& v = a.Deref();
      if (v.IsArray()) {
        SafeArray arr = v.RawArray();
        std::reverse(arr.items.begin(), arr.items.end());
        a.Store(Variant(std::move(arr)));
      } else if (v.Type() == VT_BSTR) {
        a.Store(Variant(v.RawString() + v.RawString()));
      } else {
        a.Store(Variant(v.ToDouble() * 2).ChangeType(v.Type()));
      }
      ++written;
    }
    if (result) *result = Variant(written);
    return S_OK;
  }
};

}  // namespace varn::test
