// TVarnDrv: the driver's one automation object. A caller sets properties,
// calls a method without arguments and reads ResultCode,
// ResultCodeDescription and the answer properties:
//
//   DispatchPtr drv = CreateObject(u"VarnDrv.VarnDrv");
//   PutProperty(*drv, u"StringForPrinting", Variant(u"ИТОГ"));
//   int32_t rc = CallMethod(*drv, u"PrintString").ToInt32();
//
// Every device command builds a payload (code, operator password,
// parameters); the engine frames it, hands it to the port server's SendData
// and decodes the answer into properties. The object holds no lock and
// starts no thread: calls run on the caller's thread and block during the
// exchange. Failures are EDriverError inside and become ResultCode here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "driver/base/devices.h"
#include "driver/base/log_file.h"
#include "platform/automation/dispatch.h"
#include "platform/errors.h"

namespace varn {

class IServerConnection;
class IServerConnector;
class IServerLink;

// The driver's own result codes (rc::kWrongLength, rc::kRangeError,
// rc::kConnectionError) are in the one table with the rest (platform/errors.h).

inline constexpr const char* kVarnDrvClsid = "{4D959331-0703-402F-95D8-D3BE00EEF8BA}";
inline constexpr const char* kVarnDrvProgId = "VarnDrv.VarnDrv";
// The dispatch interfaces, each adding members with DISPIDs after the last.
inline constexpr const char* kIVarnDrvIid = "{E13BB866-DD3F-481E-9092-40C533503844}";   // 1..124
inline constexpr const char* kIVarnDrv2Iid = "{0FA5E5B9-8B9E-410A-BD9D-825E2F734FA8}";  // 125..126
inline constexpr const char* kIVarnDrv3Iid = "{2DFBF0B4-D23A-4632-BB00-3885F1CBED1F}";  // 127..128
inline constexpr const char* kIVarnDrv4Iid = "{7162EE36-6DE2-445D-BA92-085BC6213996}";  // 129
inline constexpr const char* kDriverParamKey = "SOFTWARE\\Kvelta\\Варн\\Драйвер\\Param";

// The library with the driver's windows, beside the driver's own.
inline constexpr const char* kWindowLibraryName = "libVarnDrvGui.so";

// Failures inside are exceptions (EDriverError with its code, or any other);
// the member table's wrappers are the one place where a method's failure
// becomes ResultCode and ResultCodeDescription (HandleError), so every
// method below may simply raise.
class TVarnDrv : public DispatchObject<TVarnDrv> {
 public:
  TVarnDrv();
  // The port server reached through `connector` (tests script one).
  explicit TVarnDrv(std::unique_ptr<IServerConnector> connector);
  ~TVarnDrv() override;
  static const MemberTable<TVarnDrv>& Members();

  // The outer form of a member: its log name on entry, name and value on exit.
  Variant Logged(const std::string& name, const std::function<Variant()>& work);
  // A method: logged as `name` (or not at all when null), its failure made
  // the result. Members and methods called from inside the driver run so.
  int32_t RunMethod(const char* name, const std::function<int32_t()>& work);
  int32_t RunMethod(const char* name, int32_t (TVarnDrv::*method)());
  // A setter's failure (EDriverError) made the result; the call succeeds.
  void RunSetter(const std::function<void()>& work);

 private:
  // --- results ---------------------------------------------------------------
  int32_t ClearResult();
  int32_t RangeError();
  int32_t RangeError(std::string text);               // the range error with its own text
  int32_t SetResult(int32_t code, std::string text);  // UTF-8 text
  // A failure as a result: EDriverError keeps its code; a failure to reach
  // the server, and any other failure while there is no server connection,
  // gives -16; any other failure -8. Sets ResultCode and returns it.
  int32_t HandleError(std::exception_ptr failure);
  std::pair<int32_t, std::string> ResultOf(std::exception_ptr failure) const;

