// The driver object: its member table (the whole public surface), its
// settings in the registry and the derived properties.
#include "driver/core/varn_drv.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "driver/core/errors.h"
#include "driver/core/server_link.h"
#include "platform/automation/classes.h"
#include "platform/display.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "protocol/answers.h"
#include "remote/connection.h"

namespace varn {
namespace {

std::u16string U16(const std::string& utf8) {
  return Utf8ToUtf16(utf8);
}

// OLE date (days since 30.12.1899) of a calendar day; nullopt when invalid.
std::optional<double> OleDate(int day, int month, int year) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1) return std::nullopt;
  if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return std::nullopt;
  // Days from civil (proleptic Gregorian), then shifted to the OLE epoch.
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t unixDays = int64_t{era} * 146097 + doe - 719468;
  return static_cast<double>(unixDays + 25569);
}

// The window library's entry point (driver/gui/gui_entry.cpp).
using ShowPropertiesEntry = int32_t (*)(IDispatch* driver, char* text, size_t size);

// Found once; a load that fails is tried again the next time.
std::mutex g_windowsLock;
ShowPropertiesEntry g_showProperties = nullptr;

// The windows live in libVarnDrvGui.so beside this library, loaded the first
// time one is needed, so hosts that never open one never load Qt. A missing
// display, or one that does not answer, is found before loading it: Qt
// would end the process.
ShowPropertiesEntry LoadWindowLibrary() {
  if (const DisplayCheck display = CheckDisplay(); !display.available)
    throw EDriverError(rc::kOSError, "Окно свойств недоступно: " + display.reason + ".");
  std::string dir = ModulePathOf(reinterpret_cast<const void*>(&LoadWindowLibrary));
  dir = dir.substr(0, dir.find_last_of('/') + 1);
  // A driver linked into a host of its own (the 1C add-in, unpacked alone)
  // has no windows beside it: those of the driver registered for the class.
  if (!FileExists(dir + kWindowLibraryName)) {
    std::string registered;
    try {
      registered = RegisteredInprocServer(Registry::Default(), kVarnDrvClsid).value_or("");
    } catch (const std::exception&) {
      // An unreadable registry names no driver either.
    }
    if (const size_t slash = registered.find_last_of('/'); slash != std::string::npos)
      dir = registered.substr(0, slash + 1);
  }
  ShowPropertiesEntry entry = nullptr;
  try {
    entry = DynamicLibrary::Load(dir + kWindowLibraryName)
                .Function<ShowPropertiesEntry>("VarnDrvGuiShowProperties");
  } catch (const std::exception& e) {
    throw EDriverError(
        rc::kOSError,
        std::string("Окно свойств недоступно: библиотека окон драйвера не загружена (") + e.what() +
            ").");
  }
  if (!entry)
    throw EDriverError(rc::kOSError,
                       "Окно свойств недоступно: в библиотеке окон драйвера нет точки входа.");
  return entry;
}

std::string FileVersionText() {
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", VARN_VERSION_MAJOR, VARN_VERSION_MINOR,
                VARN_VERSION_PATCH, VARN_VERSION_TWEAK);
  return text;
}

}  // namespace

// The driver's settings key: the connection settings with "CurrentDevice"
// among them, then the log's two.
constexpr TConnectionSettings::Value kParamHead[] = {
    {TConnectionSettings::Field::Timeout, "Timeout"},
    {TConnectionSettings::Field::BaudRate, "BaudRate"},
    {TConnectionSettings::Field::ComNumber, "ComNumber"},
    {TConnectionSettings::Field::ComputerName, "ComputerName"},
};
constexpr TConnectionSettings::Value kParamTail[] = {
    {TConnectionSettings::Field::ConnectionType, "ConnectionType"},
    {TConnectionSettings::Field::TCPPort, "TCPPort"},
    {TConnectionSettings::Field::IPAddress, "IPAddress"},
    {TConnectionSettings::Field::UseIPAddress, "UseIPAddress"},
};

TVarnDrv::TVarnDrv() : TVarnDrv(MakeRemoteServerConnector()) {}

TVarnDrv::TVarnDrv(std::unique_ptr<IServerConnector> connector)
    : m_devices(U16(LocalComputerName())), m_connector(std::move(connector)) {
  m_settings.ComputerName = U16(LocalComputerName());
  LoadLogicalDevices();
  LoadParams();
  ClearResult();
}

