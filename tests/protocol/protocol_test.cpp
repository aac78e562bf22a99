// The wire protocol's pieces, byte for byte.
#include <stdexcept>

#include "platform/text.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "tests/support/test_env.h"

namespace varn::protocol {
namespace {

TEST(ProtocolTest, FramesRequestsAndNames) {
  EXPECT_EQ(HexDump(Frame(std::string(1, '\xFC'))), "02 01 FC FD");  // no password
  EXPECT_EQ(HexDump(Frame("")), "02 00 00");
  EXPECT_EQ(HexDump(Frame(Request(cmd::GetECRStatus))), "02 05 11 97 1C 00 00 9F");
  EXPECT_EQ(HexDump(Request(cmd::Test, "\x05")), "19 97 1C 00 00 05");
  EXPECT_EQ(CheckByte(std::string(255, '\x01')), 0xFE);  // 255 ones: LEN FF, odd count
  EXPECT_EQ(Frame(std::string(255, 'x')).size(), 258u);
  EXPECT_THROW(Frame(std::string(256, 'x')), std::length_error);

  EXPECT_EQ(CommandName(cmd::GetECRStatus), "Запрос состояния");
  EXPECT_EQ(CommandName(cmd::GetDeviceMetrics), "Получить тип устройства");
  EXPECT_EQ(CommandName(0x01), "Запрос дампа");       // the first row
  EXPECT_EQ(CommandName(0xFD), "Управление портом");  // the last
  EXPECT_EQ(CommandName(0x04), "");
  EXPECT_EQ(CommandName(0xFF), "");
  EXPECT_EQ(CommandName(cmd::DrawEx), "Загрузка расширенной графики");
  EXPECT_EQ(CommandName(cmd::LoadLineDataEx), "Печать расширенной графики");
}

}  // namespace
}  // namespace varn::protocol
