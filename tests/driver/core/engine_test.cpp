// The command engine against a scripted port server: no processes, no
// sockets. The script answers each server call as a test says and records
// the calls, so result codes, texts, the log block and the connection state
// can be checked for failures a real server rarely gives.
#include <deque>
#include <memory>
#include <stdexcept>

#include "driver/core/errors.h"
#include "driver/core/server_link.h"
#include "driver/core/varn_drv.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/test_env.h"

namespace varn::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

using Result = std::pair<int32_t, std::string>;

// What the server does with one SendData.
struct Answer {
  int32_t code = 0;         // SendData's result
  std::string rx;           // RxData (bytes) when the code is 0
  std::string description;  // ResultDescription when it is not
  bool fail = false;        // the call itself fails (an automation error)
  bool drop = false;        // the connection goes during the call
};
Answer Rx(std::string bytes) {
  Answer a;
  a.rx = std::move(bytes);
  return a;
}
Answer Refused(int32_t code, std::string text) {
  Answer a;
  a.code = code;
  a.description = std::move(text);
  return a;
}
Answer Failing() {
  Answer a;
  a.fail = true;
  return a;
}
Answer Dropping() {
  Answer a;
  a.drop = true;
  return a;
}

// The server's side, shared by the connector, its connections and the test.
struct Script {
  std::exception_ptr unreachable;  // Open raises this
  int32_t connectCode = 0;         // the server's Connect
  int32_t openCode = 0;            // the server's OpenPort
  std::string description = "текст сервера";
  std::deque<Answer> answers;
  std::vector<std::string> calls;
  std::function<void()> closing;  // of the connection open now
  Answer current;
};

class ScriptedLink : public IServerLink {
 public:
  explicit ScriptedLink(std::shared_ptr<Script> s) : m_s(std::move(s)) {}

  using IServerLink::CallInt;
  int32_t CallInt(Name name, std::vector<Variant> inputs) override {
    switch (name) {
      case Connect:
        m_s->calls.push_back("Connect");
        return m_s->connectCode;
      case OpenPort:
        m_s->calls.push_back("OpenPort " + std::to_string(inputs.at(0).ToInt32()) + " " +
                             std::to_string(inputs.at(1).ToInt32()) + " " +
                             std::to_string(inputs.at(2).ToInt32()));
        return m_s->openCode;
      case SendData: {
        m_s->calls.push_back("SendData " + HexDump(Utf16ToCp1251(inputs.at(0).ToString())));
        m_s->current =
            m_s->answers.empty() ? Rx(std::string("\x13\x00\x00", 3)) : m_s->answers.front();
        if (!m_s->answers.empty()) m_s->answers.pop_front();
        if (m_s->current.drop) {
          m_s->closing();
          throw std::runtime_error("соединение разорвано");
        }
        if (m_s->current.fail) throw EDispatchError(E_FAIL, "сбой вызова сервера");
        return m_s->current.code;
      }
      default:
        m_s->calls.push_back(std::to_string(name));
        return 0;
    }
  }

  Variant Get(Name name) override {
    switch (name) {
      case RxData:
        return Variant(Cp1251ToUtf16(m_s->current.rx));
      case ResultDescription:
        return Variant(
            Utf8ToUtf16(m_s->current.code != 0 ? m_s->current.description : m_s->description));
      case Output:
        m_s->calls.push_back("Output");
        return Variant(u"02 | 01 | 10");
      default:
        return Variant(u"");
    }
  }

 private:
  std::shared_ptr<Script> m_s;
};

class ScriptedConnection : public IServerConnection {
 public:
  ScriptedConnection(std::shared_ptr<Script> s, std::function<void()> closing)
      : m_s(std::move(s)),
        m_closing(std::move(closing)),
        m_link(std::make_shared<ScriptedLink>(m_s)) {
    m_s->closing = m_closing;
  }
  ~ScriptedConnection() override { m_closing(); }
  std::shared_ptr<IServerLink> Server() override { return m_link; }

 private:
  std::shared_ptr<Script> m_s;
  std::function<void()> m_closing;
  std::shared_ptr<ScriptedLink> m_link;
};

class ScriptedConnector : public IServerConnector {
 public:
  explicit ScriptedConnector(std::shared_ptr<Script> s) : m_s(std::move(s)) {}
  std::unique_ptr<IServerConnection> Open(const TConnectionSettings&,
                                          std::function<void()> closing) override {
    m_s->calls.push_back("Open");
    if (m_s->unreachable) std::rethrow_exception(m_s->unreachable);
    return std::make_unique<ScriptedConnection>(m_s, std::move(closing));
  }

 private:
  std::shared_ptr<Script> m_s;
};

