// The driver's automation interface as its reference lists it: every member
// with its DISPID, name, kind, automation type and Russian help string, kept
// apart from the driver's own member table.
//
// Meant for a test that walks the driver object's member table against it:
// for each row, the driver must answer GetIDsOfNames(Name) with DispId, and
// its type information must give the same kind (a method; a property with a
// get and, for kReadWrite, a put), the same type (for a method, the type of
// its result `Value`; for a property, the value's type), the same argument
// (only LoadBitmap and LoadBitmapEx take one, the text FileName) and the same
// help string ("" where the member has none); and the driver must have no
// member beyond these rows. The counts below are checked when this file is
// compiled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/automation/variant.h"

namespace varn::test {

enum TMemberKind { kMethod, kReadOnly, kReadWrite };

struct TMemberRow {
  int32_t DispId;
  const char* Interface;  // the interface that adds the member
  const char* Name;
  TMemberKind Kind;
  VARTYPE Type;              // a method's result, a property's value
  const char* ArgumentName;  // "" for no argument
  VARTYPE ArgumentType;      // VT_EMPTY for no argument
  const char* Help;          // UTF-8; "" for none
};

struct TInterfaceRow {
  const char* Name;
  const char* Iid;
  int32_t FirstDispId, LastDispId;
};

inline constexpr TInterfaceRow kDriverInterfaces[] = {
    {"IVarnDrv", "{E13BB866-DD3F-481E-9092-40C533503844}", 1, 124},
    {"IVarnDrv2", "{0FA5E5B9-8B9E-410A-BD9D-825E2F734FA8}", 125, 126},
    {"IVarnDrv3", "{2DFBF0B4-D23A-4632-BB00-3885F1CBED1F}", 127, 128},
    {"IVarnDrv4", "{7162EE36-6DE2-445D-BA92-085BC6213996}", 129, 129},
};
inline constexpr const char* kDriverClassName = "VarnDrv";
inline constexpr const char* kDriverClsid = "{4D959331-0703-402F-95D8-D3BE00EEF8BA}";

inline constexpr TMemberRow kDriverMembers[] = {
    {1, "IVarnDrv", "ShowProperties", kMethod, VT_I4, "", VT_EMPTY, "НастройкаСвойств"},
    {2, "IVarnDrv", "Connect", kMethod, VT_I4, "", VT_EMPTY, "УстановитьСвязь"},
    {3, "IVarnDrv", "Disconnect", kMethod, VT_I4, "", VT_EMPTY, "РазорватьСвязь"},
    {4, "IVarnDrv", "GetShortECRStatus", kMethod, VT_I4, "", VT_EMPTY,
     "ПолучитьКороткийЗапросСостоянияККМ"},
    {5, "IVarnDrv", "GetECRStatus", kMethod, VT_I4, "", VT_EMPTY, "ПолучитьСостояниеККМ"},
    {6, "IVarnDrv", "PrintWideString", kMethod, VT_I4, "", VT_EMPTY, "ПечатьЖирнойСтроки"},
    {7, "IVarnDrv", "Beep", kMethod, VT_I4, "", VT_EMPTY, "Гудок"},
    {8, "IVarnDrv", "SetExchangeParam", kMethod, VT_I4, "", VT_EMPTY, "УстановитьПараметрыОбмена"},
    {9, "IVarnDrv", "GetExchangeParam", kMethod, VT_I4, "", VT_EMPTY, "ПолучитьПараметрыОбмена"},
    {10, "IVarnDrv", "PrintString", kMethod, VT_I4, "", VT_EMPTY, "ПечатьСтроки"},
    {11, "IVarnDrv", "Test", kMethod, VT_I4, "", VT_EMPTY, "ТестовыйПрогон"},
    {12, "IVarnDrv", "WriteTable", kMethod, VT_I4, "", VT_EMPTY, "ЗаписатьТаблицу"},
    {13, "IVarnDrv", "ReadTable", kMethod, VT_I4, "", VT_EMPTY, "ПрочитатьТаблицу"},
    {14, "IVarnDrv", "InitTable", kMethod, VT_I4, "", VT_EMPTY, "ИнициализироватьТаблицы"},
    {15, "IVarnDrv", "OpenDrawer", kMethod, VT_I4, "", VT_EMPTY, "ОткрытьДенежныйЯщик"},
    {16, "IVarnDrv", "FeedDocument", kMethod, VT_I4, "", VT_EMPTY, "ПродвинутьДокумент"},
    {17, "IVarnDrv", "InterruptTest", kMethod, VT_I4, "", VT_EMPTY, "ПрерватьТестовыйПрогон"},
    {18, "IVarnDrv", "GetTableStruct", kMethod, VT_I4, "", VT_EMPTY, "ПолучитьСтруктуруТаблицы"},
    {19, "IVarnDrv", "GetFieldStruct", kMethod, VT_I4, "", VT_EMPTY, "ПолучитьСтруктуруПоля"},
    {20, "IVarnDrv", "PrintStringWithFont", kMethod, VT_I4, "", VT_EMPTY,
     "ПечатьСтрокиДаннымШрифтом"},
    {21, "IVarnDrv", "LoadLineData", kMethod, VT_I4, "", VT_EMPTY, "ЗагрузкаГрафики"},
    {22, "IVarnDrv", "LoadLineDataEx", kMethod, VT_I4, "", VT_EMPTY, "РасширеннаяЗагрузкаГрафики"},
    {23, "IVarnDrv", "WideLoadLineData", kMethod, VT_I4, "", VT_EMPTY,
     "ЗагрузкаГрафикиОднойКомандой"},
    {24, "IVarnDrv", "Draw", kMethod, VT_I4, "", VT_EMPTY, "ПечатьКартинки"},
    {25, "IVarnDrv", "DrawEx", kMethod, VT_I4, "", VT_EMPTY, "РасширеннаяПечатьКартинки"},
    {26, "IVarnDrv", "PrintBarCode", kMethod, VT_I4, "", VT_EMPTY, "ПечатьШтрихКода"},
    {27, "IVarnDrv", "GetDeviceMetrics", kMethod, VT_I4, "", VT_EMPTY,
     "ПолучитьПараметрыУстройства"},
    {28, "IVarnDrv", "GetFontMetrics", kMethod, VT_I4, "", VT_EMPTY, "ПолучитьПараметрыШрифта"},
    {29, "IVarnDrv", "ServerConnect", kMethod, VT_I4, "", VT_EMPTY, "СерверПодключиться"},
    {30, "IVarnDrv", "ServerDisconnect", kMethod, VT_I4, "", VT_EMPTY, "СерверОтключиться"},
    {31, "IVarnDrv", "LockPort", kMethod, VT_I4, "", VT_EMPTY, "БлокироватьПорт"},
    {32, "IVarnDrv", "UnlockPort", kMethod, VT_I4, "", VT_EMPTY, "РазблокироватьПорт"},
    {33, "IVarnDrv", "AdminUnlockPort", kMethod, VT_I4, "", VT_EMPTY, "АдминРазблокироватьПорт"},
    {34, "IVarnDrv", "AdminUnlockPorts", kMethod, VT_I4, "", VT_EMPTY, "АдминРазблокироватьПорты"},
    {35, "IVarnDrv", "ExchangeBytes", kMethod, VT_I4, "", VT_EMPTY, "ПослатьБайты"},
    {36, "IVarnDrv", "AddLD", kMethod, VT_I4, "", VT_EMPTY, "ДобавитьЛУ"},
    {37, "IVarnDrv", "EnumLD", kMethod, VT_I4, "", VT_EMPTY, "ПеречислитьЛУ"},
    {38, "IVarnDrv", "DeleteLD", kMethod, VT_I4, "", VT_EMPTY, "УдалитьЛУ"},
    {39, "IVarnDrv", "GetParamLD", kMethod, VT_I4, "", VT_EMPTY, "ПолучитьПараметрыЛУ"},
    {40, "IVarnDrv", "SetParamLD", kMethod, VT_I4, "", VT_EMPTY, "УстановитьПараметрыЛУ"},
    {41, "IVarnDrv", "GetCountLD", kMethod, VT_I4, "", VT_EMPTY, "ПолучитьКоличествоЛУ"},
    {42, "IVarnDrv", "GetActiveLD", kMethod, VT_I4, "", VT_EMPTY, "ПолучитьАктивноеЛУ"},
    {43, "IVarnDrv", "SetActiveLD", kMethod, VT_I4, "", VT_EMPTY, "УстановитьАктивноеЛУ"},
    {44, "IVarnDrv", "GetFreeLDNumber", kMethod, VT_I4, "", VT_EMPTY,
     "Получить свободный номер ЛУ"},
    {45, "IVarnDrv", "ECRInput", kReadOnly, VT_BSTR, "", VT_EMPTY, "ВводВККМ"},
    {46, "IVarnDrv", "ECROutput", kReadOnly, VT_BSTR, "", VT_EMPTY, "ВыводИзККМ"},
    {47, "IVarnDrv", "BarCode", kReadWrite, VT_BSTR, "", VT_EMPTY, "ШтрихКод"},
    {48, "IVarnDrv", "BaudRate", kReadWrite, VT_I4, "", VT_EMPTY, "СкоростьОбмена"},
    {49, "IVarnDrv", "ComNumber", kReadWrite, VT_I4, "", VT_EMPTY, "НомерCOMпорта"},
    {50, "IVarnDrv", "DrawerNumber", kReadWrite, VT_I4, "", VT_EMPTY, "НомерДенежногоЯщика"},
    {51, "IVarnDrv", "ECRBuild", kReadOnly, VT_I4, "", VT_EMPTY, "СборкаККМ"},
    {52, "IVarnDrv", "ECRFlags", kReadOnly, VT_I4, "", VT_EMPTY, "ФлагиККМ"},
    {53, "IVarnDrv", "ECRMode", kReadOnly, VT_I4, "", VT_EMPTY, "РежимККМ"},
    {54, "IVarnDrv", "ECRModeDescription", kReadOnly, VT_BSTR, "", VT_EMPTY, "ОписаниеРежимаККМ"},
    {55, "IVarnDrv", "ECRSoftDate", kReadOnly, VT_DATE, "", VT_EMPTY, "ДатаПОККМ"},
    {56, "IVarnDrv", "ECRSoftVersion", kReadOnly, VT_BSTR, "", VT_EMPTY, "ВерсияПОККМ"},
    {57, "IVarnDrv", "FieldName", kReadOnly, VT_BSTR, "", VT_EMPTY, "НазваниеПоля"},
    {58, "IVarnDrv", "FieldNumber", kReadWrite, VT_I4, "", VT_EMPTY, "НомерПоля"},
    {59, "IVarnDrv", "FieldSize", kReadWrite, VT_I4, "", VT_EMPTY, "РазмерПоля"},
    {60, "IVarnDrv", "FieldType", kReadWrite, VT_BOOL, "", VT_EMPTY, "ТипПоля"},
    {61, "IVarnDrv", "FirstLineNumber", kReadWrite, VT_I4, "", VT_EMPTY, "НомерПервойЛинии"},
    {62, "IVarnDrv", "IsDrawerOpen", kReadOnly, VT_BOOL, "", VT_EMPTY, "ДенежныйЯщикОткрыт"},
    {63, "IVarnDrv", "LastLineNumber", kReadWrite, VT_I4, "", VT_EMPTY, "НомерПоследнейЛинии"},
    {64, "IVarnDrv", "LineData", kReadWrite, VT_BSTR, "", VT_EMPTY, "ГрафическаяИнформация"},
    {65, "IVarnDrv", "LineNumber", kReadWrite, VT_I4, "", VT_EMPTY, "НомерЛинии"},
    {66, "IVarnDrv", "LogicalNumber", kReadOnly, VT_I4, "", VT_EMPTY, "НомерВЗале"},
    {67, "IVarnDrv", "MAXValueOfField", kReadOnly, VT_I4, "", VT_EMPTY, "МаксимальноеЗначениеПоля"},
    {68, "IVarnDrv", "MINValueOfField", kReadOnly, VT_I4, "", VT_EMPTY, "МинимальноеЗначениеПоля"},
    {69, "IVarnDrv", "PortNumber", kReadWrite, VT_I4, "", VT_EMPTY, "НомерПорта"},
    {70, "IVarnDrv", "ReceiptRibbonLever", kReadOnly, VT_BOOL, "", VT_EMPTY,
     "РычагТермоголовкиЧекЛенты"},
    {71, "IVarnDrv", "ReceiptRibbonOpticalSensor", kReadOnly, VT_BOOL, "", VT_EMPTY,
     "ОптичДатчикЧековойЛенты"},
    {72, "IVarnDrv", "ResultCode", kReadOnly, VT_I4, "", VT_EMPTY, "Результат"},
    {73, "IVarnDrv", "ResultCodeDescription", kReadOnly, VT_BSTR, "", VT_EMPTY,
     "ОписаниеРезультата"},
    {74, "IVarnDrv", "RowNumber", kReadWrite, VT_I4, "", VT_EMPTY, "НомерРяда"},
    {75, "IVarnDrv", "StringForPrinting", kReadWrite, VT_BSTR, "", VT_EMPTY, "СтрокаДляПечати"},
    {76, "IVarnDrv", "StringQuantity", kReadWrite, VT_I4, "", VT_EMPTY, "КоличествоСтрок"},
    {77, "IVarnDrv", "TableName", kReadOnly, VT_BSTR, "", VT_EMPTY, "НазваниеТаблицы"},
    {78, "IVarnDrv", "TableNumber", kReadWrite, VT_I4, "", VT_EMPTY, "НомерТаблицы"},
    {79, "IVarnDrv", "Timeout", kReadWrite, VT_I4, "", VT_EMPTY, "ТаймаутПриемаБайта"},
    {80, "IVarnDrv", "UCodePage", kReadOnly, VT_I4, "", VT_EMPTY, "УКодоваяСтраница"},
    {81, "IVarnDrv", "UDescription", kReadOnly, VT_BSTR, "", VT_EMPTY, "УОписаниеУстройства"},
    {82, "IVarnDrv", "UMajorProtocolVersion", kReadOnly, VT_I4, "", VT_EMPTY, "УВерсияПротокола"},
    {83, "IVarnDrv", "UMajorType", kReadOnly, VT_I4, "", VT_EMPTY, "УТипУстройства"},
    {84, "IVarnDrv", "UMinorProtocolVersion", kReadOnly, VT_I4, "", VT_EMPTY,
     "УПодверсияПротокола"},
    {85, "IVarnDrv", "UMinorType", kReadOnly, VT_I4, "", VT_EMPTY, "УПодтипУстройства"},
    {86, "IVarnDrv", "UModel", kReadOnly, VT_I4, "", VT_EMPTY, "УМодельУстройства"},
    {87, "IVarnDrv", "ValueOfFieldInteger", kReadWrite, VT_I4, "", VT_EMPTY, "ЗначениеПоляЦелое"},
    {88, "IVarnDrv", "ValueOfFieldString", kReadWrite, VT_BSTR, "", VT_EMPTY, "ЗначениеПоляСтрока"},
    {89, "IVarnDrv", "FontType", kReadWrite, VT_I4, "", VT_EMPTY, "ТипШрифта"},
    {90, "IVarnDrv", "LDBaudrate", kReadWrite, VT_I4, "", VT_EMPTY, "СкоростьОбменаЛУ"},
    {91, "IVarnDrv", "LDComNumber", kReadWrite, VT_I4, "", VT_EMPTY, "COMпортЛУ"},
    {92, "IVarnDrv", "LDCount", kReadOnly, VT_I4, "", VT_EMPTY, "КоличествоЛУ"},
    {93, "IVarnDrv", "LDIndex", kReadWrite, VT_I4, "", VT_EMPTY, "ИндексЛУ"},
    {94, "IVarnDrv", "LDName", kReadWrite, VT_BSTR, "", VT_EMPTY, "ИмяЛУ"},
    {95, "IVarnDrv", "LDNumber", kReadWrite, VT_I4, "", VT_EMPTY, "НомерЛУ"},
    {96, "IVarnDrv", "FileVersionMS", kReadOnly, VT_I4, "", VT_EMPTY, ""},
    {97, "IVarnDrv", "FileVersionLS", kReadOnly, VT_I4, "", VT_EMPTY, ""},
    {98, "IVarnDrv", "ServerVersion", kReadOnly, VT_BSTR, "", VT_EMPTY, "ВерсияСервера"},
    {99, "IVarnDrv", "LDComputerName", kReadWrite, VT_BSTR, "", VT_EMPTY, "ИмяКомпьютераЛУ"},
    {100, "IVarnDrv", "LDTimeout", kReadWrite, VT_I4, "", VT_EMPTY, "ТаймаутЛУ"},
    {101, "IVarnDrv", "ComputerName", kReadWrite, VT_BSTR, "", VT_EMPTY, "ИмяКомпьютера"},
    {102, "IVarnDrv", "ServerConnected", kReadOnly, VT_BOOL, "", VT_EMPTY, "СерверПодключен"},
    {103, "IVarnDrv", "PortLocked", kReadOnly, VT_BOOL, "", VT_EMPTY, "ПортЗаблокирован"},
    {104, "IVarnDrv", "RunningPeriod", kReadWrite, VT_I4, "", VT_EMPTY, "ПериодПрогона"},
    {105, "IVarnDrv", "TransferBytes", kReadWrite, VT_BSTR, "", VT_EMPTY, "ПосылаемыеБайты"},
    {106, "IVarnDrv", "PowerSourceVoltage", kReadOnly, VT_R8, "", VT_EMPTY,
     "НапряжениеИсточникаПитания"},
    {107, "IVarnDrv", "PrintWidth", kReadOnly, VT_I4, "", VT_EMPTY, "ШиринаПечати"},
    {108, "IVarnDrv", "CharWidth", kReadOnly, VT_I4, "", VT_EMPTY, "ШиринаСимвола"},
    {109, "IVarnDrv", "CharHeight", kReadOnly, VT_I4, "", VT_EMPTY, "ВысотаСимвола"},
    {110, "IVarnDrv", "FontCount", kReadOnly, VT_I4, "", VT_EMPTY, "КоличествоШрифтов"},
    {111, "IVarnDrv", "ConnectionType", kReadWrite, VT_I4, "", VT_EMPTY, "ТипПодключения"},
    {112, "IVarnDrv", "LDConnectionType", kReadWrite, VT_I4, "", VT_EMPTY, "ТипПодключенияЛУ"},
    {113, "IVarnDrv", "TCPPort", kReadWrite, VT_I4, "", VT_EMPTY, "ПортTCP"},
    {114, "IVarnDrv", "LDTCPPort", kReadWrite, VT_I4, "", VT_EMPTY, "ПортTCPЛУ"},
    {115, "IVarnDrv", "IPAddress", kReadWrite, VT_BSTR, "", VT_EMPTY, "IPАдрес"},
    {116, "IVarnDrv", "LDIPAddress", kReadWrite, VT_BSTR, "", VT_EMPTY, "IPАдресЛУ"},
    {117, "IVarnDrv", "UseIPAddress", kReadWrite, VT_BOOL, "", VT_EMPTY, "ИспользоватьIPАдрес"},
    {118, "IVarnDrv", "LDUseIPAddress", kReadWrite, VT_BOOL, "", VT_EMPTY, "ИспользоватьIPАдресЛУ"},
    {119, "IVarnDrv", "SaveLDParams", kMethod, VT_I4, "", VT_EMPTY, "СохранитьЛУ"},
    {120, "IVarnDrv", "ReadTable2", kMethod, VT_I4, "", VT_EMPTY, "ПрочитатьТаблицу2"},
    {121, "IVarnDrv", "WriteTable2", kMethod, VT_I4, "", VT_EMPTY, "ЗаписатьТаблицу2"},
    {122, "IVarnDrv", "LoadBitmap", kMethod, VT_I4, "FileName", VT_BSTR, "ЗагрузкаКартинки"},
    {123, "IVarnDrv", "LoadBitmapEx", kMethod, VT_I4, "FileName", VT_BSTR,
     "РасширеннаяЗагрузкаКартинки"},
    {124, "IVarnDrv", "FileVersion", kReadOnly, VT_BSTR, "", VT_EMPTY, "ВерсияДрайвера"},
    {125, "IVarnDrv2", "LogFileName", kReadWrite, VT_BSTR, "", VT_EMPTY, "ФайлЛога"},
    {126, "IVarnDrv2", "LogEnabled", kReadWrite, VT_BOOL, "", VT_EMPTY, "ЛогВключен"},
    {127, "IVarnDrv3", "FileName", kReadWrite, VT_BSTR, "", VT_EMPTY, "ИмяФайла"},
    {128, "IVarnDrv3", "LoadBMP", kMethod, VT_I4, "", VT_EMPTY, "ЗагрузитьBMP"},
    {129, "IVarnDrv4", "SaveParams", kMethod, VT_I4, "", VT_EMPTY, "СохранитьПараметры"},
};

constexpr size_t CountMembers(TMemberKind kind) {
  size_t n = 0;
  for (const TMemberRow& row : kDriverMembers) n += row.Kind == kind;
  return n;
}

constexpr bool DispIdsRunFromOneInOrder() {
  int32_t next = 1;
  for (const TMemberRow& row : kDriverMembers)
    if (row.DispId != next++) return false;
  return true;
}

constexpr bool EachRowInItsInterface() {
  for (const TMemberRow& row : kDriverMembers) {
    bool found = false;
    for (const TInterfaceRow& i : kDriverInterfaces)
      found |= std::string_view(i.Name) == row.Interface && row.DispId >= i.FirstDispId &&
               row.DispId <= i.LastDispId;
    if (!found) return false;
  }
  return true;
}

// 51 methods and 78 properties. An adapter that also lists the seven members
// of IUnknown and IDispatch as methods counts 58 methods.
static_assert(std::size(kDriverMembers) == 129);
static_assert(CountMembers(kMethod) == 51);
static_assert(CountMembers(kReadOnly) + CountMembers(kReadWrite) == 78);
static_assert(CountMembers(kReadWrite) == 41);
static_assert(DispIdsRunFromOneInOrder());
static_assert(EachRowInItsInterface());

}  // namespace varn::test