  // --- engine ------------------------------------------------------------------
  int32_t SendCommand(const std::string& payload);
  int32_t ExecuteFrame(const std::string& frame);
  // SendCommand (a payload to frame) and ExecuteFrame (a frame as given).
  int32_t Exchange(const std::string* payload, std::string frame);
  int32_t ParseAnswer(const std::string& answer);
  // `code`: the command named in the log block (none for a frame too short).
  void LogCommand(int32_t result, std::optional<uint8_t> code, const std::string& frame,
                  const std::string& output, const std::string& resultText);

  // --- server connection --------------------------------------------------------
  bool IsServerConnected();  // logs itself as "IsServerConnected"
  std::shared_ptr<IServerLink> GetServer();
  std::shared_ptr<IServerLink> CreateServer();
  void DropServer();  // ServerDisconnect's part: no result, no log
  void OpenServerPort();
  void CheckServerResult(IServerLink& server, int32_t code);
  int32_t SetServerResult(IServerLink& server, int32_t code);

  int32_t Connect();
  int32_t Disconnect();
  int32_t ServerConnect();
  int32_t ServerDisconnect();
  std::u16string ServerVersion();
  int32_t LockPort();
  int32_t UnlockPort();
  bool PortLocked();
  int32_t AdminUnlockPort();
  int32_t AdminUnlockPorts();

  // --- commands ---------------------------------------------------------------
  int32_t GetShortECRStatus();
  int32_t GetECRStatus();
  int32_t PrintWideString();
  int32_t Beep();
  int32_t SetExchangeParam();
  int32_t GetExchangeParam();
  int32_t PrintString();
  int32_t Test();
  int32_t WriteTable();
  int32_t WriteTable2();
  int32_t ReadTable();
  int32_t ReadTable2();
  int32_t InitTable();
  int32_t OpenDrawer();
  int32_t FeedDocument();
  int32_t InterruptTest();
  int32_t GetTableStruct();
  int32_t GetFieldStruct();
  int32_t PrintStringWithFont();
  int32_t LoadLineData();
  int32_t LoadLineDataEx();
  int32_t WideLoadLineData();
  int32_t Draw();
  int32_t DrawEx();
  int32_t PrintBarCode();
  int32_t GetDeviceMetrics();
  int32_t GetFontMetrics();
  int32_t ExchangeBytes();
  // The text fitting of the printing commands (cp1251 bytes).
  std::string FitString(int width, int header);
  int32_t ReadTableValue(bool withStruct);
  int32_t WriteTableValue(bool withStruct);
  bool CheckTableRanges();

  // --- logical devices (driver/base/devices) -----------------------------------
  int32_t AddLD();
  int32_t EnumLD();
  int32_t DeleteLD();
  int32_t GetParamLD();
  int32_t SetParamLD();
  int32_t GetCountLD();
  int32_t GetActiveLD();
  int32_t SetActiveLD();
  int32_t GetFreeLDNumber();  // the number itself; ResultCode stays as it was
  int32_t SaveLDParams();
  // Loaded before the settings, whose "CurrentDevice" becomes LDIndex.
  void LoadLogicalDevices();
  // When the object goes: the list, if something changed it and nothing saved it.
  void SaveLogicalDevicesOnExit() noexcept;

  // --- graphics (driver/base/bitmap) ---------------------------------------------
  // A Windows bitmap file into the device's graphics lines 0 .. h - 1, one
  // load command per row (at most 200 rows by LoadLineData, 1200 by
  // LoadLineDataEx); FirstLineNumber := 1, LastLineNumber := h for Draw.
  int32_t LoadBitmap(const std::u16string& fileName);
  int32_t LoadBitmapEx(const std::u16string& fileName);
  int32_t LoadBMP();  // LoadBitmapEx of FileName, logged as that method
  int32_t LoadFile(const std::u16string& fileName, const char* loadName,
                   int32_t (TVarnDrv::*load)(), int rowLimit);
  int32_t BitmapToLines(const struct TMonoBitmap& bitmap, const char* loadName,
                        int32_t (TVarnDrv::*load)(), int rowLimit);