TVarnDrv::~TVarnDrv() {
  try {
    ServerDisconnect();
  } catch (...) {
    // A destructor must not throw; the connection is gone either way.
  }
  SaveLogicalDevicesOnExit();
}

// --- settings -------------------------------------------------------------------

void TVarnDrv::LoadParams() {
  try {
    const RegistryData data = Registry::Default().Load();
    if (!data.Exists(kDriverParamKey)) {
      m_devices.LDIndex = 0;
      return;  // the object's defaults stand
    }
    auto dword = [&](const char* name, uint32_t def) {
      const RegValue* v = data.Value(kDriverParamKey, name);
      return v && v->type == RegValue::Type::Dword ? v->dword : def;
    };
    auto text = [&](const char* name, const std::string& def) {
      const RegValue* v = data.Value(kDriverParamKey, name);
      return v && v->type == RegValue::Type::String ? v->text : def;
    };
    // Over the object's defaults: a value missing keeps its default.
    m_settings.Read(data, kDriverParamKey, kParamHead, false);
    m_devices.LDIndex =
        static_cast<int32_t>(dword("CurrentDevice", static_cast<uint32_t>(m_devices.LDIndex)));
    m_settings.Read(data, kDriverParamKey, kParamTail, false);
    m_log.SetEnabled(dword("LogEnabled", m_log.Enabled() ? 1 : 0) != 0);
    m_log.SetFileName(text("LogFileName", m_log.FileName()));
    // The key always shows the log file in use.
    Registry::Default().WriteString(kDriverParamKey, "LogFileName", m_log.FileName());
  } catch (const std::exception&) {
    // The values read so far stay; the rest keep their defaults.
  }
}

void TVarnDrv::WriteParams() {
  Registry::Default().Update([&](RegistryData& data) {
    auto dword = [&](const char* name, int64_t v) {
      data.SetValue(kDriverParamKey, name, {RegValue::Type::Dword, {}, static_cast<uint32_t>(v)});
    };
    auto text = [&](const char* name, const std::string& v) {
      data.SetValue(kDriverParamKey, name, {RegValue::Type::String, v, 0});
    };
    data.Ensure(kDriverParamKey);
    m_settings.Write(data, kDriverParamKey, kParamHead);
    dword("CurrentDevice", m_devices.LDIndex);
    m_settings.Write(data, kDriverParamKey, kParamTail);
    dword("LogEnabled", m_log.Enabled() ? 1 : 0);
    text("LogFileName", m_log.FileName());
  });
}

int32_t TVarnDrv::SaveParams() {
  try {
    WriteParams();
  } catch (const EDriverError&) {
    throw;
  } catch (const std::exception& e) {
    // A registry that cannot be written (a full disk, a read-only folder)
    // is no connection failure, connected or not: -8 with the system's reason.
    throw EDriverError(rc::kOSError, e.what());
  }
  return ClearResult();
}

int32_t TVarnDrv::ShowProperties() {
  ShowPropertiesEntry entry = nullptr;
  {
    std::lock_guard lock(g_windowsLock);
    entry = g_showProperties;
  }
  if (!entry) {
    entry = LoadWindowLibrary();
    std::lock_guard lock(g_windowsLock);
    g_showProperties = entry;
  }
  char text[1024] = "";
  const int32_t code = entry(this, text, sizeof text);
  if (code != 0) throw EDriverError(code, text);
  return code;
}

// --- setters with rules --------------------------------------------------------------

void TVarnDrv::SetConnectionType(int32_t v) {
  ClearResult();
  if (v == m_settings.ConnectionType) return;
  if (v < 0 || v > 2) {
    RangeError("Неверное значение. Допустимые значения поля ConnectionType: 0..2");
    return;
  }
  m_settings.ConnectionType = v;
}

void TVarnDrv::SetTCPPort(int32_t v) {
  if (v <= 0) {
    RangeError();
    return;
  }
  m_settings.TCPPort = v;
  ClearResult();
}

void TVarnDrv::SetComNumber(int32_t v) {
  m_settings.ComNumber = v;
  SaveParams();
}

void TVarnDrv::SetBaudRate(int32_t v) {
  if (v == m_settings.BaudRate) return;
  m_settings.BaudRate = v;
  if (v >= 0 && v <= 9) SaveParams();
}

// --- derived properties ---------------------------------------------------------------

std::u16string TVarnDrv::ECRSoftVersion() const {
  return {Cp1251ToChar(m_softMajor), u'.', Cp1251ToChar(m_softMinor)};
}

