// A host that loads VarnDrv1C.zip as the 1C:Enterprise platform does on
// Linux: the bundle unpacked into a folder of its own, the library opened
// from there, the five entry points looked up by name, the object driven
// through its four vtables by slot number, with a connection object that
// records AddError and a memory manager that tracks every block. The
// host's side is written from the binary interface alone (slots, offsets,
// the 64-byte variant), not from the add-in's declarations, so a slot or an
// offset out of place shows here.
#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "driver/host/addin.h"
#include "platform/testing/child_process.h"
#include "tests/driver/core/driver_fixture.h"

namespace varn::test {
namespace {

namespace fs = std::filesystem;

// --- the host's side of the binary interface ------------------------------------------

struct HostVariant {
  union {
    int32_t lVal;
    int64_t llVal;
    double dblVal;
    uint8_t bVal;
    void* pInterfaceVal;
    struct {
      char16_t* pwstrVal;
      uint32_t wstrLen;
    };
    unsigned char raw[56];
  };
  uint32_t cbElements;
  uint16_t vt;
};
static_assert(sizeof(HostVariant) == 64 && offsetof(HostVariant, vt) == 60);

enum : uint16_t {
  kEmpty = 0,
  kI4 = 3,
  kR8 = 5,
  kDate = 6,
  kInterface = 9,
  kBool = 11,
  kI8 = 17,
  kPwstr = 22
};

HostVariant Value(uint16_t vt) {
  HostVariant v;
  std::memset(&v, 0, sizeof v);
  v.vt = vt;
  return v;
}
HostVariant Int(int32_t n) {
  HostVariant v = Value(kI4);
  v.lVal = n;
  return v;
}

// A vtable as a C++ compiler lays one out: offset to top and type
// information before the slots, the object's pointer at slot 0.
template <size_t N>
struct VTable {
  const void* prefix[2] = {nullptr, nullptr};
  const void* slots[N];
};

template <class F>
const void* Fn(F* f) {
  return reinterpret_cast<const void*>(f);
}

void NoDestructor(void*) {
  ADD_FAILURE() << "the add-in called a destructor of the host's object";
}
void Unexpected(void*) {
  ADD_FAILURE() << "the add-in called an unexpected slot of the host's object";
}

// Every block handed out is remembered until it comes back.
struct TrackingMemory {
  const void* const* vptr;
  std::mutex lock;
  std::set<void*> live;
  int allocations = 0;
  std::vector<std::string> faults;

  static bool Alloc(TrackingMemory* self, void** block, unsigned long bytes) {
    std::lock_guard guard(self->lock);
    *block = ::operator new(bytes);
    self->live.insert(*block);
    ++self->allocations;
    return true;
  }
  static void Free(TrackingMemory* self, void** block) {
    std::lock_guard guard(self->lock);
    if (self->live.erase(*block) == 0) {
      self->faults.push_back("freed a block it never handed out");
      return;
    }
    ::operator delete(*block);
    *block = nullptr;
  }
  bool Owns(const void* block) {
    std::lock_guard guard(lock);
    return live.count(const_cast<void*>(block)) != 0;
  }
  // What the host does with a text it was given: read it, free it.
  std::u16string Take(char16_t* text, const char* what) {
    if (!text) {
      ADD_FAILURE() << what << ": no text";
      return {};
    }
    EXPECT_TRUE(Owns(text)) << what << ": a text the host's memory manager did not allocate";
    std::u16string copy(text);
    void* block = text;
    Free(this, &block);
    return copy;
  }
};
const VTable<4> kMemoryVTable = {
    {}, {Fn(NoDestructor), Fn(NoDestructor), Fn(TrackingMemory::Alloc), Fn(TrackingMemory::Free)}};

struct RecordedError {
  unsigned short code;
  std::u16string source, text;
  long scode;
};

struct RecordingConnection {
  const void* const* vptr;
  std::mutex lock;
  std::vector<RecordedError> errors;

