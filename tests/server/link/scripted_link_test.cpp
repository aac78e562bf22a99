// The link protocol on a scripted line: TPort::Exchange against a device
// played step by step through the port's line factory, with no terminal and
// no waiting (a reply that is not there is a read's time-out at once). Each
// case also checks the read limits in force (T x bytes + C) for every read.
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/serial.h"
#include "platform/text.h"
#include "protocol/frame.h"
#include "server/link/port.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

using protocol::ACK;
using protocol::ENQ;
using protocol::Frame;
using protocol::NAK;
using protocol::STX;
using test::Bytes;

const std::string kEnq(1, ENQ), kAck(1, ACK), kNak(1, NAK);
const std::string kRequest = Frame(Bytes({0x11, 0x93, 0x1C, 0x00, 0x00}));
const std::string kAnswer = Bytes({0x11, 0x00, 0x2A, 0x33});

// The byte time-out the cases give the port, in ms.
constexpr uint32_t T = 5;

// One step of the device: the bytes the link must write next, and what the
// device sends back after them ("" for nothing).
struct Step {
  std::string write;
  std::string reply;
};

// What the device saw, shared between the test and the line the port owns.
struct Script {
  std::deque<Step> steps;
  std::string input;                    // sent by the device, not read yet
  std::vector<std::string> unexpected;  // writes the script did not expect
  std::vector<uint32_t> readLimits;     // T x count + C of every read, in ms
  int opens = 0;
  int32_t baudRate = 0;
};

class ScriptedLine final : public ISerialLine {
 public:
  explicit ScriptedLine(std::shared_ptr<Script> s) : m_s(std::move(s)) {}
  void ApplyLineSettings(int32_t baudRate) override { m_s->baudRate = baudRate; }
  void SetModemLines(bool, bool) override {}
  void SetTimeouts(const CommTimeouts& t) override { m_timeouts = t; }
  std::string Read(size_t count) override {
    m_s->readLimits.push_back(m_timeouts.ReadTotalTimeoutMultiplier * static_cast<uint32_t>(count) +
                              m_timeouts.ReadTotalTimeoutConstant);
    const size_t n = std::min(count, m_s->input.size());
    std::string got = m_s->input.substr(0, n);
    m_s->input.erase(0, n);
    return got;
  }
  size_t Write(std::string_view data) override {
    if (m_s->steps.empty() || m_s->steps.front().write != data) {
      m_s->unexpected.push_back(HexDump(data));
    } else {
      m_s->input += m_s->steps.front().reply;
      m_s->steps.pop_front();
    }
    return data.size();
  }
  bool Purge() override {
    m_s->input.clear();
    return true;
  }

 private:
  std::shared_ptr<Script> m_s;
  CommTimeouts m_timeouts;
};

struct Case {
  const char* name;
  std::vector<Step> steps;
  std::optional<std::string> answer;  // none: -4 "Нет связи"
  std::string output;                 // the port's Output text
  std::vector<uint32_t> readLimits;
};

// STX LEN payload with a check byte that does not fit.
std::string BadFrame(const std::string& payload) {
  std::string f = Frame(payload);
  f.back() = static_cast<char>(f.back() ^ 0xFF);
  return f;
}

// Reads: the reply to ENQ or to the request (T + C, C carried from the last
// answer read), STX and LEN (T + 10 000 each), the payload (T x LEN + 1), the
// check byte (T + 1).
constexpr uint32_t kReply1 = T + 1, kStart = T + link::kAnswerStartTimeout, kBody4 = 4 * T + 1;