double TVarnDrv::ECRSoftDate() const {
  return OleDate(m_softDay, m_softMonth, 2000 + m_softYear).value_or(0.0);
}

std::u16string TVarnDrv::ECRModeDescription() const {
  return U16(std::string(protocol::ModeText(m_ecrMode)));
}

double TVarnDrv::PowerSourceVoltage() const {
  return std::trunc(m_voltageByte * 24.0 / 216.0 * 100.0 + 0.5) / 100.0;
}

// --- the member table -----------------------------------------------------------------

namespace {

using D = TVarnDrv;
using Getter = std::function<Variant(D&)>;
using Setter = std::function<void(D&, const Variant&)>;

// A method: logged by name (unless `logged` is false), its result code is
// Value, its failure the result.
Member<D> M(DISPID id, const char* name, const char* help, int32_t (D::*method)(),
            bool logged = true) {
  return Method<D>(id, name, {}, VT_I4, help, [name, method, logged](D& d, Args) {
    return Variant(d.RunMethod(logged ? name : nullptr, method));
  });
}

// A property read: logged; a failure fails the read (no result is set).
Member<D> G(DISPID id, const char* name, VARTYPE type, const char* help, Getter get) {
  const std::string logName = std::string("Get_") + name;
  return Get<D>(id, name, type, help,
                [logName, get](D& d, Args) { return d.Logged(logName, [&] { return get(d); }); });
}

// A property write: logged with the value given; a setter's failure is the result.
Member<D> P(DISPID id, const char* name, VARTYPE type, const char* help, Setter set) {
  const std::string logName = std::string("Set_") + name;
  return Put<D>(id, name, type, help, [logName, set](D& d, Args a) {
    return d.Logged(logName, [&] {
      d.RunSetter([&] { set(d, a[0]); });
      return a[0];
    });
  });
}

// A method that takes the file name first: logged by name, its result code is Value.
Member<D> MF(DISPID id, const char* name, const char* help,
             int32_t (D::*method)(const std::u16string&)) {
  return Method<D>(id, name, {{"FileName", VT_BSTR}}, VT_I4, help, [name, method](D& d, Args a) {
    return Variant(d.RunMethod(name, [&] { return (d.*method)(a[0].RawString()); }));
  });
}
Variant Text(const std::u16string& s) {
  return Variant(s);
}
Variant Int(int64_t v) {
  return Variant(static_cast<int32_t>(v));
}
std::u16string Bytes(const std::string& b) {
  return Cp1251ToUtf16(b);
}

}  // namespace