  static bool AddError(RecordingConnection* self, unsigned short code, const char16_t* source,
                       const char16_t* text, long scode) {
    std::lock_guard guard(self->lock);
    self->errors.push_back({code, source ? source : u"", text ? text : u"", scode});
    return true;
  }
  std::vector<RecordedError> TakeErrors() {
    std::lock_guard guard(lock);
    return std::exchange(errors, {});
  }
};
// AddError, Read, Write, RegisterProfileAs, SetEventBufferDepth,
// GetEventBufferDepth, ExternalEvent, CleanEventBuffer, SetStatusLine,
// ResetStatusLine, GetInterface after the two destructors.
const VTable<13> kConnectionVTable = {
    {},
    {Fn(NoDestructor), Fn(NoDestructor), Fn(RecordingConnection::AddError), Fn(Unexpected),
     Fn(Unexpected), Fn(Unexpected), Fn(Unexpected), Fn(Unexpected), Fn(Unexpected), Fn(Unexpected),
     Fn(Unexpected), Fn(Unexpected), Fn(Unexpected)}};

// The object the add-in made, called as the platform calls it: the base
// at offset 8 * base, its vtable, the slot, that base as `this`.
class Component {
 public:
  explicit Component(void* object) : m_object(object) {}

  template <class R, class... A>
  R Slot(int base, int slot, A... args) const {
    void* self = static_cast<char*>(m_object) + 8 * base;
    const void* const* vtable = *static_cast<const void* const* const*>(self);
    return reinterpret_cast<R (*)(void*, A...)>(const_cast<void*>(vtable[slot]))(self, args...);
  }

  // The init/done base.
  bool Init(void* connection) const { return Slot<bool>(0, 2, connection); }
  bool SetMemManager(void* memory) const { return Slot<bool>(0, 3, memory); }
  long GetInfo() const { return Slot<long>(0, 4); }
  void Done() const { Slot<void>(0, 5); }
  // The language extender at +8.
  bool RegisterExtensionAs(char16_t** name) const { return Slot<bool>(1, 2, name); }
  long GetNProps() const { return Slot<long>(1, 3); }
  long FindProp(const char16_t* name) const { return Slot<long>(1, 4, name); }
  char16_t* GetPropName(long n, long alias) const { return Slot<char16_t*>(1, 5, n, alias); }
  bool GetPropVal(long n, HostVariant* v) const { return Slot<bool>(1, 6, n, v); }
  bool SetPropVal(long n, HostVariant* v) const { return Slot<bool>(1, 7, n, v); }
  bool IsPropReadable(long n) const { return Slot<bool>(1, 8, n); }
  bool IsPropWritable(long n) const { return Slot<bool>(1, 9, n); }
  long GetNMethods() const { return Slot<long>(1, 10); }
  long FindMethod(const char16_t* name) const { return Slot<long>(1, 11, name); }
  char16_t* GetMethodName(long n, long alias) const { return Slot<char16_t*>(1, 12, n, alias); }
  long GetNParams(long n) const { return Slot<long>(1, 13, n); }
  bool GetParamDefValue(long n, long p, HostVariant* v) const { return Slot<bool>(1, 14, n, p, v); }
  bool HasRetVal(long n) const { return Slot<bool>(1, 15, n); }
  bool CallAsProc(long n, HostVariant* params, long count) const {
    return Slot<bool>(1, 16, n, params, count);
  }
  bool CallAsFunc(long n, HostVariant* result, HostVariant* params, long count) const {
    return Slot<bool>(1, 17, n, result, params, count);
  }
  // The locale at +16, the user's language at +24.
  void SetLocale(const char16_t* locale) const { Slot<void>(2, 2, locale); }
  void SetUserInterfaceLanguageCode(const char16_t* code) const { Slot<void>(3, 2, code); }

 private:
  void* m_object;
};

using GetClassNamesFn = const char16_t* (*)();
using GetClassObjectFn = long (*)(const char16_t*, void**);
using DestroyObjectFn = long (*)(void**);
using SetPlatformCapabilitiesFn = int (*)(int);
using GetAttachTypeFn = int (*)();

class AddInHostTest : public DriverTest {
 protected:
  AddInHostTest() {
    memory.vptr = kMemoryVTable.slots;
    connection.vptr = kConnectionVTable.slots;
  }

