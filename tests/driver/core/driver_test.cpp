// The driver end to end: driver object -> VarnSrv started on demand over the
// Unix socket (or reached over TCP) -> pty -> the device emulator.
#include <thread>

#include "driver/core/errors.h"
#include "driver/core/server_link.h"
#include "platform/process.h"
#include "platform/process_info.h"
#include "platform/socket.h"
#include "platform/testing/child_process.h"
#include "protocol/exchange.h"
#include "tests/driver/core/driver_fixture.h"
#include "tests/support/port_server.h"

namespace varn::test {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

using Result = std::pair<int32_t, std::string>;
const Result kOk{0, "Ошибок нет."};
const Result kRange{-9, "Параметр вне диапазона."};

TEST_F(DriverTest, PrintsAReceiptAndDecodesTheAnswers) {
  StartDevice();
  registry.WriteDword("SOFTWARE\\Kvelta\\Варн\\Сервер", "LogOn",
                      1);  // the line, as the server saw it
  Driver drv;
  EXPECT_EQ(drv.Call(u"GetECRStatus"), 0);
  EXPECT_EQ(drv.Result(), kOk);
  // Started on demand, introduced, port opened: all within the first command.
  EXPECT_TRUE(drv.Get(u"ServerConnected").ToBool());
  EXPECT_EQ(drv.Text(u"ECRInput"), "02 05 11 97 1C 00 00 9F");
  EXPECT_EQ(drv.Text(u"ECRSoftVersion"), "1.2");
  EXPECT_EQ(drv.Int(u"ECRBuild"), 2047);
  EXPECT_EQ(drv.Get(u"ECRSoftDate").Type(), VT_DATE);
  EXPECT_DOUBLE_EQ(drv.Get(u"ECRSoftDate").ToDouble(), 45091.0);  // 14.06.2023
  EXPECT_EQ(drv.Int(u"ECRMode"), 0);
  EXPECT_EQ(drv.Text(u"ECRModeDescription"), "Рабочий режим");
  EXPECT_THAT(drv.Text(u"ECROutput"), StartsWith("02 | "));

  drv.Set(u"StringForPrinting", "Чек №1");
  EXPECT_EQ(drv.Call(u"PrintString"), 0);
  // Code, password, 0x02, the text in cp1251, zeros up to 40 text bytes.
  const std::string printed = drv.Text(u"ECRInput");
  EXPECT_THAT(printed, StartsWith("02 2E 17 97 1C 00 00 02 D7 E5 EA 20 B9 31 00"));
  EXPECT_EQ(printed.size(), (2 + 46 + 1) * 3 - 1u);
  // The server put exactly these bytes on the line.
  EXPECT_THAT(ReadFileOrEmpty(env.LogDir() + "/VarnSrv.log"), HasSubstr(" -> " + printed + "\r\n"));
  drv.Set(u"StringForPrinting", "ИТОГ");
  EXPECT_EQ(drv.Call(u"PrintWideString"), 0);
  drv.Set(u"FontType", Variant(3));
  drv.Set(u"StringForPrinting", "высокий");
  EXPECT_EQ(drv.Call(u"PrintStringWithFont"), 0);
  drv.Set(u"BarCode", "123");
  EXPECT_EQ(drv.Call(u"PrintBarCode"), 0);
  EXPECT_THAT(drv.Text(u"ECRInput"), HasSubstr("C2 97 1C 00 00 7B 00 00 00 00"));
  drv.Set(u"StringQuantity", Variant(2));
  EXPECT_EQ(drv.Call(u"FeedDocument"), 0);
  EXPECT_THAT(Paper(), HasSubstr("Чек №1\n[bold] ИТОГ\n[font 3] высокий\n[barcode] 123\n\n\n"));

  EXPECT_EQ(drv.Call(u"GetDeviceMetrics"), 0);
  EXPECT_EQ(drv.Text(u"ECRInput"), "02 01 FC FD");
  EXPECT_EQ(drv.Int(u"UModel"), 6);
  EXPECT_EQ(drv.Int(u"UCodePage"), 1);
  EXPECT_FALSE(drv.Text(u"UDescription").empty());
  drv.Set(u"FontType", Variant(1));
  EXPECT_EQ(drv.Call(u"GetFontMetrics"), 0);
  EXPECT_EQ(drv.Int(u"PrintWidth"), 320);
  EXPECT_GT(drv.Int(u"CharWidth"), 0);
  EXPECT_EQ(drv.Int(u"FontCount"), 3);
  EXPECT_EQ(drv.Call(u"GetShortECRStatus"), 0);
  EXPECT_DOUBLE_EQ(drv.Get(u"PowerSourceVoltage").ToDouble(), 24.0);

  drv.Set(u"Timeout", Variant(1000));
  drv.Set(u"PortNumber", Variant(0));
  EXPECT_EQ(drv.Call(u"SetExchangeParam"), 0);
  EXPECT_EQ(drv.Int(u"Timeout"), 1050);  // what the code 156 means to the device
  EXPECT_THAT(drv.Text(u"ECRInput"), HasSubstr("14 97 1C 00 00 00 01 9C"));
  EXPECT_EQ(drv.Call(u"GetExchangeParam"), 0);
  EXPECT_EQ(drv.Int(u"Timeout"), 1050);
}

TEST_F(DriverTest, RangeChecksSendNothingAndLongTextsFollowTheModel) {
  StartDevice();
  Driver drv;
  drv.Set(u"PortNumber", Variant(33));
  EXPECT_EQ(drv.Call(u"GetExchangeParam"), -9);
  EXPECT_EQ(drv.Result(), kRange);
  EXPECT_EQ(drv.Text(u"ECRInput"), "");
  EXPECT_FALSE(drv.Get(u"ServerConnected").ToBool());  // nothing was sent, nobody was asked
  drv.Set(u"FontType", Variant(-1));
  EXPECT_EQ(drv.Call(u"GetFontMetrics"), -9);
  EXPECT_EQ(drv.Text(u"ResultCodeDescription"), "Неверное значение параметра FontType (-1).");
  EXPECT_EQ(drv.Call(u"PrintStringWithFont"), -9);
  drv.Set(u"BarCode", "12a");
  EXPECT_EQ(drv.Call(u"PrintBarCode"), -9);
  drv.Set(u"RunningPeriod", Variant(256));
  EXPECT_EQ(drv.Call(u"Test"), -9);
  drv.Set(u"LineNumber", Variant(65536));
  EXPECT_EQ(drv.Call(u"LoadLineDataEx"), -9);
  drv.Set(u"ConnectionType", Variant(3));
  EXPECT_EQ(drv.Result(),
            Result(-9, "Неверное значение. Допустимые значения поля ConnectionType: 0..2"));
  EXPECT_EQ(drv.Int(u"ConnectionType"), 0);
  drv.Set(u"TCPPort", Variant(0));
  EXPECT_EQ(drv.Result(), kRange);
  EXPECT_EQ(drv.Int(u"TCPPort"), 211);
  EXPECT_FALSE(drv.Get(u"ServerConnected").ToBool());

  // 60 characters: too long for 40, so Connect runs first; model 6 prints 40.
  drv.Set(u"StringForPrinting", std::string(60, 'x').c_str());
  EXPECT_EQ(drv.Call(u"PrintString"), 0);
  EXPECT_TRUE(drv.Get(u"ServerConnected").ToBool());
  EXPECT_THAT(Paper(), HasSubstr(std::string(40, 'x') + "\n"));
  EXPECT_THAT(Paper(), ::testing::Not(HasSubstr(std::string(41, 'x'))));
}

TEST_F(DriverTest, ValuesTheLineOrTheDeviceCannotCarryAreRangeErrors) {
  StartDevice();
  Driver drv;
  drv.Set(u"LogFileName", env.Path("drv.log").c_str());
  drv.Set(u"LogEnabled", Variant(true));

  // A string field of 250 bytes: a payload of 259, more than a frame holds.
  drv.Set(u"FieldType", Variant(true));
  drv.Set(u"FieldSize", Variant(250));
  drv.Set(u"ValueOfFieldString", "abc");
  EXPECT_EQ(drv.Call(u"WriteTable2"), -9);
  EXPECT_EQ(drv.Result(), kRange);
  EXPECT_EQ(drv.Text(u"ECRInput"), "");
  EXPECT_FALSE(drv.Get(u"ServerConnected").ToBool());  // nothing was sent
  // 246 bytes make the longest frame: it goes out.
  drv.Set(u"FieldSize", Variant(246));
  EXPECT_NE(drv.Call(u"WriteTable2"), -9);
  EXPECT_THAT(drv.Text(u"ECRInput"), StartsWith("02 FF 1E 97 1C 00 00 01 01 00 01 61 62 63 00"));

  // Bar codes: 5 bytes, 0 .. 2^40 - 1; anything else is never cut to fit.
  const std::string lastSent = drv.Text(u"ECRInput");
  for (const char* refused : {"4601234567890", "1099511627776", "-1", "-1099511627775"}) {
    drv.Set(u"BarCode", refused);
    EXPECT_EQ(drv.Call(u"PrintBarCode"), -9) << refused;
    EXPECT_EQ(drv.Result(), kRange) << refused;
    EXPECT_EQ(drv.Text(u"ECRInput"), lastSent) << refused;  // nothing sent
  }
  drv.Set(u"BarCode", "1099511627775");
  EXPECT_EQ(drv.Call(u"PrintBarCode"), 0);
  EXPECT_THAT(drv.Text(u"ECRInput"), HasSubstr("C2 97 1C 00 00 FF FF FF FF FF"));
  drv.Set(u"BarCode", "0");
  EXPECT_EQ(drv.Call(u"PrintBarCode"), 0);
  EXPECT_THAT(Paper(), HasSubstr("[barcode] 1099511627775\n[barcode] 0\n"));
  EXPECT_THAT(Paper(), ::testing::Not(HasSubstr("203188056786")));

  // UnlockPort records its own result, as LockPort does.
  drv.Set(u"BarCode", "x");
  EXPECT_EQ(drv.Call(u"PrintBarCode"), -9);
  EXPECT_EQ(drv.Call(u"UnlockPort"), 0);
  EXPECT_EQ(drv.Result(), Result(0, "Ошибок нет"));  // the server's own text
  drv.Set(u"LogEnabled", Variant(false));

  // The refused frame has its block with the error, and its call ends.
  const std::string log = ReadFileOrEmpty(env.Path("drv.log"));
  const size_t block = log.find(" Команда 1E ");
  ASSERT_NE(block, std::string::npos);
  const size_t error = log.find(" Ошибка: (-9) Параметр вне диапазона.\r\n", block);
  const size_t end = log.find(" WriteTable2: -9\r\n", block);
  EXPECT_LT(error, end);
  EXPECT_NE(end, std::string::npos);
  EXPECT_THAT(log, HasSubstr(" UnlockPort: 0\r\n"));
  EXPECT_THAT(log, ::testing::Not(HasSubstr("WriteTable2 ")));  // never a stale name in front
}

TEST_F(DriverTest, LongLinesOnALaterModel) {
  emu::EmulatorOptions o;
  o.model = 7;
  StartDevice(o);
  Driver drv;
  EXPECT_EQ(drv.Call(u"GetDeviceMetrics"), 0);
  EXPECT_EQ(drv.Call(u"Connect"), 0);
  drv.Set(u"StringForPrinting", std::string(60, 'y').c_str());
  EXPECT_EQ(drv.Call(u"PrintString"), 0);
  EXPECT_THAT(drv.Text(u"ECRInput"), StartsWith("02 42 17 97 1C 00 00 02 79 79"));  // all 60
  EXPECT_THAT(Paper(), HasSubstr(std::string(40, 'y') + "\n" + std::string(20, 'y') + "\n"));
}

TEST_F(DriverTest, TablesDeviceErrorsAndTheirLogBlock) {
  StartDevice();
  Driver drv;
  drv.Set(u"LogFileName", env.Path("drv.log").c_str());
  drv.Set(u"LogEnabled", Variant(true));
  drv.Set(u"TableNumber", Variant(1));
  EXPECT_EQ(drv.Call(u"GetTableStruct"), 0);
  EXPECT_FALSE(drv.Text(u"TableName").empty());
  EXPECT_GT(drv.Int(u"FieldNumber"), 0);
  drv.Set(u"RowNumber", Variant(1));
  drv.Set(u"FieldNumber", Variant(1));
  EXPECT_EQ(drv.Call(u"ReadTable"), 0);
  EXPECT_FALSE(drv.Get(u"FieldType").ToBool());
  const int32_t max = drv.Int(u"MAXValueOfField");
  drv.Set(u"ValueOfFieldInteger", Variant(max + 1));
  EXPECT_EQ(drv.Call(u"WriteTable"), -9);
  EXPECT_EQ(drv.Text(u"ResultCodeDescription"),
            "Неверное значение поля (" + std::to_string(max + 1) + "). Допустимые значения: " +
                std::to_string(drv.Int(u"MINValueOfField")) + ".." + std::to_string(max));
  drv.Set(u"ValueOfFieldInteger", Variant(max));
  EXPECT_EQ(drv.Call(u"WriteTable2"), 0);
  drv.Set(u"ValueOfFieldInteger", Variant(0));
  EXPECT_EQ(drv.Call(u"ReadTable2"), 0);
  EXPECT_EQ(drv.Int(u"ValueOfFieldInteger"), max);
  // An integer wider than the properties is refused before anything is sent.
  drv.Set(u"FieldSize", Variant(5));
  EXPECT_EQ(drv.Call(u"ReadTable2"), -9);

  drv.Set(u"TableNumber", Variant(200));
  const int32_t code = drv.Call(u"GetTableStruct");
  EXPECT_GT(code, 0);
  EXPECT_EQ(drv.Int(u"ResultCode"), code);
  drv.Set(u"LogEnabled", Variant(false));

  const std::string log = ReadFileOrEmpty(env.Path("drv.log"));
  char hex[8];
  std::snprintf(hex, sizeof hex, "%.2Xh", code);
  EXPECT_THAT(log, HasSubstr(" : 1\r\n"));  // enabled with no open call: an empty name
  EXPECT_THAT(log, HasSubstr(" Команда 2D Запрос структуры таблицы\r\n"));
  EXPECT_THAT(log, HasSubstr(" -> 02 06 2D 97 1C 00 00 C8 "));
  EXPECT_THAT(log, HasSubstr(" <- 02 02 2D " + std::string(hex, 2) + " "));
  EXPECT_THAT(log, HasSubstr(" Ошибка: (" + std::to_string(code) + ", " + hex + ") " +
                             drv.Text(u"ResultCodeDescription") + "\r\n"));
  EXPECT_THAT(log, HasSubstr(" GetTableStruct: " + std::to_string(code) + "\r\n"));
  EXPECT_THAT(log, HasSubstr(" Set_LogEnabled\r\n"));  // disabling: the start line only
}

TEST_F(DriverTest, ConnectionFailuresAndTheirTexts) {
  // No device on COM5: the server's code and text, and the port stays closed.
  StartDevice();
  Driver drv;
  drv.Set(u"ComNumber", Variant(5));
  EXPECT_EQ(drv.Call(u"Connect"), -2);
  EXPECT_EQ(drv.Text(u"ResultCodeDescription"), "СOM порт не доступен");
  EXPECT_EQ(drv.Call(u"Beep"), -2);  // the port is still not open: asked again
  EXPECT_EQ(drv.Call(u"UnlockPort"), 0);
  drv.Set(u"ComNumber", Variant(1));
  EXPECT_EQ(drv.Call(u"Beep"), 0);

  // ServerDisconnect keeps the port flag: the new connection never opened it.
  EXPECT_EQ(drv.Call(u"ServerDisconnect"), 0);
  EXPECT_FALSE(drv.Get(u"ServerConnected").ToBool());
  EXPECT_EQ(drv.Call(u"Beep"), -17);
  EXPECT_EQ(drv.Text(u"ResultCodeDescription"), "Порт не открыт");
  EXPECT_EQ(drv.Call(u"Connect"), 0);
  EXPECT_EQ(drv.Call(u"Beep"), 0);
  EXPECT_EQ(drv.Call(u"Disconnect"), 0);

  // Nobody to connect to over TCP.
  Driver tcp;
  tcp.Set(u"ConnectionType", Variant(1));
  tcp.Set(u"UseIPAddress", Variant(true));
  tcp.Set(u"IPAddress", "127.0.0.1");
  tcp.Set(u"TCPPort", Variant(1));
  EXPECT_EQ(tcp.Call(u"GetECRStatus"), -16);
  EXPECT_THAT(tcp.Text(u"ResultCodeDescription"), StartsWith("Ошибка подключения. "));
  EXPECT_EQ(tcp.Call(u"ServerConnect"), -16);
  EXPECT_THROW(tcp.Get(u"PortLocked"), EDispatchError);
}

TEST_F(DriverTest, AServerThatCannotStartGivesTheConnectionError) {
  RegisterClass(registry, test::kPortServer.Clsid, "VarnSrv.VarnSrv", env.Path("gone/VarnSrv"));
  Driver drv;
  EXPECT_EQ(drv.Call(u"GetECRStatus"), -16);
  // The system's reason in words; its error number in hexadecimal ("(2)",
  // "(d)") would tell nobody more.
  EXPECT_THAT(drv.Text(u"ResultCodeDescription"), StartsWith("Ошибка подключения. "));
  EXPECT_THAT(drv.Text(u"ResultCodeDescription"),
              EndsWith("gone/VarnSrv: No such file or directory"));
  EXPECT_FALSE(drv.Get(u"ServerConnected").ToBool());
}

TEST_F(DriverTest, ALostServerIsReachedAgainAndThePortReopened) {
  StartDevice();
  ChildProcess first(VARNSRV_PROGRAM, {"--headless"}, env.Path("first.out"));
  ASSERT_TRUE(Eventually(
      [&] { return UnixSocketListenerProcessId(test::PortServerSocketPath()) == first.Pid(); }));
  Driver drv;
  EXPECT_EQ(drv.Call(u"GetECRStatus"), 0);
  first.Terminate();
  ASSERT_TRUE(first.Wait(kPatience).has_value());
  // The first command finds the connection gone; the next one starts a
  // server, introduces itself and opens the port again.
  EXPECT_NE(drv.Call(u"GetECRStatus"), 0);
  EXPECT_FALSE(drv.Get(u"ServerConnected").ToBool());
  EXPECT_EQ(drv.Call(u"GetECRStatus"), 0);
  EXPECT_EQ(drv.Result(), kOk);
}

TEST_F(DriverTest, TwoDriversShareOnePortAndItsLock) {
  StartDevice();
  Driver a, b;
  EXPECT_EQ(a.Call(u"Connect"), 0);
  EXPECT_EQ(b.Call(u"Connect"), 0);
  EXPECT_EQ(a.Call(u"LockPort"), 0);
  EXPECT_TRUE(a.Get(u"PortLocked").ToBool());
  EXPECT_FALSE(b.Get(u"PortLocked").ToBool());
  // The lock is advisory: B still exchanges, but cannot take or drop it.
  EXPECT_EQ(b.Call(u"Beep"), 0);
  EXPECT_EQ(b.Call(u"LockPort"), -18);
  EXPECT_THAT(b.Text(u"ResultCodeDescription"),
              StartsWith("Порт заблокирован " + LocalComputerName() + "."));
  EXPECT_EQ(b.Call(u"UnlockPort"), -18);
  EXPECT_EQ(b.Int(u"ResultCode"), -18);
  EXPECT_THAT(b.Text(u"ResultCodeDescription"), StartsWith("Порт заблокирован "));
  EXPECT_EQ(a.Call(u"UnlockPort"), 0);
  EXPECT_EQ(b.Call(u"LockPort"), 0);
  EXPECT_EQ(b.Call(u"AdminUnlockPorts"), 0);
}

TEST_F(DriverTest, OverTcp) {
  StartDevice();
  const int port = 20000 + static_cast<int>(CurrentProcessId() % 20000);
  registry.WriteDword("SOFTWARE\\Kvelta\\Варн\\Сервер", "TCPEnabled", 1);
  registry.WriteDword("SOFTWARE\\Kvelta\\Варн\\Сервер", "TCPPort", static_cast<uint32_t>(port));
  ChildProcess server(VARNSRV_PROGRAM, {"--headless"}, env.Path("tcp.out"));
  Driver drv;
  drv.Set(u"ConnectionType", Variant(1));
  drv.Set(u"ComputerName", "localhost");
  drv.Set(u"TCPPort", Variant(port));
  ASSERT_TRUE(Eventually([&] { return drv.Call(u"ServerConnect") == 0; }));
  EXPECT_EQ(drv.Call(u"GetECRStatus"), 0);
  EXPECT_EQ(drv.Text(u"ServerVersion"), "1.0.0.1");
  EXPECT_EQ(drv.Call(u"ServerDisconnect"), 0);
}

TEST_F(DriverTest, OverTcpDriversPrintWhileThreeHundredIdleConnectionsAreOpen) {
  StartDevice();
  const int port = 20000 + static_cast<int>((CurrentProcessId() + 7) % 20000);
  registry.WriteDword("SOFTWARE\\Kvelta\\Варн\\Сервер", "TCPEnabled", 1);
  registry.WriteDword("SOFTWARE\\Kvelta\\Варн\\Сервер", "TCPPort", static_cast<uint32_t>(port));
  ChildProcess server(VARNSRV_PROGRAM, {"--headless"}, env.Path("idle.out"));
  std::vector<StreamSocket> idle;
  ASSERT_TRUE(Eventually([&] {
    try {
      idle.push_back(StreamSocket::ConnectTcp("127.0.0.1", static_cast<uint16_t>(port)));
      return true;
    } catch (const ESocketError&) {
      return false;
    }
  }));
  // Silent ones, and ones that stop inside a block's header.
  while (idle.size() < 300) {
    idle.push_back(StreamSocket::ConnectTcp("127.0.0.1", static_cast<uint16_t>(port)));
    if (idle.size() % 2 == 0) {
      const uint8_t half[2] = {0x01, 0x00};
      idle.back().SendAll(half);
    }
  }
  int served = 0;
  for (int i = 0; i < 5; ++i) {
    Driver drv;
    drv.Set(u"ConnectionType", Variant(1));
    drv.Set(u"UseIPAddress", Variant(true));
    drv.Set(u"IPAddress", "127.0.0.1");
    drv.Set(u"TCPPort", Variant(port));
    drv.Set(u"StringForPrinting", ("Чек " + std::to_string(i)).c_str());
    if (drv.Call(u"PrintString") == 0) ++served;
    EXPECT_EQ(drv.Result(), kOk);
  }
  EXPECT_EQ(served, 5) << ReadFileOrEmpty(env.Path("idle.out"));
  EXPECT_THAT(Paper(), HasSubstr("Чек 4"));
  // Every idle one is closed: the ones that made room at once, the rest
  // when their first block did not come in time.
  for (StreamSocket& s : idle) {
    uint8_t byte;
    try {
      EXPECT_EQ(s.ReceiveWithin(&byte, 1, kPatience), std::optional<size_t>(0));
    } catch (const ESocketError&) {
      // Reset by the server: closed too.
    }
  }
  // Told once for the address, however many were closed.
  const std::string out = ReadFileOrEmpty(env.Path("idle.out"));
  EXPECT_THAT(out, HasSubstr("TCP: с адреса 127.0.0.1 больше 64 соединений"));
  size_t lines = 0;
  for (size_t at = out.find("127.0.0.1"); at != std::string::npos;
       at = out.find("127.0.0.1", at + 1))
    ++lines;
  EXPECT_EQ(lines, 1u) << out;
}

TEST_F(DriverTest, AServerKilledMidCallGivesTheConnectionErrorInRussian) {
  // Every answer takes a second: the call is surely under way when the
  // server goes.
  emu::EmulatorOptions slow;
  slow.faults.answerDelay = std::chrono::milliseconds(1000);
  StartDevice(slow);
  const int port = 20000 + static_cast<int>((CurrentProcessId() + 13) % 20000);
  registry.WriteDword("SOFTWARE\\Kvelta\\Варн\\Сервер", "TCPEnabled", 1);
  registry.WriteDword("SOFTWARE\\Kvelta\\Варн\\Сервер", "TCPPort", static_cast<uint32_t>(port));
  {
    ChildProcess server(VARNSRV_PROGRAM, {"--headless"}, env.Path("killed.out"));
    ASSERT_TRUE(Eventually(
        [&] { return UnixSocketListenerProcessId(test::PortServerSocketPath()) == server.Pid(); }));
    Driver drv;
    drv.Set(u"ConnectionType", Variant(1));
    drv.Set(u"UseIPAddress", Variant(true));
    drv.Set(u"IPAddress", "127.0.0.1");
    drv.Set(u"TCPPort", Variant(port));
    ASSERT_TRUE(Eventually([&] { return drv.Call(u"ServerConnect") == 0; }));
    EXPECT_EQ(drv.Call(u"GetECRStatus"), 0);
    int32_t code = 0;
    std::thread call([&] { code = drv.Call(u"GetECRStatus"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server.Kill();
    call.join();
    EXPECT_EQ(code, -16);
    const std::string text = drv.Text(u"ResultCodeDescription");
    EXPECT_THAT(text, StartsWith("Ошибка подключения. "));
    EXPECT_THAT(text, HasSubstr("Ошибка чтения из сокета"));
    for (const char* english : {"socket", "server", "connection", "Error"})
      EXPECT_THAT(text, ::testing::Not(HasSubstr(english)));
    ASSERT_TRUE(server.Wait(kPatience).has_value());
    // Nobody there any more: the connect itself fails, in Russian too.
    {
      EXPECT_EQ(drv.Call(u"GetECRStatus"), -16);
      EXPECT_THAT(drv.Text(u"ResultCodeDescription"),
                  StartsWith("Ошибка подключения. Не удалось подключиться к 127.0.0.1:" +
                             std::to_string(port) + ": "));
    }
  }
}

TEST_F(DriverTest, SettingsPersistAsTheSettersSay) {
  {
    Driver fresh;  // no key yet: the first default column
    EXPECT_EQ(fresh.Int(u"BaudRate"), 1);
    EXPECT_EQ(fresh.Int(u"ComNumber"), 1);
    EXPECT_EQ(fresh.Int(u"Timeout"), 100);
    EXPECT_EQ(fresh.Int(u"TCPPort"), 211);
    EXPECT_EQ(fresh.Int(u"ConnectionType"), 0);
    EXPECT_EQ(fresh.Text(u"ComputerName"), LocalComputerName());
    EXPECT_FALSE(registry.KeyExists(kDriverParamKey));
    fresh.Set(u"Timeout", Variant(250));
    fresh.Set(u"ComNumber", Variant(3));  // saves all eleven values
    EXPECT_EQ(registry.ValueNames(kDriverParamKey).size(), 11u);
    EXPECT_EQ(registry.ReadDword(kDriverParamKey, "Timeout"), 250u);
    fresh.Set(u"BaudRate", Variant(12));  // stored, not saved
    EXPECT_EQ(fresh.Int(u"BaudRate"), 12);
    EXPECT_EQ(registry.ReadDword(kDriverParamKey, "BaudRate"), 1u);
    fresh.Set(u"BaudRate", Variant(2));
    EXPECT_EQ(registry.ReadDword(kDriverParamKey, "BaudRate"), 2u);
  }
  registry.DeleteValue(kDriverParamKey, "LogFileName");
  Driver again;
  EXPECT_EQ(again.Int(u"ComNumber"), 3);
  EXPECT_EQ(again.Int(u"BaudRate"), 2);
  EXPECT_EQ(again.Int(u"Timeout"), 250);
  // The log file in use is written back.
  EXPECT_EQ(registry.ReadString(kDriverParamKey, "LogFileName"),
            Utf16ToUtf8(again.Get(u"LogFileName").ToString()));
  EXPECT_EQ(again.Text(u"FileVersion"), "1.0.0.1");
  EXPECT_EQ(again.Int(u"FileVersionMS"), 1);
  EXPECT_EQ(again.Int(u"FileVersionLS"), 0);
  // No display for this process, whatever the shell running the tests has:
  // the window library beside the test would otherwise open a modal window.
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
  EXPECT_EQ(again.Call(u"ShowProperties"), -8);
}

TEST(DriverCodes, TimeoutsAndSummaries) {
  EXPECT_EQ(protocol::EncodeTimeout(1000), 156);
  EXPECT_EQ(protocol::EncodeTimeout(151), 150);
  EXPECT_EQ(protocol::DecodeTimeout(150), 150);
  EXPECT_EQ(protocol::EncodeTimeout(30000), 250);
  EXPECT_EQ(protocol::DecodeTimeout(250), 30000);
  EXPECT_EQ(protocol::DecodeTimeout(156), 1050);
  EXPECT_EQ(SummaryBytes("02 | 03 | 11 | 00 | 2A | 38"),
            std::string("\x02\x03\x11\x00\x2A\x38", 6));
  EXPECT_EQ(SummaryBytes(""), "");
}

}  // namespace
}  // namespace varn::test
