// The EEPROM screen and Intel HEX files against the simulated device.
#include <filesystem>

#include "console/codepage.h"
#include "eeprom/eeprom_editor.h"
#include "support/sim_bench.h"

namespace qs {
namespace {

class EepromScreen : public test::SimBench {
 protected:
  void SetUp() override {
    test::SimBench::SetUp();
    editor = std::make_unique<EepromEditor>(*link);
    for (int i = 0; i < 4096; ++i) device(0x21).eeprom[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7);
  }
  // (address, count) of every EEPROM read and write request, in order.
  std::vector<std::pair<int, int>> requests(uint8_t code) const {
    std::vector<std::pair<int, int>> out;
    for (const auto& f : line.requests) {
      if (f[1] != code) continue;
      int address = (f[4] << 8) | f[5];
      out.emplace_back(address, code == 0x6F ? f[6] : f[3] - 2);
    }
    return out;
  }
  int run(std::initializer_list<std::string> keys) {
    for (const auto& k : keys) vc.pushKey(k);
    return editor->run();
  }
  test::TempDir dir;
  std::unique_ptr<EepromEditor> editor;
};

TEST_F(EepromScreen, ReadsOnlyWhatIsShown) {
  vc.onIdle = [&] {
    EXPECT_EQ(requests(0x6F), (std::vector<std::pair<int, int>>{{0x000, 128}, {0x080, 128}, {0x100, 128}, {0x180, 128}}));
    EXPECT_EQ(vc.rowText(4).substr(0, 32), "0x0000: 00 07 0E 15 1C 23 2A 31 ");
    EXPECT_EQ(vc.attrAt(8, 4), 0x8F);  // the cursor's hex cell
    EXPECT_EQ(vc.attrAt(58, 4), 0x80);
    vc.onIdle = [&] {
      EXPECT_EQ(requests(0x6F).size(), 8u);
      EXPECT_EQ(requests(0x6F)[4], std::make_pair(0x200, 128));
      vc.onIdle = nullptr;
    };
    vc.pushKey(keys::kPgDn);
  };
  EXPECT_EQ(editor->run(), 0);
  EXPECT_EQ(vc.rowText(37), "");
}

TEST_F(EepromScreen, ContinuousDigitsFillConsecutiveBytes) {
  run({"1", "2", "3", keys::kEnter, keys::kEsc});
  EXPECT_EQ(editor->image[0], 0x12);
  EXPECT_EQ(editor->image[1], 0x03);
  EXPECT_EQ(editor->column, 1);
  EXPECT_EQ(editor->flags[0], kFlagRead | kFlagModified);
  EXPECT_EQ(editor->flags[2], kFlagRead);
  EXPECT_NE(vc.transcript().find("Eeprom был изменен!!! Программировать Eeprom? (y/n): "), std::string::npos);
  EXPECT_TRUE(requests(0x6C).empty());  // Esc at the question: nothing programmed
}

TEST_F(EepromScreen, BackspaceAndEscInAByte) {
  run({keys::kRight, "5", keys::kBackspace, keys::kEnter, keys::kRight, "7", keys::kEsc, keys::kEsc});
  EXPECT_EQ(editor->image[1], 0x00);
  EXPECT_EQ(editor->flags[1], kFlagRead | kFlagModified);
  EXPECT_EQ(editor->image[2], 14);
  EXPECT_EQ(editor->flags[2], kFlagRead);
}

TEST_F(EepromScreen, CursorWrapsInItsRowAndStopsAtTheLastByte) {
  run({keys::kLeft, keys::kRight, keys::kEsc});
  EXPECT_EQ(editor->column, 0);
  editor = std::make_unique<EepromEditor>(*link);
  std::vector<std::string> k(8, keys::kPgDn);
  k.push_back(keys::kLeft);  // (End would be taken as O and open a file)
  for (const char* d : {"1", "1", "2", "2", "3", "3"}) k.emplace_back(d);
  for (const auto& key : k) vc.pushKey(key);
  vc.pushKeys({keys::kEnter, keys::kEsc});
  editor->run();
  EXPECT_EQ(editor->row, 255);
  EXPECT_EQ(editor->column, 15);
  EXPECT_EQ(editor->top, 224);
  EXPECT_EQ(editor->image[4095], 0x33);  // every byte typed stayed on the last one
}

TEST_F(EepromScreen, ProgrammingWritesOnlyChangedRuns) {
  run({"w"});  // nothing changed: nothing sent, and said so
  EXPECT_TRUE(requests(0x6C).empty());
  EXPECT_NE(vc.transcript().find("Eeprom был запрограммирован!!!"), std::string::npos);
  editor = std::make_unique<EepromEditor>(*link);
  run({keys::kDown, "a", "a", "b", "b", keys::kEnter, keys::kDown, keys::kDown, "c", keys::kEnter, "w", keys::kEsc});
  EXPECT_EQ(requests(0x6C), (std::vector<std::pair<int, int>>{{0x10, 2}, {0x31, 1}}));
  EXPECT_EQ(device(0x21).eeprom[0x10], 0xAA);
  EXPECT_EQ(device(0x21).eeprom[0x11], 0xBB);
  EXPECT_EQ(device(0x21).eeprom[0x31], 0x0C);
  EXPECT_EQ(editor->flags[0x10], kFlagRead);
}

TEST_F(EepromScreen, LongRunsGoInPiecesOfSixteen) {
  std::fill(editor->flags, editor->flags + 40, static_cast<uint8_t>(kFlagRead | kFlagModified));
  EXPECT_EQ(editor->program(false), 0);
  EXPECT_EQ(requests(0x6C), (std::vector<std::pair<int, int>>{{0, 16}, {16, 16}, {32, 8}}));
  line.silent = true;
  editor->flags[100] = kFlagRead | kFlagModified;
  EXPECT_EQ(editor->program(false), -1001);
  EXPECT_EQ(editor->flags[100], kFlagRead | kFlagModified);
}

TEST_F(EepromScreen, RereadAsksWhenSomethingChanged) {
  run({"5", keys::kEnter, "r", "n", keys::kEsc, "n"});
  EXPECT_EQ(editor->image[0], 0x05);
  EXPECT_EQ(requests(0x6F).size(), 4u);
  editor->reread();  // answered by the end of the script (Esc): kept
  EXPECT_EQ(editor->flags[0], kFlagRead | kFlagModified);
}

TEST_F(EepromScreen, SavesTheWholeImageUnderTheSerialNumber) {
  std::filesystem::current_path(dir.path());
  device(0x21).serial = 0x0A1B2C;
  for (int i = 0; i < 16; ++i) {
    device(0x21).eeprom[static_cast<size_t>(i)] = 0xFF;
    device(0x21).eeprom[static_cast<size_t>(16 + i)] = static_cast<uint8_t>(i);
  }
  run({"s", keys::kEnter, keys::kEsc});
  std::string text = test::readFile("hex/0a1b2c.hex");
  std::filesystem::current_path(QS_SOURCE_DIR);
  EXPECT_EQ(text.size(), 256u * 45 + 13);
  EXPECT_EQ(text.substr(0, 45), ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00\r\n");
  EXPECT_EQ(text.substr(45, 45), ":10001000000102030405060708090A0B0C0D0E0F68\r\n");
  EXPECT_EQ(text.substr(text.size() - 13), ":00000001FF\r\n");
  EXPECT_EQ(requests(0x6F).size(), 32u);  // every block once
  EXPECT_NE(vc.transcript().find("Введите имя файла (по умалчанию - 0a1b2c.hex):"), std::string::npos);
  EXPECT_NE(vc.transcript().find("Файл ./hex/0a1b2c.hex был записан на диск!!!"), std::string::npos);
}

TEST_F(EepromScreen, SaveStopsAtAFailedRead) {
  std::string file = dir.file("part.hex");
  line.dropAnswers = {4, 5, 6};  // the fifth block never comes
  vc.pushKey("x");
  EXPECT_NE(editor->saveHex(file), 0);
  std::string text = test::readFile(file);
  EXPECT_EQ(text.size(), 32u * 45);  // four blocks of eight rows, no end record
  EXPECT_NE(vc.transcript().find("error of read eeprom!!!!"), std::string::npos);
}

TEST_F(EepromScreen, LoadedBytesAreShownChangedAndProgrammed) {
  std::string file = dir.write("in.hex", ":0200000400FFFB\r\n:01002000AA35\r\n:00000001FF\r\n");
  EXPECT_EQ(editor->loadHex(file), 0);
  EXPECT_EQ(editor->image[0], 0x00);
  EXPECT_EQ(editor->image[1], 0xFF);
  EXPECT_EQ(editor->image[0x20], 0xAA);
  EXPECT_EQ(editor->flags[0x20], kFlagRead | kFlagModified);
  EXPECT_EQ(vc.rowText(2), "Файл " + file + " был считан с диска.");
  run({"w", keys::kEsc});
  EXPECT_EQ(requests(0x6C), (std::vector<std::pair<int, int>>{{0x00, 2}, {0x20, 1}}));
  EXPECT_EQ(device(0x21).eeprom[0x20], 0xAA);
  EXPECT_EQ(device(0x21).eeprom[0x21], static_cast<uint8_t>(0x21 * 7));  // the rest came from the device
}

TEST_F(EepromScreen, MalformedFilesNameTheLineAndPosition) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {":0100000001FE\r\n:0100010002FC\r\n0100020003FA\r\n", "строка 3 [pos: 0]"},
      {":01100000AA45\r\n", "строка 1 [pos: 7]"},
      {":020FFF00AABB95\r\n", "строка 1 [pos: 7]"},  // runs past the end of the image
      {":0100000001FF\r\n", "строка 1 [pos: 11]"},
      {":0100000001FE\r\n", "строка 2 [pos: 0]"},   // ends before its end record
      {"", "строка 1 [pos: 0]"},
  };
  for (const auto& c : cases) {
    std::string file = dir.write("bad.hex", c.text);
    EXPECT_NE(editor->loadHex(file), 0) << c.text;
    // (a longer message before may leave its tail past the 77 cleared columns)
    EXPECT_EQ(vc.rowText(2).find("Ошибка чтения файла " + file + " " + c.message), 0u) << c.text;
  }
  EXPECT_EQ(editor->image[0x0FFF], 0xFF);  // nothing of the record past the end was stored
}

TEST_F(EepromScreen, FilesThatCannotBeOpened) {
  vc.pushKey("x");
  editor->loadHex(dir.file("missing.hex"));
  EXPECT_NE(vc.transcript().find("can not open file"), std::string::npos);
  vc.pushKey("x");
  editor->saveHex(dir.file("no/such/dir/x.hex"));
  EXPECT_NE(vc.transcript().find("can not create file"), std::string::npos);
}

TEST(IntelHex, RecordChecksumAndFields) {
  const uint8_t data[2] = {0x00, 0xFF};
  EXPECT_EQ(hexRecordChecksum(4, 0, 2, data), 0xFB);
  EXPECT_EQ(parseHexField(":10AB", 3, 4), 0xAB);  // stops at the end of the text
  EXPECT_EQ(parseHexField(":1G", 1, 2), 1);        // and at a character that is not hex
}

}  // namespace
}  // namespace qs
