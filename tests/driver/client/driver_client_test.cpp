// The client against a scripted driver object that records what it is
// asked (the session's order on every way out), and against the real
// driver library (the generated DISPIDs are the driver's).
#include "driver/client/driver_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/text.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace id = drv_dispid;

// Answers methods with scripted result codes (0 unless told), ResultCode
// and ResultCodeDescription from the last non-zero code, and fails the
// members listed in `broken` as the object model does. Every call is
// recorded by its member's name ("Set_Name" for a put).
class TScriptedDriver : public RefCountedDispatch {
 public:
  std::map<DISPID, int32_t> codes;
  std::set<DISPID> broken;
  std::vector<std::string> calls;
  int32_t last = 0;
  std::map<DISPID, Variant> values;

  HRESULT GetIDsOfNames(std::span<const std::u16string> names, std::span<DISPID> ids) override {
    for (const auto& m : id::kMembers)
      if (m.name == names[0]) {
        ids[0] = m.id;
        return S_OK;
      }
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT Invoke(DISPID member, uint16_t flags, DispParams& params, Variant* result,
                 ExcepInfo* excep, uint32_t*) override {
    const std::string name = Utf16ToUtf8(std::u16string(id::Name(member)));
    calls.push_back((flags & DISPATCH_PROPERTYPUT) ? "Set_" + name : name);
    if (broken.count(member)) {
      excep->description = u"сломано";
      return DISP_E_EXCEPTION;
    }
    if (flags & DISPATCH_PROPERTYPUT) {
      values[member] = params.args[0];
    } else if (member == id::kResultCode) {
      *result = Variant(last);
    } else if (member == id::kResultCodeDescription) {
      *result = Variant(Utf8ToUtf16("Ошибка " + std::to_string(last)));
    } else if (flags & DISPATCH_METHOD) {
      last = codes.count(member) ? codes[member] : 0;
      *result = Variant(last);
    } else {
      *result = values[member];
    }
    return S_OK;
  }
};

struct Scripted {
  TScriptedDriver* object = new TScriptedDriver;
  DriverClient client{DispatchPtr(object)};
  std::vector<std::string> Calls() {
    auto c = object->calls;
    object->calls.clear();
    return c;
  }
};

TEST(DriverClientTest, TypedAccessChecksAndNamesItsMembers) {
  Scripted s;
  DriverClient& d = s.client;
  d.Set(id::kTableNumber, 7);
  d.SetText(id::kStringForPrinting, "Привет");
  EXPECT_EQ(d.Int(id::kTableNumber), 7);
  EXPECT_EQ(d.Text(id::kStringForPrinting), "Привет");
  // By name: the same members, each name looked up once.
  EXPECT_EQ(d.Int(u"TableNumber"), 7);
  EXPECT_EQ(d.Id(u"TableNumber"), id::kTableNumber);
  EXPECT_THAT(s.Calls(), ElementsAre("Set_TableNumber", "Set_StringForPrinting", "TableNumber",
                                     "StringForPrinting", "TableNumber"));

  s.object->codes[id::kBeep] = -4;
  EXPECT_EQ(d.Call(id::kBeep), -4);
  EXPECT_EQ(d.ResultLine(), "-4: Ошибка -4");
  try {
    d.Check(id::kBeep);
    ADD_FAILURE() << "no error";
  } catch (const EDriverError& e) {
    EXPECT_EQ(e.Code, -4);
    EXPECT_STREQ(e.what(), "Ошибка -4");
  }
  EXPECT_NO_THROW(d.Check(id::kGetECRStatus));

  // The object model's failures keep their HRESULT and say which member.
  s.object->broken = {id::kFeedDocument};
  try {
    d.Call(id::kFeedDocument);
    ADD_FAILURE() << "no error";
  } catch (const EDispatchError& e) {
    EXPECT_EQ(e.Code, DISP_E_EXCEPTION);
    EXPECT_STREQ(e.what(), "сломано");
  }
  try {
    d.Call(u"Bepe");
    ADD_FAILURE() << "no error";
  } catch (const EDispatchError& e) {
    EXPECT_EQ(e.Code, DISP_E_UNKNOWNNAME);
    EXPECT_STREQ(e.what(), "Bepe: automation call failed with 0x80020006");
  }
}

// Each case: what fails, the steps asked for, and the calls the driver
// sees, opening and closing included.
TEST(DriverClientTest, SessionClosesInOrderOnEveryWayOut) {
  const SessionSteps full{.serverDisconnect = true};
  const auto run = [](const SessionSteps& steps, std::map<DISPID, int32_t> codes,
                      std::set<DISPID> broken, bool failInside, bool closeNow) {
    Scripted s;
    s.object->codes = std::move(codes);
    s.object->broken = std::move(broken);
    std::string outcome = "ok";
    try {
      DriverSession session(s.client, steps);
      if (!session.Opened()) outcome = "not opened";
      if (failInside) throw EDriverError(-30, "cancelled");  // as a cancel ends an operation
      if (closeNow) session.Close();
    } catch (const EDriverError& e) {
      outcome = "EDriverError " + std::to_string(e.Code);
    } catch (const EDispatchError& e) {
      outcome = std::string("EDispatchError ") + e.what();
    }
    std::vector<std::string> calls = s.Calls();
    calls.insert(calls.begin(), outcome);
    return calls;
  };
  // The whole way, and an operation ended by cancelling.
  EXPECT_THAT(run(full, {}, {}, false, true),
              ElementsAre("ok", "ServerConnect", "LockPort", "Connect", "Disconnect", "UnlockPort",
                          "ServerDisconnect"));
  EXPECT_THAT(run(full, {}, {}, true, false),
              ElementsAre("EDriverError -30", "ServerConnect", "LockPort", "Connect", "Disconnect",
                          "UnlockPort", "ServerDisconnect"));
  // A step that fails undoes only those before it.
  EXPECT_THAT(run(full, {{id::kServerConnect, -16}}, {}, false, true),
              ElementsAre("EDriverError -16", "ServerConnect", "ResultCodeDescription"));
  EXPECT_THAT(run(full, {{id::kLockPort, -18}}, {}, false, true),
              ElementsAre("EDriverError -18", "ServerConnect", "LockPort", "ResultCodeDescription",
                          "ServerDisconnect"));
  EXPECT_THAT(run(full, {{id::kConnect, -4}}, {}, false, true),
              ElementsAre("EDriverError -4", "ServerConnect", "LockPort", "Connect",
                          "ResultCodeDescription", "UnlockPort", "ServerDisconnect"));
  // A step the object model refuses counts as failed.
  EXPECT_THAT(run(full, {}, {id::kConnect}, false, true),
              ElementsAre("EDispatchError сломано", "ServerConnect", "LockPort", "Connect",
                          "UnlockPort", "ServerDisconnect"));
  // Closing goes on past a failed step; the destructor keeps the failure,
  // Close raises it.
  EXPECT_THAT(run(full, {}, {id::kDisconnect}, false, false),
              ElementsAre("ok", "ServerConnect", "LockPort", "Connect", "Disconnect", "UnlockPort",
                          "ServerDisconnect"));
  EXPECT_THAT(run(full, {}, {id::kDisconnect}, false, true),
              ElementsAre("EDispatchError сломано", "ServerConnect", "LockPort", "Connect",
                          "Disconnect", "UnlockPort", "ServerDisconnect"));
  // The failure inside is the one reported, not the closing's.
  EXPECT_THAT(run(full, {}, {id::kUnlockPort}, true, false),
              ElementsAre("EDriverError -30", "ServerConnect", "LockPort", "Connect", "Disconnect",
                          "UnlockPort", "ServerDisconnect"));
  // Without Connect's undoing and the server's (the firmware key).
  EXPECT_THAT(run({.disconnect = false}, {{id::kConnect, -4}}, {}, false, true),
              ElementsAre("EDriverError -4", "ServerConnect", "LockPort", "Connect",
                          "ResultCodeDescription", "UnlockPort"));
  // Unchecked: the opening stops at the first non-zero result, and with
  // closeAll every closing step runs (the property page's buttons).
  const SessionSteps page{.serverDisconnect = true, .checked = false, .closeAll = true};
  EXPECT_THAT(run(page, {{id::kLockPort, -18}}, {}, false, true),
              ElementsAre("not opened", "ServerConnect", "LockPort", "Disconnect", "UnlockPort",
                          "ServerDisconnect"));
  EXPECT_THAT(run({.checked = false}, {{id::kLockPort, -18}}, {}, false, true),
              ElementsAre("not opened", "ServerConnect", "LockPort"));
  // The lock alone (the search, port by port): unlocked also when refused.
  const SessionSteps lockOnly{
      .serverConnect = false, .connect = false, .checked = false, .closeAll = true};
  EXPECT_THAT(run(lockOnly, {{id::kLockPort, -18}}, {}, false, false),
              ElementsAre("not opened", "LockPort", "UnlockPort"));
}

// The generated DISPIDs are the real driver's: every name, by ProgID
// through the library beside the test.
TEST(DriverClientTest, GeneratedIdsAreTheDriversOwn) {
  test::TempEnv env;
  DriverClient d;
  EXPECT_FALSE(d.Created());
  size_t count = 0;
  for (const auto& m : drv_dispid::kMembers) {
    EXPECT_EQ(d.Id(std::u16string(m.name)), m.id) << Utf16ToUtf8(std::u16string(m.name));
    ++count;
  }
  EXPECT_TRUE(d.Created());
  EXPECT_GT(count, 100u);
  EXPECT_EQ(d.Int(id::kResultCode), 0);
  EXPECT_THAT(std::u16string(drv_dispid::Name(0)), IsEmpty());
}

}  // namespace
}  // namespace varn
