// Logical devices through the driver as hosts create it: the list and its
// buffer, the "Logical Devices" key, the active device's connection
// settings, and several objects and processes saving the same key.
#include <fstream>
#include <map>
#include <set>

#include "driver/core/errors.h"
#include "platform/testing/child_process.h"
#include "tests/driver/core/driver_fixture.h"

namespace varn::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

using Result = std::pair<int32_t, std::string>;
const Result kOk{0, "Ошибок нет."};
const Result kRange{-9, "Параметр вне диапазона."};
const std::string kKey = kLogicalDevicesKey;

// A buffer AddLD accepts: socket port 211, COM `com`.
void FillBuffer(Driver& drv, const char* name, int com = 1) {
  drv.Set(u"LDName", name);
  drv.Set(u"LDTCPPort", Variant(211));
  drv.Set(u"LDComNumber", Variant(com));
  drv.Set(u"LDBaudrate", Variant(1));
  drv.Set(u"LDTimeout", Variant(100));
  drv.Set(u"LDConnectionType", Variant(0));
}

// Number and name of every device, in list order, as EnumLD shows them.
std::vector<std::pair<int32_t, std::string>> Devices(Driver& drv) {
  std::vector<std::pair<int32_t, std::string>> out;
  const int32_t keep = drv.Int(u"LDIndex");
  for (int32_t i = 0; i < drv.Int(u"LDCount"); ++i) {
    drv.Set(u"LDIndex", Variant(i));
    EXPECT_EQ(drv.Call(u"EnumLD"), 0);
    out.emplace_back(drv.Int(u"LDNumber"), drv.Text(u"LDName"));
  }
  drv.Set(u"LDIndex", Variant(keep));
  return out;
}

using DeviceList = std::vector<std::pair<int32_t, std::string>>;

// The whole buffer in one line, number and name first.
std::string Buffer(Driver& drv) {
  std::string line;
  for (const char16_t* name :
       {u"LDNumber", u"LDName", u"LDTCPPort", u"LDTimeout", u"LDBaudrate", u"LDComNumber",
        u"LDConnectionType", u"LDComputerName", u"LDIPAddress", u"LDUseIPAddress"})
    line += (line.empty() ? "" : "|") + drv.Text(name);
  return line;
}

// A device subkey as another program may write it.
void WriteDevice(RegistryData& data, const std::string& sub, int number, const std::string& name) {
  const std::string key = kKey + "\\" + sub;
  data.SetValue(key, "Number", {RegValue::Type::Dword, {}, static_cast<uint32_t>(number)});
  data.SetValue(key, "Name", {RegValue::Type::String, name, 0});
  for (const char* v : {"TCPPort", "Timeout", "Baudrate", "ComNumber", "ConnectionType"})
    data.SetValue(key, v, {RegValue::Type::Dword, {}, 4});
  data.SetValue(key, "ComputerName", {RegValue::Type::String, "host", 0});
  data.SetValue(key, "IPAddress", {RegValue::Type::String, "10.0.0.1", 0});
  data.SetValue(key, "UseIPAddress", {RegValue::Type::Dword, {}, 1});
}

