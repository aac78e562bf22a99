// The 1C:Enterprise Native API as the platform calls it on Linux x86_64:
// our own declarations of the binary interface (Itanium C++ ABI, LP64).
//
// What the layout rests on, and must not change:
// - every interface is an abstract class whose first member is a virtual
//   destructor (two vtable slots under g++), then its methods in this
//   order; no data members, no further virtual members;
// - the component object inherits the four component bases in this order,
//   so its vtable pointers lie at offsets 0, 8, 16 and 24;
// - `long` is 8 bytes, strings are 2-byte UTF-16 units (char16_t, not
//   wchar_t), `tVariant` is 64 bytes with the type at offset 60.
// The host's objects (IMemoryManager, IAddInDefBase) are the host's C++
// objects; we only call through their vtables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace varn::native1c {

using WCHAR_T = char16_t;
using TYPEVAR = uint16_t;

enum : TYPEVAR {
  VTYPE_EMPTY = 0,
  VTYPE_NULL = 1,
  VTYPE_I2 = 2,
  VTYPE_I4 = 3,
  VTYPE_R4 = 4,
  VTYPE_R8 = 5,
  VTYPE_DATE = 6,  // an OLE date (days since 30.12.1899) in a double
  VTYPE_TM = 7,
  VTYPE_PSTR = 8,
  VTYPE_INTERFACE = 9,
  VTYPE_ERROR = 10,
  VTYPE_BOOL = 11,
  VTYPE_VARIANT = 12,
  VTYPE_I1 = 13,
  VTYPE_UI1 = 14,
  VTYPE_UI2 = 15,
  VTYPE_UI4 = 16,
  VTYPE_I8 = 17,
  VTYPE_UI8 = 18,
  VTYPE_INT = 19,
  VTYPE_UINT = 20,
  VTYPE_HRESULT = 21,
  VTYPE_PWSTR = 22,
  VTYPE_BLOB = 23,
  VTYPE_CLSID = 24,
};

struct tVariant {
  union {
    int8_t i8Val;
    int16_t shortVal;
    int32_t lVal;
    int intVal;
    unsigned int uintVal;
    int64_t llVal;
    uint8_t ui8Val;
    uint16_t ushortVal;
    uint32_t ulVal;
    uint64_t ullVal;
    int32_t errCode;
    long hRes;
    float fltVal;
    double dblVal;
    bool bVal;
    double date;
    struct tm tmVal;
    struct {
      char* pstrVal;
      uint32_t strLen;  // bytes
    };
    struct {
      WCHAR_T* pwstrVal;
      uint32_t wstrLen;  // UTF-16 units, without the terminator
    };
    unsigned char IDVal[16];
  };
  uint32_t cbElements;
  TYPEVAR vt;
};
static_assert(sizeof(tVariant) == 64 && alignof(tVariant) == 8);
static_assert(offsetof(tVariant, cbElements) == 56 && offsetof(tVariant, vt) == 60);

// --- the host's objects -------------------------------------------------------------

class IMemoryManager {
 public:
  virtual ~IMemoryManager() {}
  virtual bool AllocMemory(void** memory, unsigned long bytes) = 0;
  virtual void FreeMemory(void** memory) = 0;
};

enum : unsigned short {
  ADDIN_E_NONE = 1000,
  ADDIN_E_ORDINARY = 1001,
  ADDIN_E_ATTENTION = 1002,
  ADDIN_E_IMPORTANT = 1003,
  ADDIN_E_VERY_IMPORTANT = 1004,
  ADDIN_E_INFO = 1005,
  ADDIN_E_FAIL = 1006,
  ADDIN_E_MSGBOX_ATTENTION = 1007,
  ADDIN_E_MSGBOX_INFO = 1008,
  ADDIN_E_MSGBOX_FAIL = 1009,
};

// The connection object Init receives. A non-zero `scode` in AddError makes
// the platform raise an exception in the 1C code that made the call.
class IAddInDefBase {
 public:
  virtual ~IAddInDefBase() {}
  virtual bool AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* descr,
                        long scode) = 0;
  virtual bool Read(WCHAR_T* propName, tVariant* value, long* errCode, WCHAR_T** errDescriptor) = 0;
  virtual bool Write(WCHAR_T* propName, tVariant* value) = 0;
  virtual bool RegisterProfileAs(WCHAR_T* profileName) = 0;
  virtual bool SetEventBufferDepth(long depth) = 0;
  virtual long GetEventBufferDepth() = 0;
  virtual bool ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) = 0;
  virtual void CleanEventBuffer() = 0;
  virtual bool SetStatusLine(WCHAR_T* text) = 0;
  virtual void ResetStatusLine() = 0;
};

// --- the component's bases, in the order the object inherits them -------------------

class IInitDoneBase {
 public:
  virtual ~IInitDoneBase() {}
  virtual bool Init(void* connection) = 0;
  virtual bool setMemManager(void* memory) = 0;
  virtual long GetInfo() = 0;
  virtual void Done() = 0;
};

class ILanguageExtenderBase {
 public:
  virtual ~ILanguageExtenderBase() {}
  virtual bool RegisterExtensionAs(WCHAR_T** name) = 0;
  virtual long GetNProps() = 0;
  virtual long FindProp(const WCHAR_T* name) = 0;
  virtual const WCHAR_T* GetPropName(long num, long alias) = 0;
  virtual bool GetPropVal(const long num, tVariant* value) = 0;
  virtual bool SetPropVal(const long num, tVariant* value) = 0;
  virtual bool IsPropReadable(const long num) = 0;
  virtual bool IsPropWritable(const long num) = 0;
  virtual long GetNMethods() = 0;
  virtual long FindMethod(const WCHAR_T* name) = 0;
  virtual const WCHAR_T* GetMethodName(const long num, const long alias) = 0;
  virtual long GetNParams(const long num) = 0;
  virtual bool GetParamDefValue(const long num, const long param, tVariant* value) = 0;
  virtual bool HasRetVal(const long num) = 0;
  virtual bool CallAsProc(const long num, tVariant* params, const long count) = 0;
  virtual bool CallAsFunc(const long num, tVariant* result, tVariant* params, const long count) = 0;
};

class LocaleBase {
 public:
  virtual ~LocaleBase() {}
  virtual void SetLocale(const WCHAR_T* locale) = 0;
};

class UserLanguageBase {
 public:
  virtual ~UserLanguageBase() {}
  virtual void SetUserInterfaceLanguageCode(const WCHAR_T* language) = 0;
};

class IComponentBase : public IInitDoneBase,
                       public ILanguageExtenderBase,
                       public LocaleBase,
                       public UserLanguageBase {
 public:
  ~IComponentBase() override {}
};

enum AppCapabilities {
  eAppCapabilitiesInvalid = -1,
  eAppCapabilities1 = 1,
  eAppCapabilities2 = 2,
  eAppCapabilities3 = 3,
};

enum AttachType {
  eCanAttachNotIsolated = 1,
  eCanAttachIsolated = 2,
  eCanAttachAny = 3,
};

}  // namespace varn::native1c
