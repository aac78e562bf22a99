// Tole1C: the driver object as a 1C:Enterprise add-in. It is the class the
// driver library serves for VarnDrv.VarnDrv, so every host gets one; a host
// that never asks for the add-in interfaces (addin.h) sees the plain
// driver, with the same members, by name and by DISPID.
//
// The adapter has no table of its own: Init reads the driver's type
// information (as the platform presents a dual interface: the seven members
// of IUnknown and IDispatch first) into its Methods and Props
// (member_entries.h, which the Native API add-in shares), and every request
// is served from them, by number, through the driver's own Invoke, so each
// call is logged and its errors handled as any automation call.
//
//   auto* lang = QueryAddIn<ILanguageExtender>(*drv);
//   int32_t n;
//   lang->FindProp(u"результат", n);   // ResultCode, in either language
#pragma once

#include <string>

#include "driver/core/varn_drv.h"
#include "driver/host/addin.h"
#include "driver/host/member_entries.h"

namespace varn {

class Tole1C : public TVarnDrv, public IInitDone, public ILanguageExtender {
 public:
  // IInitDone
  HRESULT Init(IDispatch* connection) override;
  HRESULT Done() override;
  HRESULT GetInfo(SafeArray& info) override;

  // ILanguageExtender
  HRESULT RegisterExtensionAs(std::u16string& extensionName) override;
  HRESULT GetNProps(int32_t& props) override;
  HRESULT FindProp(const std::u16string& propName, int32_t& propNum) override;
  HRESULT GetPropName(int32_t propNum, int32_t propAlias, std::u16string& propName) override;
  HRESULT GetPropVal(int32_t propNum, Variant& propVal) override;
  HRESULT SetPropVal(int32_t propNum, const Variant& propVal) override;
  HRESULT IsPropReadable(int32_t propNum, bool& propRead) override;
  HRESULT IsPropWritable(int32_t propNum, bool& propWrite) override;
  HRESULT GetNMethods(int32_t& methods) override;
  HRESULT FindMethod(const std::u16string& methodName, int32_t& methodNum) override;
  HRESULT GetMethodName(int32_t methodNum, int32_t methodAlias,
                        std::u16string& methodName) override;
  HRESULT GetNParams(int32_t methodNum, int32_t& params) override;
  HRESULT GetParamDefValue(int32_t methodNum, int32_t paramNum, Variant& paramDefValue) override;
  HRESULT HasRetVal(int32_t methodNum, bool& retValue) override;
  HRESULT CallAsProc(int32_t methodNum, SafeArray* params) override;
  HRESULT CallAsFunc(int32_t methodNum, Variant& retValue, SafeArray* params) override;

  // Methods and Props, built by Init; the numbers given to 1C are positions in them.
  TMemberEntries Entries;

 private:
  HRESULT CallMethodEntry(int32_t methodNum, Variant* retValue);
};

}  // namespace varn