  // The bundle unpacked into a folder with nothing else in it.
  std::string Unpack() {
    const std::string dir = env.Path("addin");
    fs::create_directory(dir);
    const std::string bundle = dir + "/VarnDrv1C.zip";
    fs::copy_file(VARN_ADDIN_ZIP, bundle);
    ChildProcess unzip(CMAKE_PROGRAM,
                       {"-E", "chdir", dir, CMAKE_PROGRAM, "-E", "tar", "xf", bundle},
                       env.Path("unzip.txt"));
    EXPECT_EQ(unzip.Wait(std::chrono::seconds(60)), 0) << ReadFileOrEmpty(env.Path("unzip.txt"));
    fs::remove(bundle);
    return dir;
  }

  // Where the add-in's reads and calls go.
  long Prop(const char16_t* name) {
    const long n = addin->FindProp(name);
    EXPECT_GE(n, 0) << Utf16ToUtf8(name);
    return n;
  }
  long Method(const char16_t* name) {
    const long n = addin->FindMethod(name);
    EXPECT_GE(n, 0) << Utf16ToUtf8(name);
    return n;
  }
  void Set(const char16_t* prop, HostVariant v) {
    EXPECT_TRUE(addin->SetPropVal(Prop(prop), &v)) << Utf16ToUtf8(prop);
  }
  void SetText(const char16_t* prop, std::u16string_view text) {
    // The host's buffer is not terminated: only wstrLen counts.
    std::u16string buffer(text);
    buffer += u"ХВОСТ";
    HostVariant v = Value(kPwstr);
    v.pwstrVal = buffer.data();
    v.wstrLen = static_cast<uint32_t>(text.size());
    Set(prop, v);
  }
  HostVariant Get(const char16_t* prop) {
    HostVariant v = Int(12345);
    EXPECT_TRUE(addin->GetPropVal(Prop(prop), &v)) << Utf16ToUtf8(prop);
    return v;
  }
  std::u16string Text(const char16_t* prop) {
    HostVariant v = Get(prop);
    EXPECT_EQ(v.vt, kPwstr) << Utf16ToUtf8(prop);
    if (v.vt != kPwstr) return {};
    EXPECT_EQ(v.pwstrVal[v.wstrLen], u'\0');
    const std::u16string text = memory.Take(v.pwstrVal, "GetPropVal");
    EXPECT_EQ(text.size(), v.wstrLen);
    return text;
  }
  int32_t Number(const char16_t* prop) {
    HostVariant v = Get(prop);
    EXPECT_EQ(v.vt, kI4) << Utf16ToUtf8(prop);
    return v.lVal;
  }
  // A method called as a function: its result code.
  int32_t Call(const char16_t* method) {
    HostVariant rc = Value(kEmpty);
    EXPECT_TRUE(addin->CallAsFunc(Method(method), &rc, nullptr, 0)) << Utf16ToUtf8(method);
    EXPECT_EQ(rc.vt, kI4);
    return rc.lVal;
  }
  std::u16string MethodName(long n, long alias) {
    return memory.Take(addin->GetMethodName(n, alias), "GetMethodName");
  }
  std::u16string PropName(long n, long alias) {
    return memory.Take(addin->GetPropName(n, alias), "GetPropName");
  }
  // The one error the last refused call reported.
  RecordedError OneError() {
    std::vector<RecordedError> errors = connection.TakeErrors();
    EXPECT_EQ(errors.size(), 1u);
    return errors.empty() ? RecordedError{} : errors[0];
  }

  TrackingMemory memory;
  RecordingConnection connection;
  std::optional<Component> addin;
};

TEST_F(AddInHostTest, BundleLoadedAloneServesTheDriverInBothLanguages) {
  // --- the bundle and its manifest --------------------------------------------------
  const std::string dir = Unpack();
  std::set<std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) files.insert(entry.path().filename());
  EXPECT_EQ(files, (std::set<std::string>{"MANIFEST.XML", "libVarnDrv1C.so"}));
  const std::string manifest = ReadFileOrEmpty(dir + "/MANIFEST.XML");
  EXPECT_THAT(manifest, ::testing::ContainsRegex(
                            "<bundle[^>]* xmlns=\"http://v8\\.1c\\.ru/8\\.2/addin/bundle\""));
  const size_t component = manifest.find("<component ");
  ASSERT_NE(component, std::string::npos) << manifest;
  EXPECT_EQ(manifest.find("<component ", component + 1), std::string::npos) << manifest;
  const std::string element = manifest.substr(component, manifest.find('>', component) - component);
  for (const char* attribute :
       {"os=\"Linux\"", "arch=\"x86_64\"", "type=\"native\"", "path=\"libVarnDrv1C.so\""})
    EXPECT_NE(element.find(attribute), std::string::npos) << attribute << " in " << element;