const MemberTable<TVarnDrv>& TVarnDrv::Members() {
  // clang-format off
  static const MemberTable<D> table{{
      // The window logs nothing of its own.
      M(1, "ShowProperties", "НастройкаСвойств", &D::ShowProperties, false),
      M(2, "Connect", "УстановитьСвязь", &D::Connect),
      M(3, "Disconnect", "РазорватьСвязь", &D::Disconnect),
      M(4, "GetShortECRStatus", "ПолучитьКороткийЗапросСостоянияККМ", &D::GetShortECRStatus),
      M(5, "GetECRStatus", "ПолучитьСостояниеККМ", &D::GetECRStatus),
      M(6, "PrintWideString", "ПечатьЖирнойСтроки", &D::PrintWideString),
      M(7, "Beep", "Гудок", &D::Beep),
      M(8, "SetExchangeParam", "УстановитьПараметрыОбмена", &D::SetExchangeParam),
      M(9, "GetExchangeParam", "ПолучитьПараметрыОбмена", &D::GetExchangeParam),
      M(10, "PrintString", "ПечатьСтроки", &D::PrintString),
      M(11, "Test", "ТестовыйПрогон", &D::Test),
      M(12, "WriteTable", "ЗаписатьТаблицу", &D::WriteTable),
      M(13, "ReadTable", "ПрочитатьТаблицу", &D::ReadTable),
      M(14, "InitTable", "ИнициализироватьТаблицы", &D::InitTable),
      M(15, "OpenDrawer", "ОткрытьДенежныйЯщик", &D::OpenDrawer),
      M(16, "FeedDocument", "ПродвинутьДокумент", &D::FeedDocument),
      M(17, "InterruptTest", "ПрерватьТестовыйПрогон", &D::InterruptTest),
      M(18, "GetTableStruct", "ПолучитьСтруктуруТаблицы", &D::GetTableStruct),
      M(19, "GetFieldStruct", "ПолучитьСтруктуруПоля", &D::GetFieldStruct),
      M(20, "PrintStringWithFont", "ПечатьСтрокиДаннымШрифтом", &D::PrintStringWithFont),
      M(21, "LoadLineData", "ЗагрузкаГрафики", &D::LoadLineData),
      M(22, "LoadLineDataEx", "РасширеннаяЗагрузкаГрафики", &D::LoadLineDataEx),
      M(23, "WideLoadLineData", "ЗагрузкаГрафикиОднойКомандой", &D::WideLoadLineData),
      M(24, "Draw", "ПечатьКартинки", &D::Draw),
      M(25, "DrawEx", "РасширеннаяПечатьКартинки", &D::DrawEx),
      M(26, "PrintBarCode", "ПечатьШтрихКода", &D::PrintBarCode),
      M(27, "GetDeviceMetrics", "ПолучитьПараметрыУстройства", &D::GetDeviceMetrics),
      M(28, "GetFontMetrics", "ПолучитьПараметрыШрифта", &D::GetFontMetrics),
      M(29, "ServerConnect", "СерверПодключиться", &D::ServerConnect),
      M(30, "ServerDisconnect", "СерверОтключиться", &D::ServerDisconnect),
      M(31, "LockPort", "БлокироватьПорт", &D::LockPort),
      M(32, "UnlockPort", "РазблокироватьПорт", &D::UnlockPort),
      M(33, "AdminUnlockPort", "АдминРазблокироватьПорт", &D::AdminUnlockPort),
      M(34, "AdminUnlockPorts", "АдминРазблокироватьПорты", &D::AdminUnlockPorts),
      M(35, "ExchangeBytes", "ПослатьБайты", &D::ExchangeBytes),
      M(36, "AddLD", "ДобавитьЛУ", &D::AddLD),
      M(37, "EnumLD", "ПеречислитьЛУ", &D::EnumLD),
      M(38, "DeleteLD", "УдалитьЛУ", &D::DeleteLD),
      M(39, "GetParamLD", "ПолучитьПараметрыЛУ", &D::GetParamLD),
      M(40, "SetParamLD", "УстановитьПараметрыЛУ", &D::SetParamLD),
      M(41, "GetCountLD", "ПолучитьКоличествоЛУ", &D::GetCountLD),
      M(42, "GetActiveLD", "ПолучитьАктивноеЛУ", &D::GetActiveLD),
      M(43, "SetActiveLD", "УстановитьАктивноеЛУ", &D::SetActiveLD),
      M(44, "GetFreeLDNumber", "Получить свободный номер ЛУ", &D::GetFreeLDNumber),
      G(45, "ECRInput", VT_BSTR, "ВводВККМ", [](D& d) { return Text(U16(d.m_ecrInput)); }),
      G(46, "ECROutput", VT_BSTR, "ВыводИзККМ", [](D& d) { return Text(U16(d.m_ecrOutput)); }),
      G(47, "BarCode", VT_BSTR, "ШтрихКод", [](D& d) { return Text(d.m_barCode); }),
      P(47, "BarCode", VT_BSTR, "ШтрихКод", [](D& d, const Variant& v) { d.m_barCode = v.RawString(); }),
      G(48, "BaudRate", VT_I4, "СкоростьОбмена", [](D& d) { return Int(d.m_settings.BaudRate); }),
      P(48, "BaudRate", VT_I4, "СкоростьОбмена", [](D& d, const Variant& v) { d.SetBaudRate(v.ToInt32()); }),
      G(49, "ComNumber", VT_I4, "НомерCOMпорта", [](D& d) { return Int(d.m_settings.ComNumber); }),
      P(49, "ComNumber", VT_I4, "НомерCOMпорта", [](D& d, const Variant& v) { d.SetComNumber(v.ToInt32()); }),
      G(50, "DrawerNumber", VT_I4, "НомерДенежногоЯщика", [](D& d) { return Int(d.m_drawerNumber); }),
      P(50, "DrawerNumber", VT_I4, "НомерДенежногоЯщика", [](D& d, const Variant& v) { d.m_drawerNumber = v.ToInt32(); }),
      G(51, "ECRBuild", VT_I4, "СборкаККМ", [](D& d) { return Int(d.m_ecrBuild); }),
      G(52, "ECRFlags", VT_I4, "ФлагиККМ", [](D& d) { return Int(d.m_ecrFlags); }),
      G(53, "ECRMode", VT_I4, "РежимККМ", [](D& d) { return Int(d.m_ecrMode); }),
      G(54, "ECRModeDescription", VT_BSTR, "ОписаниеРежимаККМ", [](D& d) { return Text(d.ECRModeDescription()); }),
      G(55, "ECRSoftDate", VT_DATE, "ДатаПОККМ", [](D& d) { return Variant::Date(d.ECRSoftDate()); }),
      G(56, "ECRSoftVersion", VT_BSTR, "ВерсияПОККМ", [](D& d) { return Text(d.ECRSoftVersion()); }),
      G(57, "FieldName", VT_BSTR, "НазваниеПоля", [](D& d) { return Text(d.m_fieldName); }),
      G(58, "FieldNumber", VT_I4, "НомерПоля", [](D& d) { return Int(d.m_fieldNumber); }),
      P(58, "FieldNumber", VT_I4, "НомерПоля", [](D& d, const Variant& v) { d.m_fieldNumber = v.ToInt32(); }),
      G(59, "FieldSize", VT_I4, "РазмерПоля", [](D& d) { return Int(d.m_fieldSize); }),
      P(59, "FieldSize", VT_I4, "РазмерПоля", [](D& d, const Variant& v) { d.m_fieldSize = static_cast<uint8_t>(v.ToInt32()); }),
      G(60, "FieldType", VT_BOOL, "ТипПоля", [](D& d) { return Variant(d.m_fieldType); }),
      P(60, "FieldType", VT_BOOL, "ТипПоля", [](D& d, const Variant& v) { d.m_fieldType = v.ToBool(); }),
      G(61, "FirstLineNumber", VT_I4, "НомерПервойЛинии", [](D& d) { return Int(d.m_firstLineNumber); }),
      P(61, "FirstLineNumber", VT_I4, "НомерПервойЛинии", [](D& d, const Variant& v) { d.m_firstLineNumber = v.ToInt32(); }),
      G(62, "IsDrawerOpen", VT_BOOL, "ДенежныйЯщикОткрыт", [](D& d) { return Variant((d.m_ecrFlags & protocol::flag::kDrawerOpen) != 0); }),
      G(63, "LastLineNumber", VT_I4, "НомерПоследнейЛинии", [](D& d) { return Int(d.m_lastLineNumber); }),
      P(63, "LastLineNumber", VT_I4, "НомерПоследнейЛинии", [](D& d, const Variant& v) { d.m_lastLineNumber = v.ToInt32(); }),
      G(64, "LineData", VT_BSTR, "ГрафическаяИнформация", [](D& d) { return Text(Bytes(d.m_lineData)); }),
      P(64, "LineData", VT_BSTR, "ГрафическаяИнформация", [](D& d, const Variant& v) { d.m_lineData = Utf16ToCp1251(v.RawString()); }),
      G(65, "LineNumber", VT_I4, "НомерЛинии", [](D& d) { return Int(d.m_lineNumber); }),
      P(65, "LineNumber", VT_I4, "НомерЛинии", [](D& d, const Variant& v) { d.m_lineNumber = v.ToInt32(); }),
      G(66, "LogicalNumber", VT_I4, "НомерВЗале", [](D& d) { return Int(d.m_logicalNumber); }),
      G(67, "MAXValueOfField", VT_I4, "МаксимальноеЗначениеПоля", [](D& d) { return Int(d.m_maxValueOfField); }),
      G(68, "MINValueOfField", VT_I4, "МинимальноеЗначениеПоля", [](D& d) { return Int(d.m_minValueOfField); }),
      G(69, "PortNumber", VT_I4, "НомерПорта", [](D& d) { return Int(d.m_portNumber); }),
      P(69, "PortNumber", VT_I4, "НомерПорта", [](D& d, const Variant& v) { d.m_portNumber = static_cast<uint8_t>(v.ToInt32()); }),
      G(70, "ReceiptRibbonLever", VT_BOOL, "РычагТермоголовкиЧекЛенты", [](D& d) { return Variant((d.m_ecrFlags & protocol::flag::kLeverDown) != 0); }),
      G(71, "ReceiptRibbonOpticalSensor", VT_BOOL, "ОптичДатчикЧековойЛенты", [](D& d) { return Variant((d.m_ecrFlags & protocol::flag::kReceiptPaper) != 0); }),
      // The result itself is read without a log line: reading it must not change the log.
      Get<D>(72, "ResultCode", VT_I4, "Результат", [](D& d, Args) { return Int(d.m_resultCode); }),
      Get<D>(73, "ResultCodeDescription", VT_BSTR, "ОписаниеРезультата", [](D& d, Args) { return Text(U16(d.m_resultText)); }),
      G(74, "RowNumber", VT_I4, "НомерРяда", [](D& d) { return Int(d.m_rowNumber); }),
      P(74, "RowNumber", VT_I4, "НомерРяда", [](D& d, const Variant& v) { d.m_rowNumber = v.ToInt32(); }),
      G(75, "StringForPrinting", VT_BSTR, "СтрокаДляПечати", [](D& d) { return Text(d.m_stringForPrinting); }),
      P(75, "StringForPrinting", VT_BSTR, "СтрокаДляПечати", [](D& d, const Variant& v) { d.m_stringForPrinting = v.RawString(); }),
      G(76, "StringQuantity", VT_I4, "КоличествоСтрок", [](D& d) { return Int(d.m_stringQuantity); }),
      P(76, "StringQuantity", VT_I4, "КоличествоСтрок", [](D& d, const Variant& v) { d.m_stringQuantity = v.ToInt32(); }),
      G(77, "TableName", VT_BSTR, "НазваниеТаблицы", [](D& d) { return Text(d.m_tableName); }),
      G(78, "TableNumber", VT_I4, "НомерТаблицы", [](D& d) { return Int(d.m_tableNumber); }),
      P(78, "TableNumber", VT_I4, "НомерТаблицы", [](D& d, const Variant& v) { d.m_tableNumber = v.ToInt32(); }),
      G(79, "Timeout", VT_I4, "ТаймаутПриемаБайта", [](D& d) { return Int(d.m_settings.Timeout); }),
      P(79, "Timeout", VT_I4, "ТаймаутПриемаБайта", [](D& d, const Variant& v) { d.m_settings.Timeout = v.ToInt32(); }),
      G(80, "UCodePage", VT_I4, "УКодоваяСтраница", [](D& d) { return Int(d.m_uCodePage); }),
      G(81, "UDescription", VT_BSTR, "УОписаниеУстройства", [](D& d) { return Text(d.m_uDescription); }),
      G(82, "UMajorProtocolVersion", VT_I4, "УВерсияПротокола", [](D& d) { return Int(d.m_uMajorProtocolVersion); }),
      G(83, "UMajorType", VT_I4, "УТипУстройства", [](D& d) { return Int(d.m_uMajorType); }),
      G(84, "UMinorProtocolVersion", VT_I4, "УПодверсияПротокола", [](D& d) { return Int(d.m_uMinorProtocolVersion); }),
      G(85, "UMinorType", VT_I4, "УПодтипУстройства", [](D& d) { return Int(d.m_uMinorType); }),
      G(86, "UModel", VT_I4, "УМодельУстройства", [](D& d) { return Int(d.m_uModel); }),
      G(87, "ValueOfFieldInteger", VT_I4, "ЗначениеПоляЦелое", [](D& d) { return Int(d.m_valueOfFieldInteger); }),
      P(87, "ValueOfFieldInteger", VT_I4, "ЗначениеПоляЦелое", [](D& d, const Variant& v) { d.m_valueOfFieldInteger = v.ToInt32(); }),
      G(88, "ValueOfFieldString", VT_BSTR, "ЗначениеПоляСтрока", [](D& d) { return Text(d.m_valueOfFieldString); }),
      P(88, "ValueOfFieldString", VT_BSTR, "ЗначениеПоляСтрока", [](D& d, const Variant& v) { d.m_valueOfFieldString = v.RawString(); }),
      G(89, "FontType", VT_I4, "ТипШрифта", [](D& d) { return Int(d.m_fontType); }),
      P(89, "FontType", VT_I4, "ТипШрифта", [](D& d, const Variant& v) { d.m_fontType = v.ToInt32(); }),
      G(90, "LDBaudrate", VT_I4, "СкоростьОбменаЛУ", [](D& d) { return Int(d.m_devices.LD.BaudRate); }),
      P(90, "LDBaudrate", VT_I4, "СкоростьОбменаЛУ", [](D& d, const Variant& v) { d.m_devices.LD.BaudRate = v.ToInt32(); }),
      G(91, "LDComNumber", VT_I4, "COMпортЛУ", [](D& d) { return Int(d.m_devices.LD.ComNumber); }),
      P(91, "LDComNumber", VT_I4, "COMпортЛУ", [](D& d, const Variant& v) { d.m_devices.LD.ComNumber = v.ToInt32(); }),
      G(92, "LDCount", VT_I4, "КоличествоЛУ", [](D& d) { return Int(d.m_devices.Count()); }),
      G(93, "LDIndex", VT_I4, "ИндексЛУ", [](D& d) { return Int(d.m_devices.LDIndex); }),
      P(93, "LDIndex", VT_I4, "ИндексЛУ", [](D& d, const Variant& v) { d.m_devices.LDIndex = v.ToInt32(); }),
      G(94, "LDName", VT_BSTR, "ИмяЛУ", [](D& d) { return Text(d.m_devices.LDName); }),
      P(94, "LDName", VT_BSTR, "ИмяЛУ", [](D& d, const Variant& v) { d.m_devices.LDName = v.RawString(); }),
      G(95, "LDNumber", VT_I4, "НомерЛУ", [](D& d) { return Int(d.m_devices.LDNumber); }),
      P(95, "LDNumber", VT_I4, "НомерЛУ", [](D& d, const Variant& v) { d.m_devices.LDNumber = v.ToInt32(); }),
      G(96, "FileVersionMS", VT_I4, "", [](D&) { return Int(VARN_VERSION_MAJOR); }),
      G(97, "FileVersionLS", VT_I4, "", [](D&) { return Int(VARN_VERSION_MINOR); }),
      G(98, "ServerVersion", VT_BSTR, "ВерсияСервера", [](D& d) { return Text(d.ServerVersion()); }),
      G(99, "LDComputerName", VT_BSTR, "ИмяКомпьютераЛУ", [](D& d) { return Text(d.m_devices.LD.ComputerName); }),
      P(99, "LDComputerName", VT_BSTR, "ИмяКомпьютераЛУ", [](D& d, const Variant& v) { d.m_devices.LD.ComputerName = v.RawString(); }),
      G(100, "LDTimeout", VT_I4, "ТаймаутЛУ", [](D& d) { return Int(d.m_devices.LD.Timeout); }),
      P(100, "LDTimeout", VT_I4, "ТаймаутЛУ", [](D& d, const Variant& v) { d.m_devices.LD.Timeout = v.ToInt32(); }),
      G(101, "ComputerName", VT_BSTR, "ИмяКомпьютера", [](D& d) { return Text(d.m_settings.ComputerName); }),
      P(101, "ComputerName", VT_BSTR, "ИмяКомпьютера", [](D& d, const Variant& v) { d.m_settings.ComputerName = v.RawString(); }),
      G(102, "ServerConnected", VT_BOOL, "СерверПодключен", [](D& d) { return Variant(d.IsServerConnected()); }),
      G(103, "PortLocked", VT_BOOL, "ПортЗаблокирован", [](D& d) { return Variant(d.PortLocked()); }),
      G(104, "RunningPeriod", VT_I4, "ПериодПрогона", [](D& d) { return Int(d.m_runningPeriod); }),
      P(104, "RunningPeriod", VT_I4, "ПериодПрогона", [](D& d, const Variant& v) { d.m_runningPeriod = v.ToInt32(); }),
      G(105, "TransferBytes", VT_BSTR, "ПосылаемыеБайты", [](D& d) { return Text(Bytes(d.m_transferBytes)); }),
      P(105, "TransferBytes", VT_BSTR, "ПосылаемыеБайты", [](D& d, const Variant& v) { d.m_transferBytes = Utf16ToCp1251(v.RawString()); }),
      G(106, "PowerSourceVoltage", VT_R8, "НапряжениеИсточникаПитания", [](D& d) { return Variant(d.PowerSourceVoltage()); }),
      G(107, "PrintWidth", VT_I4, "ШиринаПечати", [](D& d) { return Int(d.m_printWidth); }),
      G(108, "CharWidth", VT_I4, "ШиринаСимвола", [](D& d) { return Int(d.m_charWidth); }),
      G(109, "CharHeight", VT_I4, "ВысотаСимвола", [](D& d) { return Int(d.m_charHeight); }),
      G(110, "FontCount", VT_I4, "КоличествоШрифтов", [](D& d) { return Int(d.m_fontCount); }),
      G(111, "ConnectionType", VT_I4, "ТипПодключения", [](D& d) { return Int(d.m_settings.ConnectionType); }),
      P(111, "ConnectionType", VT_I4, "ТипПодключения", [](D& d, const Variant& v) { d.SetConnectionType(v.ToInt32()); }),
      G(112, "LDConnectionType", VT_I4, "ТипПодключенияЛУ", [](D& d) { return Int(d.m_devices.LD.ConnectionType); }),
      P(112, "LDConnectionType", VT_I4, "ТипПодключенияЛУ", [](D& d, const Variant& v) { d.m_devices.LD.ConnectionType = v.ToInt32(); }),
      G(113, "TCPPort", VT_I4, "ПортTCP", [](D& d) { return Int(d.m_settings.TCPPort); }),
      P(113, "TCPPort", VT_I4, "ПортTCP", [](D& d, const Variant& v) { d.SetTCPPort(v.ToInt32()); }),
      G(114, "LDTCPPort", VT_I4, "ПортTCPЛУ", [](D& d) { return Int(d.m_devices.LD.TCPPort); }),
      P(114, "LDTCPPort", VT_I4, "ПортTCPЛУ", [](D& d, const Variant& v) { d.m_devices.LD.TCPPort = v.ToInt32(); }),
      G(115, "IPAddress", VT_BSTR, "IPАдрес", [](D& d) { return Text(d.m_settings.IPAddress); }),
      P(115, "IPAddress", VT_BSTR, "IPАдрес", [](D& d, const Variant& v) { d.m_settings.IPAddress = v.RawString(); }),
      G(116, "LDIPAddress", VT_BSTR, "IPАдресЛУ", [](D& d) { return Text(d.m_devices.LD.IPAddress); }),
      P(116, "LDIPAddress", VT_BSTR, "IPАдресЛУ", [](D& d, const Variant& v) { d.m_devices.LD.IPAddress = v.RawString(); }),
      G(117, "UseIPAddress", VT_BOOL, "ИспользоватьIPАдрес", [](D& d) { return Variant(d.m_settings.UseIPAddress); }),
      P(117, "UseIPAddress", VT_BOOL, "ИспользоватьIPАдрес", [](D& d, const Variant& v) { d.m_settings.UseIPAddress = v.ToBool(); }),
      G(118, "LDUseIPAddress", VT_BOOL, "ИспользоватьIPАдресЛУ", [](D& d) { return Variant(d.m_devices.LD.UseIPAddress); }),
      P(118, "LDUseIPAddress", VT_BOOL, "ИспользоватьIPАдресЛУ", [](D& d, const Variant& v) { d.m_devices.LD.UseIPAddress = v.ToBool(); }),
      M(119, "SaveLDParams", "СохранитьЛУ", &D::SaveLDParams),
      M(120, "ReadTable2", "ПрочитатьТаблицу2", &D::ReadTable2),
      M(121, "WriteTable2", "ЗаписатьТаблицу2", &D::WriteTable2),
      MF(122, "LoadBitmap", "ЗагрузкаКартинки", &D::LoadBitmap),
      MF(123, "LoadBitmapEx", "РасширеннаяЗагрузкаКартинки", &D::LoadBitmapEx),
      G(124, "FileVersion", VT_BSTR, "ВерсияДрайвера", [](D&) { return Text(U16(FileVersionText())); }),
      G(125, "LogFileName", VT_BSTR, "ФайлЛога", [](D& d) { return Text(U16(d.m_log.FileName())); }),
      P(125, "LogFileName", VT_BSTR, "ФайлЛога", [](D& d, const Variant& v) { d.m_log.SetFileName(Utf16ToUtf8(v.RawString())); }),
      G(126, "LogEnabled", VT_BOOL, "ЛогВключен", [](D& d) { return Variant(d.m_log.Enabled()); }),
      P(126, "LogEnabled", VT_BOOL, "ЛогВключен", [](D& d, const Variant& v) { d.m_log.SetEnabled(v.ToBool()); }),
      G(127, "FileName", VT_BSTR, "ИмяФайла", [](D& d) { return Text(d.m_fileName); }),
      P(127, "FileName", VT_BSTR, "ИмяФайла", [](D& d, const Variant& v) { d.m_fileName = v.RawString(); }),
      M(128, "LoadBMP", "ЗагрузитьBMP", &D::LoadBMP),
      M(129, "SaveParams", "СохранитьПараметры", &D::SaveParams),
  }};
  // clang-format on
  return table;
}

}  // namespace varn
