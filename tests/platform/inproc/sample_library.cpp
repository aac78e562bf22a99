// libVarnInprocSample.so: a tests-only in-process server with one class, to
// exercise activation and calls across the library boundary.
#include <algorithm>
#include <atomic>

#include "platform/automation/inproc_server.h"
#include "platform/dynamic_library.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "tests/platform/inproc/sample_class.h"

namespace varn::test {
namespace {

std::atomic<int32_t> g_live{0};

class TInprocSample : public DispatchObject<TInprocSample> {
 public:
  explicit TInprocSample(std::u16string text = u"начало") : m_text(std::move(text)) { ++g_live; }
  ~TInprocSample() override { --g_live; }

  static const MemberTable<TInprocSample>& Members() {
    using T = TInprocSample;
    static const MemberTable<T> table{{
        Get<T>(1, "Text", VT_BSTR, "Текст", [](T& s, Args) { return Variant(s.m_text); }),
        Put<T>(1, "Text", VT_BSTR, "Текст",
               [](T& s, Args a) {
                 s.m_text = a[0].ToString();
                 return Variant();
               }),
        Method<T>(2, "Reverse", {{"Items", VT_VARIANT}}, VT_VARIANT, "Перевернуть",
                  [](T&, Args a) {
                    SafeArray items = a[0].RawArray();
                    std::reverse(items.items.begin(), items.items.end());
                    return Variant(std::move(items));
                  }),
        // Calls Add on an object of the host while the host waits.
        Method<T>(3, "CallBack", {{"Target", VT_DISPATCH}, {"A", VT_I4}, {"B", VT_I4}}, VT_I4, "",
                  [](T&, Args a) {
                    return CallMethod(*a[0].ToDispatch(), u"Add", {a[1], a[2]});
                  }),
        Method<T>(4, "MakeChild", {{"Text", VT_BSTR}}, VT_DISPATCH, "",
                  [](T&, Args a) { return Variant(MakeObject<TInprocSample>(a[0].ToString())); }),
        Get<T>(5, "Live", VT_I4, "", [](T&, Args) { return Variant(g_live.load()); }),
        Get<T>(6, "ModulePath", VT_BSTR, "",
               [](T&, Args) {
                 return Variant(Utf8ToUtf16(ModulePathOf(reinterpret_cast<const void*>(&g_live))));
               }),
        Method<T>(7, "Fail", {}, VT_I4, "",
                  [](T&, Args) -> Variant { throw EDriverError(-4, "Нет связи"); }),
    }};
    return table;
  }

 private:
  std::u16string m_text;
};

std::vector<ClassEntry> SampleClasses() {
  return {{kInprocSampleClsid, kInprocSampleProgId, [] { return MakeObject<TInprocSample>(); }}};
}

}  // namespace
}  // namespace varn::test

VARN_INPROC_SERVER(varn::test::SampleClasses)