  // --- loading, the exports, the object ----------------------------------------------------
  const std::string path = dir + "/libVarnDrv1C.so";
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto getClassNames = reinterpret_cast<GetClassNamesFn>(dlsym(library, "GetClassNames"));
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(library, "GetClassObject"));
  auto destroyObject = reinterpret_cast<DestroyObjectFn>(dlsym(library, "DestroyObject"));
  auto setCapabilities =
      reinterpret_cast<SetPlatformCapabilitiesFn>(dlsym(library, "SetPlatformCapabilities"));
  auto getAttachType = reinterpret_cast<GetAttachTypeFn>(dlsym(library, "GetAttachType"));
  ASSERT_TRUE(getClassNames && getClassObject && destroyObject && setCapabilities && getAttachType);
  EXPECT_EQ(setCapabilities(3), 3);
  EXPECT_EQ(getAttachType(), 3);  // any
  EXPECT_EQ(std::u16string(getClassNames()), u"VarnDrv");
  void* object = nullptr;
  EXPECT_EQ(getClassObject(u"Other", &object), 0);
  EXPECT_EQ(object, nullptr);
  ASSERT_NE(getClassObject(u"VarnDrv", &object), 0);
  ASSERT_NE(object, nullptr);
  addin.emplace(object);

  EXPECT_TRUE(addin->Init(&connection));
  EXPECT_TRUE(addin->SetMemManager(&memory));
  EXPECT_EQ(addin->GetInfo(), 2000);
  char16_t* extension = nullptr;
  ASSERT_TRUE(addin->RegisterExtensionAs(&extension));
  EXPECT_EQ(memory.Take(extension, "RegisterExtensionAs"), u"VarnDrv");
  addin->SetLocale(u"ru_RU");
  addin->SetUserInterfaceLanguageCode(u"ru");

  // --- the members, numbered as Tole1C numbers them ------------------------------------------
  Driver com;
  auto* lang = QueryAddIn<ILanguageExtender>(com.Object());
  ASSERT_NE(lang, nullptr);
  ASSERT_EQ(QueryAddIn<IInitDone>(com.Object())->Init(nullptr), S_OK);
  int32_t comMethods = 0, comProps = 0;
  lang->GetNMethods(comMethods);
  lang->GetNProps(comProps);
  ASSERT_EQ(addin->GetNMethods(), 58);
  ASSERT_EQ(addin->GetNProps(), 78);
  EXPECT_EQ(comMethods, 58);
  EXPECT_EQ(comProps, 78);
  for (long i = 0; i < 58; ++i) {
    std::u16string english, russian;
    lang->GetMethodName(static_cast<int32_t>(i), 0, english);
    lang->GetMethodName(static_cast<int32_t>(i), 1, russian);
    EXPECT_EQ(MethodName(i, 0), english) << i;
    // A member without a Russian name goes by its English one.
    EXPECT_EQ(MethodName(i, 1), russian.empty() ? english : russian) << i;
    EXPECT_EQ(addin->GetNParams(i), 0);
    EXPECT_TRUE(addin->HasRetVal(i));
  }
  int writable = 0;
  for (long i = 0; i < 78; ++i) {
    std::u16string english, russian;
    bool canWrite = false;
    lang->GetPropName(static_cast<int32_t>(i), 0, english);
    lang->GetPropName(static_cast<int32_t>(i), 1, russian);
    lang->IsPropWritable(static_cast<int32_t>(i), canWrite);
    EXPECT_EQ(PropName(i, 0), english) << i;
    EXPECT_EQ(PropName(i, 1), russian.empty() ? english : russian) << i;
    EXPECT_TRUE(addin->IsPropReadable(i));
    EXPECT_EQ(addin->IsPropWritable(i), canWrite) << i;
    writable += addin->IsPropWritable(i);
  }
  EXPECT_EQ(writable, 41);
  EXPECT_EQ(addin->FindMethod(u"установитьсвязь"), 8);
  EXPECT_EQ(addin->FindMethod(u"CONNECT"), 8);
  EXPECT_EQ(addin->FindProp(u"результат"), addin->FindProp(u"ResultCode"));
  EXPECT_EQ(addin->FindProp(u"NoSuchName"), -1);
  EXPECT_EQ(addin->FindProp(u""), -1);
  EXPECT_EQ(addin->GetPropName(78, 0), nullptr);
  EXPECT_EQ(addin->GetMethodName(-1, 1), nullptr);
  EXPECT_FALSE(addin->IsPropWritable(78));
  HostVariant none = Value(kEmpty);
  EXPECT_FALSE(addin->GetParamDefValue(8, 0, &none));
  EXPECT_TRUE(connection.TakeErrors().empty());

