// The device's error texts and command names, every row against a separate
// transcription.
#include <map>
#include <sstream>

#include "protocol/commands.h"
#include "tests/protocol/device_tables.h"
#include "tests/support/test_env.h"

namespace varn {
namespace {

// "a<TAB>b[<TAB>c]" lines; blank lines are skipped.
std::vector<std::vector<std::string>> Rows(const char* text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::vector<std::string> cells;
    size_t pos = 0;
    for (size_t tab; (tab = line.find('\t', pos)) != std::string::npos; pos = tab + 1)
      cells.push_back(line.substr(pos, tab - pos));
    cells.push_back(line.substr(pos));
    rows.push_back(cells);
  }
  return rows;
}

TEST(DeviceErrorText, EveryCodeGivesItsRowOrTheFallback) {
  std::map<int, std::string> expected;
  for (const auto& row : Rows(test::kDeviceErrorRows)) {
    ASSERT_EQ(row.size(), 3u);
    const int code = std::stoi(row[0]);
    ASSERT_EQ(std::stoi(row[1], nullptr, 16), code) << "decimal and hex disagree at " << row[0];
    ASSERT_TRUE(expected.emplace(code, row[2]).second) << "code twice: " << code;
  }
  ASSERT_EQ(expected.size(), 150u);

  for (int code = 0; code < 256; ++code) {
    const auto it = expected.find(code);
    const std::string want =
        it != expected.end() ? it->second
                             : "Неизвестный код ошибки устройства (" + std::to_string(code) + ").";
    EXPECT_EQ(protocol::DeviceErrorText(static_cast<uint8_t>(code)), want) << "code " << code;
  }

  EXPECT_EQ(protocol::DeviceErrorText(1), "Неисправен накопитель ФП 1, ФП 2 или часы");
  EXPECT_EQ(protocol::DeviceErrorText(199), "Поле не редактируется в данном режиме");
  EXPECT_EQ(protocol::DeviceErrorText(200), "Неизвестный код ошибки устройства (200).");
  EXPECT_EQ(protocol::DeviceErrorText(12), "Неизвестный код ошибки устройства (12).");
  for (uint8_t code : {103, 128, 129, 130, 131})
    EXPECT_EQ(protocol::DeviceErrorText(code), "Ошибка связи с ФП");
  EXPECT_EQ(protocol::DeviceErrorText(132), "Переполнение наличности");
  // A Latin C, then the Cyrillic "умма".
  EXPECT_EQ(protocol::DeviceErrorText(69).substr(0, 3), "C\xD1\x83");
}

TEST(CommandName, EveryCodeGivesItsRowOrNothing) {
  std::map<int, std::string> expected;
  for (const auto& row : Rows(test::kCommandNameRows)) {
    ASSERT_EQ(row.size(), 2u);
    ASSERT_TRUE(expected.emplace(std::stoi(row[0], nullptr, 16), row[1]).second) << row[0];
  }
  ASSERT_EQ(expected.size(), 135u);

  for (int code = 0; code < 256; ++code) {
    const auto it = expected.find(code);
    EXPECT_EQ(protocol::CommandName(static_cast<uint8_t>(code)),
              it != expected.end() ? it->second : "")
        << "code " << code;
  }

  EXPECT_EQ(protocol::CommandName(0x11), "Запрос состояния");
  EXPECT_EQ(protocol::CommandName(0xFC), "Получить тип устройства");
  EXPECT_EQ(protocol::CommandName(0x04), "");
  EXPECT_EQ(protocol::CommandName(0xC3), "Загрузка расширенной графики");
  EXPECT_EQ(protocol::CommandName(0xC4), "Печать расширенной графики");
}

}  // namespace
}  // namespace varn