TEST(ScriptedLink, ExchangeFramingRetriesAndSilenceOnAScriptedLine) {
  const std::string answerFrame = Frame(kAnswer);
  const std::vector<Case> cases = {
      {"clean: NAK, request, ACK and answer, ACK",
       {{kEnq, kNak}, {kRequest, kAck + answerFrame}, {kAck, ""}},
       kAnswer,
       "02 | 04 | 11 | 00 | 2A 33 | 0C",
       {kReply1, kReply1, kStart, kStart, kBody4, kReply1}},
      {"no reply to the first ENQ, then clean",
       {{kEnq, ""}, {kEnq, kNak}, {kRequest, kAck + answerFrame}, {kAck, ""}},
       kAnswer,
       "02 | 04 | 11 | 00 | 2A 33 | 0C",
       {kReply1, kReply1, kReply1, kStart, kStart, kBody4, kReply1}},
      {"a bad check byte is NAKed; the next ENQ fetches the answer again",
       {{kEnq, kNak},
        {kRequest, kAck + BadFrame(kAnswer)},
        {kNak, ""},
        {kEnq, kAck + answerFrame},
        {kAck, ""}},
       kAnswer,
       "02 | 04 | 11 | 00 | 2A 33 | F3 | 02 | 04 | 11 | 00 | 2A 33 | 0C",
       {kReply1, kReply1, kStart, kStart, kBody4, kReply1, kReply1, kStart, kStart, kBody4,
        kReply1}},
      {"a stale answer held before the request is taken and dropped",
       {{kEnq, kAck + Frame(Bytes({0x10, 0x00}))},
        {kAck, ""},
        {kEnq, kNak},
        {kRequest, kAck + answerFrame},
        {kAck, ""}},
       kAnswer,
       "02 | 02 | 10 | 00 | 12 | 02 | 04 | 11 | 00 | 2A 33 | 0C",
       // After the stale answer's body the reply waits T + 1 again.
       {kReply1, kStart, kStart, 2 * T + 1, kReply1, kReply1, kReply1, kStart, kStart, kBody4,
        kReply1}},
      {"the late reply to an ENQ whose wait ran out comes before the request's ACK",
       // Taken for a refusal of the request, it would have it printed twice.
       {{kEnq, ""}, {kEnq, kNak + kNak}, {kRequest, kAck + answerFrame}, {kAck, ""}},
       kAnswer,
       "02 | 04 | 11 | 00 | 2A 33 | 0C",
       {kReply1, kReply1, kReply1, kReply1, kStart, kStart, kBody4, kReply1}},
      {"with every ENQ answered in time a NAK refuses the request: sent again",
       {{kEnq, kNak}, {kRequest, kNak}, {kEnq, kNak}, {kRequest, kAck + answerFrame}, {kAck, ""}},
       kAnswer,
       "02 | 04 | 11 | 00 | 2A 33 | 0C",
       {kReply1, kReply1, kReply1, kReply1, kStart, kStart, kBody4, kReply1}},
      {"a silent device: three ENQs unanswered",
       {{kEnq, ""}, {kEnq, ""}, {kEnq, ""}},
       std::nullopt,
       "",
       {kReply1, kReply1, kReply1}},
      {"a device that only ever answers ENQ with noise",
       // The ACK after the first noise is purged before the next ENQ.
       {{kEnq, "\x07\x06"}, {kEnq, std::string(1, STX)}, {kEnq, "\x7F"}},
       std::nullopt,
       "",
       {kReply1, kReply1, kReply1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempEnv env;
    auto script = std::make_shared<Script>();
    script->steps.assign(c.steps.begin(), c.steps.end());
    auto settings = std::make_shared<TLinkSettings>();
    TPort port(settings, [script](int32_t number, const SerialAbort*) {
      EXPECT_EQ(number, 7);
      ++script->opens;
      return std::make_unique<ScriptedLine>(script);
    });
    port.SetPortNumber(7);
    port.SetTimeout(T);
    if (c.answer) {
      EXPECT_EQ(port.Exchange(kRequest), *c.answer);
    } else {
      EXPECT_THAT([&] { port.Exchange(kRequest); }, test::ThrowsDriverError(-4, "Нет связи"));
    }
    EXPECT_TRUE(script->steps.empty()) << script->steps.size() << " steps not played";
    EXPECT_TRUE(script->unexpected.empty()) << "unexpected write " << script->unexpected.front();
    EXPECT_EQ(script->readLimits, c.readLimits);
    EXPECT_EQ(port.Input(), "02 05 11 93 1C 00 00 9B");
    EXPECT_EQ(port.Output(), c.output);
    EXPECT_EQ(script->opens, 1);
    EXPECT_EQ(script->baudRate, 4800);
  }
}

TEST(ScriptedLink, LateRepliesAfterAFailedExchangeNeverSendTheNextRequestTwice) {
  test::TempEnv env;
  auto script = std::make_shared<Script>();
  TPort port(std::make_shared<TLinkSettings>(), [script](int32_t, const SerialAbort*) {
    return std::make_unique<ScriptedLine>(script);
  });
  port.SetPortNumber(7);
  port.SetTimeout(T);
  auto play = [&](std::vector<Step> steps) {
    script->steps.assign(steps.begin(), steps.end());
    script->unexpected.clear();
  };
  auto played = [&] {
    EXPECT_TRUE(script->steps.empty()) << script->steps.size() << " steps not played";
    EXPECT_TRUE(script->unexpected.empty()) << "unexpected write " << script->unexpected.front();
  };
  const std::string answerFrame = Frame(kAnswer);
  // A device that stalls past three ENQ waits, then answers all of them.
  play({{kEnq, ""}, {kEnq, ""}, {kEnq, ""}});
  EXPECT_THAT([&] { port.Exchange(kRequest); }, test::ThrowsDriverError(-4, "Нет связи"));
  played();
  play({{kEnq, kNak + kNak + kNak + kNak}, {kRequest, kAck + answerFrame}, {kAck, ""}});
  EXPECT_EQ(port.Exchange(kRequest), kAnswer);
  played();
  // Back in step once the request was accepted: a NAK is a refusal again.
  play({{kEnq, kNak}, {kRequest, kNak}, {kEnq, kNak}, {kRequest, kAck + answerFrame}, {kAck, ""}});
  EXPECT_EQ(port.Exchange(kRequest), kAnswer);
  played();
  // No more NAKs are passed over than ENQs went unanswered.
  play({{kEnq, ""}, {kEnq, kNak + kNak + kNak}, {kRequest, kAck + answerFrame}, {kAck, ""}});
  EXPECT_THAT([&] { port.Exchange(kRequest); }, test::ThrowsDriverError(-4, "Нет связи"));
  EXPECT_EQ(script->steps.size(), 1u) << "the answer is never read";
}

TEST(ScriptedLink, AFactoryThatCannotOpenTheLineEndsTheExchangeWithItsError) {
  test::TempEnv env;
  int opens = 0;
  TPort port(std::make_shared<TLinkSettings>(), [&](int32_t, const SerialAbort*) {
    ++opens;
    throw EPortOpenError(rc::kPortUnavailable, msg::kPortUnavailable, "no such line");
    return std::unique_ptr<ISerialLine>();
  });
  EXPECT_THAT([&] { port.Exchange(kRequest); },
              test::ThrowsDriverError(-2, "СOM порт не доступен"));
  EXPECT_FALSE(port.Opened());
  // Every exchange tries the line again.
  EXPECT_THROW(port.Exchange(kRequest), EPortOpenError);
  EXPECT_EQ(opens, 2);
}

}  // namespace
}  // namespace varn
