// The two interfaces the 1C:Enterprise platform calls on an add-in, in the
// published order of their members, on our object model: BSTR is a UTF-16
// string, long int32_t, BOOL bool, VARIANT a Variant, SAFEARRAY a SafeArray;
// out parameters are references.
//
// The object model has no QueryInterface. An object offers these
// interfaces by deriving from them beside IDispatch, and a host reaches
// them from the object it created with QueryAddIn (nullptr when the object
// is no add-in). It works across an in-process server library the way the
// type information does (dynamic_cast, ITypeInfoSource). The pointer shares
// the object's reference count: keep the object's DispatchPtr meanwhile.
//
//   DispatchPtr drv = CreateObject(u"VarnDrv.VarnDrv");
//   auto* init = QueryAddIn<IInitDone>(*drv);
//   auto* lang = QueryAddIn<ILanguageExtender>(*drv);
//   init->Init(nullptr);
//   int32_t n;  lang->FindMethod(u"УстановитьСвязь", n);
//   Variant rc; lang->CallAsFunc(n, rc, nullptr);
#pragma once

#include <cstdint>
#include <string>

#include "platform/automation/dispatch.h"

namespace varn {

class IInitDone {
 public:
  static constexpr const char* Iid = "{AB634001-F13D-11D0-A459-004095E1DAEA}";
  // `connection`: the host's connection object (not kept).
  virtual HRESULT Init(IDispatch* connection) = 0;
  virtual HRESULT Done() = 0;
  // Stores the platform version the add-in is written for at index 0.
  virtual HRESULT GetInfo(SafeArray& info) = 0;

 protected:
  virtual ~IInitDone() = default;
};

class ILanguageExtender {
 public:
  static constexpr const char* Iid = "{AB634003-F13D-11D0-A459-004095E1DAEA}";
  virtual HRESULT RegisterExtensionAs(std::u16string& extensionName) = 0;
  virtual HRESULT GetNProps(int32_t& props) = 0;
  virtual HRESULT FindProp(const std::u16string& propName, int32_t& propNum) = 0;
  virtual HRESULT GetPropName(int32_t propNum, int32_t propAlias, std::u16string& propName) = 0;
  virtual HRESULT GetPropVal(int32_t propNum, Variant& propVal) = 0;
  virtual HRESULT SetPropVal(int32_t propNum, const Variant& propVal) = 0;
  virtual HRESULT IsPropReadable(int32_t propNum, bool& propRead) = 0;
  virtual HRESULT IsPropWritable(int32_t propNum, bool& propWrite) = 0;
  virtual HRESULT GetNMethods(int32_t& methods) = 0;
  virtual HRESULT FindMethod(const std::u16string& methodName, int32_t& methodNum) = 0;
  virtual HRESULT GetMethodName(int32_t methodNum, int32_t methodAlias,
                                std::u16string& methodName) = 0;
  virtual HRESULT GetNParams(int32_t methodNum, int32_t& params) = 0;
  virtual HRESULT GetParamDefValue(int32_t methodNum, int32_t paramNum, Variant& paramDefValue) = 0;
  virtual HRESULT HasRetVal(int32_t methodNum, bool& retValue) = 0;
  // `params` may be null: the host's arguments, which this add-in ignores.
  virtual HRESULT CallAsProc(int32_t methodNum, SafeArray* params) = 0;
  virtual HRESULT CallAsFunc(int32_t methodNum, Variant& retValue, SafeArray* params) = 0;

 protected:
  virtual ~ILanguageExtender() = default;
};

template <class I>
I* QueryAddIn(IDispatch& obj) {
  return dynamic_cast<I*>(&obj);
}

}  // namespace varn