  // --- no port server installed: the first command says so --------------------------------
  UnregisterClass(registry, test::kPortServer.Clsid, "VarnSrv.VarnSrv");
  const std::string path0 = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", "/usr/bin:/bin", 1);
  EXPECT_EQ(Call(u"УстановитьСвязь"), -16);
  EXPECT_THAT(Utf16ToUtf8(Text(u"ОписаниеРезультата")),
              ::testing::HasSubstr("Сервер Варн не установлен или ещё ни разу не запускался"));
  setenv("PATH", path0.c_str(), 1);
  RegisterClass(registry, test::kPortServer.Clsid, "VarnSrv.VarnSrv", VARNSRV_PROGRAM);

  // --- a receipt on the emulator, in both languages -----------------------------------------
  StartDevice();
  EXPECT_EQ(Call(u"Connect"), 0);
  SetText(u"СтрокаДляПечати", u"Кассовый чек № 1");
  EXPECT_EQ(Call(u"ПечатьСтроки"), 0);
  SetText(u"StringForPrinting", u"ИТОГ");
  EXPECT_EQ(Call(u"PrintWideString"), 0);
  EXPECT_TRUE(addin->CallAsProc(Method(u"Гудок"), nullptr, 0));
  EXPECT_EQ(Number(u"Результат"), 0);
  EXPECT_EQ(Text(u"ResultCodeDescription"), u"Ошибок нет.");
  EXPECT_THAT(Paper(), ::testing::HasSubstr("Кассовый чек № 1\n"));
  EXPECT_THAT(Paper(), ::testing::HasSubstr("ИТОГ\n"));
  // Each value type as the host takes it.
  EXPECT_EQ(Call(u"GetECRStatus"), 0);
  HostVariant date = Get(u"ДатаПОККМ");
  EXPECT_EQ(date.vt, kDate);
  EXPECT_GT(date.dblVal, 36526.0);  // after 1.1.2000
  HostVariant connected = Get(u"ServerConnected");
  EXPECT_EQ(connected.vt, kBool);
  EXPECT_EQ(connected.bVal, 1);
  EXPECT_EQ(Get(u"PowerSourceVoltage").vt, kR8);
  // Any numeric type or a text, converted to the member's type.
  HostVariant real = Value(kR8);
  real.dblVal = 150;
  Set(u"Timeout", real);
  EXPECT_EQ(Number(u"Timeout"), 150);
  HostVariant wide = Value(kI8);
  wide.llVal = 460123456789;
  Set(u"ШтрихКод", wide);
  EXPECT_EQ(Text(u"BarCode"), u"460123456789");
  HostVariant yes = Value(kBool);
  yes.bVal = 1;
  Set(u"UseIPAddress", yes);
  EXPECT_EQ(Get(u"UseIPAddress").bVal, 1);
  SetText(u"Timeout", u"100");
  EXPECT_EQ(Number(u"Timeout"), 100);

  // A device error is a result code, the call itself succeeds.
  Set(u"PortNumber", Int(33));
  EXPECT_EQ(Call(u"ПолучитьПараметрыОбмена"), -9);
  EXPECT_EQ(Text(u"ОписаниеРезультата"), u"Параметр вне диапазона.");
  EXPECT_TRUE(connection.TakeErrors().empty());