  // --- settings -------------------------------------------------------------------
  void LoadParams();
  int32_t SaveParams();
  void WriteParams();  // raises on a registry failure
  int32_t ShowProperties();

  // derived properties
  std::u16string ECRSoftVersion() const;
  double ECRSoftDate() const;
  std::u16string ECRModeDescription() const;
  double PowerSourceVoltage() const;

  // setters with rules
  void SetConnectionType(int32_t v);
  void SetTCPPort(int32_t v);
  void SetComNumber(int32_t v);
  void SetBaudRate(int32_t v);

  // --- properties (the member table exposes them) --------------
  int32_t m_resultCode = 0;
  std::string m_resultText;  // UTF-8
  std::string m_ecrInput;    // hex dump
  std::string m_ecrOutput;   // the server's Output text

  TConnectionSettings m_settings;  // the connection settings in force

  bool m_deviceConnected = false;
  bool m_serverPortOpen = false;

  TDevices m_devices;       // the list and the LD properties' buffer
  int32_t m_activeLD = -1;  // the active logical device's number; -1: none

  // parameters
  std::u16string m_stringForPrinting;
  int32_t m_stringQuantity = 0;
  int32_t m_fontType = 0;
  int32_t m_drawerNumber = 0;
  int32_t m_runningPeriod = 0;
  uint8_t m_portNumber = 1;
  int32_t m_tableNumber = 1;
  int32_t m_rowNumber = 1;
  int32_t m_fieldNumber = 1;
  std::u16string m_tableName;
  std::u16string m_fieldName;
  bool m_fieldType = false;
  uint8_t m_fieldSize = 0;
  int32_t m_minValueOfField = 0;
  int32_t m_maxValueOfField = 0;
  int32_t m_valueOfFieldInteger = 0;
  std::u16string m_valueOfFieldString;
  int32_t m_lineNumber = 0;
  std::string m_lineData;  // bytes
  int32_t m_firstLineNumber = 1;
  int32_t m_lastLineNumber = 1;
  std::u16string m_barCode = u"0";
  std::string m_transferBytes;  // bytes

  // answers
  uint8_t m_ecrMode = 0;
  uint16_t m_ecrFlags = 979;
  uint8_t m_softMajor = 0;
  uint8_t m_softMinor = 0;
  uint16_t m_ecrBuild = 0;
  uint8_t m_softDay = 1;
  uint8_t m_softMonth = 10;
  uint8_t m_softYear = 1;
  uint8_t m_logicalNumber = 1;
  uint8_t m_voltageByte = 0;
  uint8_t m_uMajorType = 0;
  uint8_t m_uMinorType = 0;
  uint8_t m_uMajorProtocolVersion = 0;
  uint8_t m_uMinorProtocolVersion = 0;
  uint8_t m_uModel = 0;
  uint8_t m_uCodePage = 0;
  std::u16string m_uDescription;
  uint16_t m_printWidth = 0;
  uint8_t m_charWidth = 0;
  uint8_t m_charHeight = 0;
  uint8_t m_fontCount = 0;

  std::u16string m_fileName;  // the picture file of LoadBMP

  TLogFile m_log;

  std::unique_ptr<IServerConnector> m_connector;
  std::shared_ptr<IServerLink> m_server;            // Server
  std::unique_ptr<IServerConnection> m_connection;  // ServerConnection
  bool m_droppingOnPurpose = false;
};

// Helpers of the command set, shared with tests. BaudRateValue: the rate
// of a baud-rate code, 2400 for a code the device has no rate for.
int32_t BaudRateValue(int32_t code);
std::string FitBytes(std::string bytes, size_t n);
// The bytes an exchange summary lists ("02 | 03 | 11 | 00 | 2A | 38").
std::string SummaryBytes(const std::string& summary);

}  // namespace varn
