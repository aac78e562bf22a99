// TVarnDrv1C: the driver as a 1C:Enterprise Native API object, the Linux
// face of Tole1C. It holds a driver object of its own and the same member
// entries (member_entries.h: 58 methods, 78 properties, numbered alike),
// and serves every request through the driver's Invoke, so calls are
// logged and their errors handled as any automation call.
//
// A device error is the driver's result code (the value of CallAsFunc,
// ResultCode); a call the automation layer refuses (a read-only property
// set, a value of the wrong type, a base member called) returns false and
// is reported through the host's AddError with a non-zero code, which the
// platform raises as an exception in the 1C code. No exception leaves an
// entry point. The host calls one member at a time (from any thread).
#pragma once

#include <string>

#include "driver/host/member_entries.h"
#include "driver/native1c/native_api.h"
#include "driver/native1c/values.h"
#include "platform/automation/dispatch.h"

namespace varn::native1c {

inline constexpr const WCHAR_T* kClassName = u"VarnDrv";

class TVarnDrv1C final : public IComponentBase {
 public:
  TVarnDrv1C();  // the driver object, from the stored settings
  ~TVarnDrv1C() override;

  // IInitDoneBase
  bool Init(void* connection) override;
  bool setMemManager(void* memory) override;
  long GetInfo() override;
  void Done() override;

  // ILanguageExtenderBase
  bool RegisterExtensionAs(WCHAR_T** name) override;
  long GetNProps() override;
  long FindProp(const WCHAR_T* name) override;
  const WCHAR_T* GetPropName(long num, long alias) override;
  bool GetPropVal(const long num, tVariant* value) override;
  bool SetPropVal(const long num, tVariant* value) override;
  bool IsPropReadable(const long num) override;
  bool IsPropWritable(const long num) override;
  long GetNMethods() override;
  long FindMethod(const WCHAR_T* name) override;
  const WCHAR_T* GetMethodName(const long num, const long alias) override;
  long GetNParams(const long num) override;
  bool GetParamDefValue(const long num, const long param, tVariant* value) override;
  bool HasRetVal(const long num) override;
  bool CallAsProc(const long num, tVariant* params, const long count) override;
  bool CallAsFunc(const long num, tVariant* result, tVariant* params, const long count) override;

  // LocaleBase, UserLanguageBase: kept; the driver's texts are Russian.
  void SetLocale(const WCHAR_T* locale) override;
  void SetUserInterfaceLanguageCode(const WCHAR_T* language) override;

 private:
  // `work` with every failure reported through AddError; `failed` then.
  template <class R, class F>
  R Guarded(R failed, F&& work) noexcept;
  void Report(const std::string& text, long code) noexcept;
  const TMemberEntry& PropAt(long num) const;
  const TMemberEntry& MethodAt(long num) const;
  const WCHAR_T* NameOf(const TMemberEntry* entry, long alias);
  // The driver's Invoke; a refusal raises EDispatchError with its text.
  Variant Invoke(const TMemberEntry& entry, uint16_t flags, DispParams& params);
  bool Call(long num, tVariant* result);

  DispatchPtr m_driver;
  TMemberEntries m_entries;
  IAddInDefBase* m_host = nullptr;  // for AddError only; forgotten by Done
  THostMemory m_memory;
  std::u16string m_locale, m_language;
};

}  // namespace varn::native1c