  // A call the automation layer refuses: false, and AddError raises it in 1C.
  HostVariant one = Int(1);
  EXPECT_FALSE(addin->SetPropVal(Prop(u"ResultCode"), &one));
  RecordedError refused = OneError();
  EXPECT_EQ(refused.code, 1006);  // ADDIN_E_FAIL
  EXPECT_EQ(refused.source, u"VarnDrv");
  EXPECT_EQ(Utf16ToUtf8(refused.text), "Свойство ResultCode только для чтения (0x80020003)");
  EXPECT_EQ(refused.scode, static_cast<int32_t>(0x80020003));
  HostVariant rc = Value(kEmpty);
  EXPECT_FALSE(addin->CallAsFunc(0, &rc, nullptr, 0));  // QueryInterface
  EXPECT_NE(OneError().scode, 0);
  EXPECT_FALSE(addin->CallAsFunc(Method(u"LoadBitmap"), &rc, nullptr, 0));
  EXPECT_THAT(Utf16ToUtf8(OneError().text), ::testing::HasSubstr("LoadBitmap"));
  HostVariant iface = Value(kInterface);
  EXPECT_FALSE(addin->SetPropVal(Prop(u"Timeout"), &iface));
  EXPECT_NE(OneError().scode, 0);
  HostVariant nonsense = Value(kPwstr);
  char16_t abc[] = u"abc";
  nonsense.pwstrVal = abc;
  nonsense.wstrLen = 3;
  EXPECT_FALSE(addin->SetPropVal(Prop(u"Timeout"), &nonsense));
  EXPECT_THAT(Utf16ToUtf8(OneError().text), ::testing::HasSubstr("Timeout"));
  EXPECT_EQ(Number(u"Timeout"), 100);
  HostVariant out = Value(kEmpty);
  EXPECT_FALSE(addin->GetPropVal(78, &out));
  EXPECT_NE(OneError().scode, 0);

  // The same object from a second host thread, one call at a time.
  std::thread second([&] {
    SetText(u"StringForPrinting", u"со второго потока");
    EXPECT_EQ(Call(u"PrintString"), 0);
  });
  second.join();
  EXPECT_EQ(Number(u"ResultCode"), 0);
  EXPECT_THAT(Paper(), ::testing::HasSubstr("со второго потока\n"));

  // The driver object of this host came from beside the program and
  // registered itself there, so that registry-only hosts like this add-in
  // find it; taken away again, the add-in sees no driver installed.
  EXPECT_TRUE(RegisteredInprocServer(registry, kVarnDrvClsid).has_value());
  UnregisterClass(registry, kVarnDrvClsid, kVarnDrvProgId);

  // ShowProperties: no driver installed, so no window library (-8); then
  // the window library beside the registered driver, given this object.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  EXPECT_EQ(Call(u"НастройкаСвойств"), -8);
  EXPECT_THAT(Utf16ToUtf8(Text(u"ОписаниеРезультата")),
              ::testing::HasSubstr("библиотека окон драйвера не загружена"));
  const std::string installed = env.Path("installed");
  fs::create_directory(installed);
  fs::copy_file(VARN_WINDOW_STUB, installed + "/libVarnDrvGui.so");
  RegisterClass(registry, kVarnDrvClsid, kVarnDrvProgId, installed + "/libVarnDrv.so",
                ServerKind::InProcess);
  EXPECT_EQ(Call(u"ShowProperties"), 0);
  EXPECT_EQ(Text(u"StringForPrinting"), u"окно открыто");
  unsetenv("QT_QPA_PLATFORM");
  EXPECT_TRUE(connection.TakeErrors().empty());

  // --- the end, as the platform ends it ------------------------------------------------------
  addin->Done();
  addin.reset();
  EXPECT_EQ(destroyObject(&object), 0);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(destroyObject(&object), -1);
  EXPECT_EQ(dlclose(library), 0);
  // Nothing of it stays behind (no thread of its own, nothing pinned).
  EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);

  std::lock_guard guard(memory.lock);
  EXPECT_TRUE(memory.live.empty()) << memory.live.size() << " blocks never given back";
  EXPECT_TRUE(memory.faults.empty()) << memory.faults.front();
  EXPECT_GE(memory.allocations, 2 * (58 + 78));  // every name, too
}

}  // namespace
}  // namespace varn::test