class EngineTest : public ::testing::Test {
 protected:
  EngineTest() : obj(MakeObject<TVarnDrv>(std::make_unique<ScriptedConnector>(script))) {
    Set(u"LogFileName", Variant(Utf8ToUtf16(env.Path("drv.log"))));
    Set(u"LogEnabled", Variant(true));
  }
  int32_t Call(const char16_t* name) { return CallMethod(*obj, name).ToInt32(); }
  Variant Get(const char16_t* name) { return GetProperty(*obj, name); }
  void Set(const char16_t* name, Variant v) { PutProperty(*obj, name, std::move(v)); }
  Result Last() {
    return {Get(u"ResultCode").ToInt32(), Utf16ToUtf8(Get(u"ResultCodeDescription").ToString())};
  }
  std::string Log() { return ReadFileOrEmpty(env.Path("drv.log")); }

  TempEnv env;
  std::shared_ptr<Script> script = std::make_shared<Script>();
  DispatchPtr obj;
};

std::string Field(const std::string& name) {
  std::string bytes = name;
  bytes.resize(40, ' ');
  return bytes;
}

// Every way a command can fail, each with its result, its text and the log
// block's error line; a connection failure, and any other failure while no
// server is connected, is -16; the same failure with a server is -8.
TEST_F(EngineTest, FailuresBecomeResultsAndTheirLogBlocks) {
  const std::string fileMissing = "Не удалось открыть файл \"\": файл не найден.";
  struct Case {
    const char* what;
    std::function<void(Script&)> setup;
    const char16_t* method;
    Result result;
    const char* logLine;  // the block's error line, none for a method without a command
  };
  const Case cases[] = {
      {"class not registered",
       [](Script& s) {
         s.unreachable =
             std::make_exception_ptr(EDriverError(REGDB_E_CLASSNOTREG, "Класс не зарегистрирован"));
       },
       u"GetECRStatus",
       {rc::kConnectionError, "Ошибка подключения. Класс не зарегистрирован (80040154)"},
       " Ошибка: (-16) Ошибка подключения. Класс не зарегистрирован (80040154)\r\n"},
      {"refused",
       [](Script& s) { s.unreachable = std::make_exception_ptr(std::runtime_error("отказ")); },
       u"ServerConnect",
       {rc::kConnectionError, "Ошибка подключения. отказ"},
       nullptr},
      {"a file, no server",
       [](Script&) {},
       u"LoadBMP",
       {rc::kConnectionError, "Ошибка подключения. " + fileMissing},
       nullptr},
      {"the server's Connect refuses",
       [](Script& s) { s.connectCode = -3; },
       u"Beep",
       {-3, "текст сервера"},
       " Ошибка: (-3) текст сервера\r\n"},
      {"OpenPort refuses",
       [](Script& s) { s.openCode = rc::kPortUnavailable; },
       u"Beep",
       {rc::kPortUnavailable, "текст сервера"},
       " Ошибка: (-2) текст сервера\r\n"},
      {"SendData's result",
       [](Script& s) { s.answers.push_back(Refused(rc::kNoLink, "Нет связи")); },
       u"Beep",
       {rc::kNoLink, "Нет связи"},
       " Ошибка: (-4) Нет связи\r\n"},
      {"the call fails",
       [](Script& s) { s.answers.push_back(Failing()); },
       u"Beep",
       {rc::kOSError, "сбой вызова сервера"},
       " Ошибка: (-8) сбой вызова сервера\r\n"},
      {"one byte",
       [](Script& s) { s.answers.push_back(Rx("\x11")); },
       u"GetECRStatus",
       {rc::kWrongLength, "Неверная длина ответа."},
       " Ошибка: (-7) Неверная длина ответа.\r\n"},
      {"status without data",
       [](Script& s) { s.answers.push_back(Rx(std::string("\x11\x00", 2))); },
       u"GetECRStatus",
       {rc::kWrongLength, "Неверная длина ответа."},
       " Ошибка: (-7) Неверная длина ответа.\r\n"},
      {"device error",
       [](Script& s) { s.answers.push_back(Rx("\x10\x73")); },
       u"Beep",
       {115, DeviceErrorText(0x73)},
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    *script = Script{};
    c.setup(*script);
    EXPECT_EQ(Call(u"ServerDisconnect"), 0);
    EXPECT_EQ(Call(u"Disconnect"), 0);
    EXPECT_EQ(Call(c.method), c.result.first);
    EXPECT_EQ(Last(), c.result);
    if (c.logLine) {
      EXPECT_THAT(Log(), HasSubstr(c.logLine));
    }
  }
  EXPECT_THAT(Log(), HasSubstr(" Ошибка: (115, 73h) " + DeviceErrorText(0x73) + "\r\n"));
  // A refused answer still asks for the port's text: it is in the block.
  EXPECT_THAT(Log(), HasSubstr(" <- 02 01 10\r\n"));

  // A read that needs the server fails, with the reason's own text.
  *script = Script{};
  script->unreachable = std::make_exception_ptr(std::runtime_error("отказ"));
  EXPECT_EQ(Call(u"ServerDisconnect"), 0);
  try {
    Get(u"ServerVersion");
    ADD_FAILURE() << "ServerVersion read without a server";
  } catch (const EDispatchError& e) {
    EXPECT_THAT(e.what(), HasSubstr("отказ"));
    EXPECT_EQ(e.Excep.scode, E_FAIL);
  }

  // The same file error with a server connected is -8, without the prefix.
  *script = Script{};
  EXPECT_EQ(Call(u"Beep"), 0);
  EXPECT_EQ(Call(u"LoadBMP"), rc::kOSError);
  EXPECT_EQ(Last(), Result(rc::kOSError, fileMissing));
  EXPECT_THAT(Log(), HasSubstr(" LoadBitmapEx: -8\r\n"));
  EXPECT_THAT(Log(), HasSubstr(" LoadBMP: -8\r\n"));
}

// Answers straight into the decoders: checked by the code that came back,
// nothing changed by an answer too short.
TEST_F(EngineTest, AnswerChecks) {
  struct Case {
    std::string answer;
    int32_t result;
  };
  std::string limits = Field("keep");
  limits += std::string("\x00\x01\x00\x01", 4);
  std::string cutLimits = Field("lost");
  cutLimits += std::string("\x00\x04\x01\x00", 4);
  const Case cases[] = {
      {"\x11", rc::kWrongLength},
      {std::string("\x11\x00", 2), rc::kWrongLength},
      {std::string("\x17\x00", 2), rc::kWrongLength},
      // Decoded by the code that came back, not the one sent.
      {std::string("\x15\x00\x02\x96", 4), 0},
      {"\x10\x73", 115},
      {std::string("\x2E\x00", 2) + limits, 0},
      // A field structure whose limits are cut off leaves every property alone.
      {std::string("\x2E\x00", 2) + cutLimits, rc::kWrongLength},
  };
  for (const Case& c : cases) script->answers.push_back(Rx(c.answer));
  for (const Case& c : cases) EXPECT_EQ(Call(u"Beep"), c.result) << HexDump(c.answer);
  EXPECT_EQ(Get(u"BaudRate").ToInt32(), 2);
  EXPECT_EQ(Get(u"Timeout").ToInt32(), 150);
  EXPECT_EQ(Utf16ToUtf8(Get(u"FieldName").ToString()), "keep");
  EXPECT_EQ(Get(u"MAXValueOfField").ToInt32(), 1);

  Set(u"FieldSize", Variant(0));
  Set(u"FieldType", Variant(false));
  Set(u"ValueOfFieldInteger", Variant(7));
  script->answers.push_back(Rx(std::string("\x1F\x00", 2)));
  EXPECT_EQ(Call(u"Beep"), 0);
  EXPECT_EQ(Get(u"ValueOfFieldInteger").ToInt32(), 0);
  EXPECT_EQ(Last(), Result(0, "Ошибок нет."));
}

// A connection that drops empties Server and the port flag: the failure is
// a connection error, the next command connects and opens the port again.
// ServerDisconnect keeps the flag: the next connection does not reopen it.
TEST_F(EngineTest, ADroppedConnectionEmptiesTheConnectionState) {
  Set(u"ComNumber", Variant(3));
  // Saved by the setter: the stored layout, in its order.
  EXPECT_THAT(Registry::Default().ValueNames(kDriverParamKey),
              ElementsAre("Timeout", "BaudRate", "ComNumber", "ComputerName", "CurrentDevice",
                          "ConnectionType", "TCPPort", "IPAddress", "UseIPAddress", "LogEnabled",
                          "LogFileName"));
  EXPECT_EQ(Call(u"Beep"), 0);
  EXPECT_TRUE(Get(u"ServerConnected").ToBool());
  script->answers.push_back(Dropping());
  EXPECT_EQ(Call(u"Beep"), rc::kConnectionError);
  EXPECT_EQ(Last(), Result(rc::kConnectionError, "Ошибка подключения. соединение разорвано"));
  EXPECT_FALSE(Get(u"ServerConnected").ToBool());
  EXPECT_THROW(Get(u"PortLocked"), EDispatchError);
  EXPECT_EQ(Call(u"Beep"), 0);
  EXPECT_EQ(Call(u"ServerDisconnect"), 0);
  EXPECT_EQ(Call(u"Beep"), 0);
  const std::string beep = "SendData 02 05 13 97 1C 00 00 9D";
  EXPECT_THAT(script->calls,
              ElementsAre("Open", "Connect", "OpenPort 3 4800 100", beep, "Output",  //
                          beep,                                                      // dropped
                          "Open", "Connect", "OpenPort 3 4800 100", beep, "Output",  //
                          "Open", "Connect", beep, "Output"));
  EXPECT_THAT(Log(), Not(HasSubstr("Unknown failure")));
}

}  // namespace
}  // namespace varn::test