TEST_F(DriverTest, FirstStartNumbersAndTheLimit) {
  registry.WriteString(kDriverParamKey, "LogFileName", env.Path("drv.log"));
  registry.WriteDword(kDriverParamKey, "LogEnabled", 1);
  {
    Driver drv;
    // One default device, not written; the Param key without "CurrentDevice"
    // leaves LDIndex where the list put it.
    EXPECT_EQ(drv.Int(u"LDCount"), 1);
    EXPECT_EQ(drv.Int(u"LDIndex"), 0);
    EXPECT_FALSE(registry.KeyExists(kKey));
    // The buffer starts as a new device would, but for its number and name;
    // AddLD still wants a socket port.
    EXPECT_EQ(Buffer(drv), "0||0|100|1|1|0|" + LocalComputerName() + "||False");
    EXPECT_EQ(drv.Call(u"AddLD"), -9);
    EXPECT_EQ(drv.Call(u"EnumLD"), 0);
    EXPECT_EQ(Buffer(drv), "1|Устройство №1|0|100|1|1|0|" + LocalComputerName() + "||False");

    // GetFreeLDNumber reports the number and leaves the result alone.
    drv.Set(u"LDIndex", Variant(1));
    EXPECT_EQ(drv.Call(u"EnumLD"), -9);
    EXPECT_EQ(drv.Call(u"GetFreeLDNumber"), 2);
    EXPECT_EQ(drv.Result(), kRange);
    EXPECT_EQ(drv.Call(u"GetCountLD"), 0);
    EXPECT_EQ(drv.Result(), kOk);

    // Each rule of the buffer refuses on its own, the socket port even for a
    // connection that does not use it.
    FillBuffer(drv, "Касса");
    const std::vector<std::pair<const char16_t*, int>> bad = {
        {u"LDTCPPort", 0},         {u"LDComNumber", 0}, {u"LDComNumber", 33},
        {u"LDBaudrate", -1},       {u"LDBaudrate", 10}, {u"LDConnectionType", 3},
        {u"LDConnectionType", -1},
    };
    for (const auto& [name, value] : bad) {
      FillBuffer(drv, "Касса");
      drv.Set(name, Variant(value));
      EXPECT_EQ(drv.Call(u"AddLD"), -9) << Utf16ToUtf8(name) << " " << value;
      EXPECT_EQ(drv.Result(), kRange);
    }
    EXPECT_EQ(drv.Int(u"LDCount"), 1);
    EXPECT_FALSE(registry.KeyExists(kKey));

    // The buffer's name, the next free number, the whole list written.
    FillBuffer(drv, "Касса", 9);
    drv.Set(u"LDBaudrate", Variant(9));
    EXPECT_EQ(drv.Call(u"AddLD"), 0);
    EXPECT_EQ(drv.Int(u"LDNumber"), 2);
    EXPECT_EQ(drv.Int(u"LDIndex"), 1);
    EXPECT_EQ(registry.SubKeys(kKey), (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(
        registry.ValueNames(kKey + "\\1"),
        (std::vector<std::string>{"Name", "TCPPort", "IPAddress", "Number", "Timeout", "Baudrate",
                                  "ComputerName", "ComNumber", "ConnectionType", "UseIPAddress"}));
    EXPECT_EQ(registry.ReadDword(kKey + "\\1", "ComNumber"), 9u);

    // Numbers 1 and 3, then AddLD takes 2 and places it second.
    FillBuffer(drv, "Третья");
    EXPECT_EQ(drv.Call(u"AddLD"), 0);
    drv.Set(u"LDNumber", Variant(2));
    EXPECT_EQ(drv.Call(u"DeleteLD"), 0);  // LDIndex 2 is past the end now
    EXPECT_EQ(drv.Int(u"LDIndex"), 1);
    EXPECT_EQ(drv.Int(u"LDNumber"), 3);
    EXPECT_EQ(drv.Text(u"LDName"), "Третья");
    EXPECT_EQ(registry.SubKeys(kKey).size(), 3u);  // DeleteLD writes nothing
    drv.Set(u"LDNumber", Variant(2));
    EXPECT_EQ(drv.Call(u"DeleteLD"), -9);  // gone already
    EXPECT_EQ(drv.Call(u"GetParamLD"), -9);
    EXPECT_EQ(drv.Int(u"LDIndex"), 1);
    FillBuffer(drv, "Вторая");
    EXPECT_EQ(drv.Call(u"AddLD"), 0);
    EXPECT_EQ(drv.Int(u"LDNumber"), 2);
    EXPECT_EQ(drv.Int(u"LDIndex"), 1);
    EXPECT_EQ(Devices(drv), (DeviceList{{1, "Устройство №1"}, {2, "Вторая"}, {3, "Третья"}}));
  }
  // Up to the devices dialog's limit, and not one more: 95 more written by
  // another program (backwards: the load sorts them), the 99th added.
  registry.Update([](RegistryData& data) {
    for (int n = 98; n >= 4; --n) WriteDevice(data, "d" + std::to_string(n), n, "Ещё");
  });
  {
    Driver drv;
    EXPECT_EQ(drv.Int(u"LDCount"), 98);
    FillBuffer(drv, "Последнее");
    EXPECT_EQ(drv.Call(u"AddLD"), 0);
    EXPECT_EQ(drv.Int(u"LDNumber"), 99);
    EXPECT_EQ(drv.Int(u"LDIndex"), 98);
    EXPECT_EQ(drv.Call(u"GetFreeLDNumber"), 100);
    EXPECT_EQ(drv.Call(u"AddLD"), -9);
    EXPECT_EQ(registry.SubKeys(kKey).size(), 99u);

    // Deleting the last device each time, down to none.
    for (int32_t n = 99; n >= 1; --n) {
      drv.Set(u"LDNumber", Variant(n));
      ASSERT_EQ(drv.Call(u"DeleteLD"), 0);
      ASSERT_EQ(drv.Int(u"LDIndex"), n - 2);
      if (n > 1) {
        ASSERT_EQ(drv.Int(u"LDNumber"), n - 1);  // the buffer follows
      }
    }
    EXPECT_EQ(drv.Int(u"LDCount"), 0);
    EXPECT_EQ(drv.Call(u"GetFreeLDNumber"), 1);
    EXPECT_EQ(drv.Call(u"GetParamLD"), -9);
    EXPECT_EQ(drv.Call(u"SetParamLD"), -9);
    EXPECT_EQ(registry.SubKeys(kKey).size(), 99u);
  }
  // The empty list was written when the object went; an empty key loads
  // as the first start does.
  EXPECT_TRUE(registry.KeyExists(kKey));
  EXPECT_TRUE(registry.SubKeys(kKey).empty());
  Driver again;
  EXPECT_EQ(Devices(again), (DeviceList{{1, "Устройство №1"}}));

  const std::string log = ReadFileOrEmpty(env.Path("drv.log"));
  EXPECT_THAT(log, HasSubstr(" GetFreeLDNumber: 2\r\n"));
  EXPECT_THAT(log, HasSubstr(" Get_LDCount: 1\r\n"));
}

TEST_F(DriverTest, AFirstStartWritesItsListUnlessAnotherObjectSavedMeanwhile) {
  {
    Driver drv;
    EXPECT_FALSE(registry.KeyExists(kKey));  // written when the object goes
  }
  EXPECT_EQ(registry.SubKeys(kKey), (std::vector<std::string>{"0"}));
  EXPECT_EQ(registry.ReadString(kKey + "\\0", "Name"), "Устройство №1");
  EXPECT_EQ(registry.ReadDword(kKey + "\\0", "Number"), 1u);
  EXPECT_EQ(registry.ReadString(kKey + "\\0", "ComputerName"), LocalComputerName());

  // Both start first; B saves its list, A going later leaves it whole.
  registry.DeleteKey(kKey);
  {
    Driver a, b;
    FillBuffer(b, "От B");
    ASSERT_EQ(b.Call(u"AddLD"), 0);
    b.Release();
  }
  Driver after;
  EXPECT_EQ(Devices(after), (DeviceList{{1, "Устройство №1"}, {2, "От B"}}));
}

TEST_F(DriverTest, TheActiveDeviceSwitchesTheConnection) {
  StartDevice();  // COM1 at 4800
  emu::EmulatorOptions second;
  second.baudCode = 2;
  second.paperPath = env.Path("paper2.txt");
  devices.push_back(std::make_unique<emu::EmulatedDevice>(second));
  registrations.push_back(std::make_unique<emu::TComRegistration>(2, devices.back()->SlavePath()));

  Driver drv;
  EXPECT_EQ(drv.Call(u"GetActiveLD"), -9);  // none after creation
  drv.Set(u"StringForPrinting", "на первом");
  ASSERT_EQ(drv.Call(u"PrintString"), 0);
  FillBuffer(drv, "Второй", 2);
  drv.Set(u"LDBaudrate", Variant(2));
  drv.Set(u"LDTimeout", Variant(300));
  drv.Set(u"LDComputerName", "");
  ASSERT_EQ(drv.Call(u"AddLD"), 0);

  // An unknown number changes nothing at all.
  drv.Set(u"LDNumber", Variant(7));
  EXPECT_EQ(drv.Call(u"SetActiveLD"), -9);
  EXPECT_EQ(drv.Result(), kRange);
  EXPECT_TRUE(drv.Get(u"ServerConnected").ToBool());
  EXPECT_EQ(drv.Int(u"ComNumber"), 1);

  drv.Set(u"LDNumber", Variant(2));
  EXPECT_EQ(drv.Call(u"SetActiveLD"), 0);
  EXPECT_FALSE(drv.Get(u"ServerConnected").ToBool());
  std::string settings;
  for (const char16_t* name : {u"ComNumber", u"BaudRate", u"Timeout", u"TCPPort", u"ComputerName"})
    settings += drv.Text(name) + "|";
  EXPECT_EQ(settings, "2|2|300|211||");
  // The next command goes to the other device, its port opened anew.
  drv.Set(u"StringForPrinting", "на втором");
  EXPECT_EQ(drv.Call(u"PrintString"), 0);
  EXPECT_THAT(ReadFileOrEmpty(env.Path("paper2.txt")), HasSubstr("на втором\n"));
  EXPECT_THAT(Paper(), Not(HasSubstr("на втором")));
  // Switching devices does not write the driver settings.
  EXPECT_EQ(registry.ReadDword(kDriverParamKey, "ComNumber"), std::nullopt);

  drv.Set(u"LDIndex", Variant(0));
  drv.Set(u"LDNumber", Variant(0));
  EXPECT_EQ(drv.Call(u"GetActiveLD"), 0);
  EXPECT_EQ(drv.Int(u"LDNumber"), 2);
  EXPECT_EQ(drv.Int(u"LDIndex"), 1);
  // The selected position is the settings' "CurrentDevice".
  EXPECT_EQ(drv.Call(u"SaveParams"), 0);
  EXPECT_EQ(registry.ReadDword(kDriverParamKey, "CurrentDevice"), 1u);
  {
    Driver next;
    EXPECT_EQ(next.Int(u"LDIndex"), 1);
    EXPECT_EQ(next.Call(u"GetActiveLD"), -9);  // the active number is the object's own
  }
  // Deleting the active device leaves none active; the settings stay.
  EXPECT_EQ(drv.Call(u"DeleteLD"), 0);
  EXPECT_EQ(drv.Call(u"GetActiveLD"), -9);
  EXPECT_EQ(drv.Int(u"ComNumber"), 2);

  // "CurrentDevice" is taken as it is, checked only by EnumLD.
  registry.WriteDword(kDriverParamKey, "CurrentDevice", 5);
  Driver far;
  EXPECT_EQ(far.Int(u"LDIndex"), 5);
  EXPECT_EQ(far.Call(u"EnumLD"), -9);
}

TEST_F(DriverTest, ObjectsSaveTheirListsWhole) {
  {
    Driver a, b;
    FillBuffer(b, "От B");
    ASSERT_EQ(b.Call(u"AddLD"), 0);
    // A changes nothing: going, it leaves B's list alone.
  }
  {
    Driver c;
    EXPECT_EQ(Devices(c), (DeviceList{{1, "Устройство №1"}, {2, "От B"}}));
    // Changes without SaveLDParams are written when the object goes.
    c.Set(u"LDNumber", Variant(1));
    ASSERT_EQ(c.Call(u"GetParamLD"), 0);
    c.Set(u"LDName", "Переименована");
    c.Set(u"LDComNumber", Variant(77));  // SetParamLD checks nothing
    ASSERT_EQ(c.Call(u"SetParamLD"), 0);
    EXPECT_EQ(registry.ReadString(kKey + "\\0", "Name"), "Устройство №1");
  }
  EXPECT_EQ(registry.ReadString(kKey + "\\0", "Name"), "Переименована");
  EXPECT_EQ(registry.ReadDword(kKey + "\\0", "ComNumber"), 77u);
  {
    // Both edit: the last list saved wins whole.
    Driver a, b;
    FillBuffer(a, "От A");
    ASSERT_EQ(a.Call(u"AddLD"), 0);
    b.Set(u"LDNumber", Variant(2));
    ASSERT_EQ(b.Call(u"DeleteLD"), 0);
    ASSERT_EQ(b.Call(u"SaveLDParams"), 0);
    a.Release();
    EXPECT_EQ(registry.SubKeys(kKey).size(), 1u);
  }

  // The values of a key written by another program: any subkey names, a
  // line break in a name, a missing value ending the load right there.
  registry.DeleteKey(kKey);
  registry.Update([&](RegistryData& data) {
    WriteDevice(data, "касса", 5, "Пятая\r\nстрока");
    WriteDevice(data, "x", 2, "Вторая");
    data.DeleteValue(kKey + "\\x", "Timeout");
    WriteDevice(data, "y", 1, "Не дочитана");
  });
  Driver partial;
  // Not sorted and no fresh defaults after the failure: 5, then 2 as far as read.
  EXPECT_EQ(Devices(partial), (DeviceList{{5, "Пятая\r\nстрока"}, {2, "Вторая"}}));
  // Read up to the missing "Timeout"; the rest keep the defaults.
  partial.Set(u"LDIndex", Variant(1));
  ASSERT_EQ(partial.Call(u"EnumLD"), 0);
  EXPECT_EQ(Buffer(partial), "2|Вторая|4|100|1|1|0|" + LocalComputerName() + "||False");
  ASSERT_EQ(partial.Call(u"SaveLDParams"), 0);
  Driver reread;
  EXPECT_EQ(Devices(reread), (DeviceList{{2, "Вторая"}, {5, "Пятая\r\nстрока"}}));

  // A registry file that cannot be read is never overwritten: the save
  // fails as any driver failure does, the object still goes quietly.
  const std::string damaged = "damaged\n";
  {
    std::ofstream(env.RegistryFile()) << damaged;
    reread.Set(u"LDNumber", Variant(2));
    ASSERT_EQ(reread.Call(u"DeleteLD"), 0);
    EXPECT_EQ(reread.Call(u"SaveLDParams"), -16);
    EXPECT_THAT(reread.Text(u"ResultCodeDescription"),
                StartsWith("Ошибка подключения. registry file, line 1"));
    reread.Release();
  }
  EXPECT_EQ(ReadFileOrEmpty(env.RegistryFile()), damaged);
}

TEST_F(DriverTest, ProcessesSavingAtOnceNeverCorruptTheKey) {
  // Two varn processes and an object here each add 15 devices at the same
  // time, every AddLD rewriting the whole key from the writer's own list.
  constexpr int kAdds = 15;
  std::vector<std::unique_ptr<ChildProcess>> writers;
  for (const char* name : {"P", "Q"}) {
    std::vector<std::string> args;
    for (int i = 0; i < kAdds; ++i)
      for (const std::string& w :
           std::vector<std::string>{"set", "LDName=" + std::string(name), "set", "LDTCPPort=211",
                                    "set", "LDComNumber=1", "call", "AddLD"})
        args.push_back(w);
    writers.push_back(
        std::make_unique<ChildProcess>(VARN_PROGRAM, args, env.Path(std::string(name) + ".out")));
  }
  {
    Driver t;
    for (int i = 0; i < kAdds; ++i) {
      FillBuffer(t, "T");
      ASSERT_EQ(t.Call(u"AddLD"), 0);
      ASSERT_NO_THROW(registry.Load());  // a reader always finds a whole file
    }
  }
  for (auto& w : writers) ASSERT_EQ(w->Wait(kPatience), 0);
  for (const char* name : {"P", "Q"})
    EXPECT_THAT(ReadFileOrEmpty(env.Path(std::string(name) + ".out")),
                HasSubstr("AddLD: 0\nResultCode: 0\nResultCodeDescription: Ошибок нет.\n"));

  // Every device complete at positions 0..n-1, numbers 1..n; the list is one
  // writer's whole, so it holds every device that writer added.
  const RegistryData data = registry.Load();
  const auto subs = data.SubKeys(kKey);
  std::map<std::string, int> byName;
  std::set<uint32_t> numbers;
  for (size_t i = 0; i < subs.size(); ++i) {
    const std::string key = kKey + "\\" + std::to_string(i);
    ASSERT_EQ(subs[i], std::to_string(i));
    ASSERT_EQ(data.Find(key)->values.size(), 10u);
    numbers.insert(data.Value(key, "Number")->dword);
    ++byName[data.Value(key, "Name")->text];
  }
  EXPECT_EQ(numbers.size(), subs.size());
  EXPECT_EQ(*numbers.rbegin(), subs.size());
  EXPECT_TRUE(byName["P"] == kAdds || byName["Q"] == kAdds || byName["T"] == kAdds);

  // varn drives the LD members like any others; GetFreeLDNumber's number is
  // no failure.
  ChildProcess get(VARN_PROGRAM,
                   {"set", "LDNumber=1", "call", "GetParamLD", "get", "LDName", "call",
                    "GetFreeLDNumber", "set", "LDIndex=1", "call", "EnumLD", "get", "LDNumber"},
                   env.Path("get.out"));
  ASSERT_EQ(get.Wait(kPatience), 0);
  EXPECT_EQ(ReadFileOrEmpty(env.Path("get.out")),
            "GetParamLD: 0\nResultCode: 0\nResultCodeDescription: Ошибок нет.\n"
            "LDName: Устройство №1\n"
            "GetFreeLDNumber: " +
                std::to_string(subs.size() + 1) +
                "\nResultCode: 0\nResultCodeDescription: Ошибок нет.\n"
                "EnumLD: 0\nResultCode: 0\nResultCodeDescription: Ошибок нет.\n"
                "LDNumber: 2\n");
}

}  // namespace
}  // namespace varn::test
