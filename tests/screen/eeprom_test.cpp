// The EEPROM screen and Intel HEX files against the simulated device.
#include <filesystem>
#include <csignal>
#include <cstring>
#ifndef _WIN32
#include <sys/resource.h>
#endif

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

TEST_F(EepromScreen, FunctionAndCursorKeysInAByteAreNoDigits) {
  // F7 to F9 come as 0 and the scan codes 'A' to 'C'.
  run({"A", keys::function(7), keys::kLeft, keys::function(9), "B", keys::kEnter, keys::kEsc});
  EXPECT_EQ(editor->image[0], 0xAB);
  EXPECT_EQ(editor->flags[1], kFlagRead);
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

// A save writes a whole image or nothing: a read that fails, a disk that
// fills up, or a name that cannot be made leave the file that was there.
TEST_F(EepromScreen, ASaveIsWholeOrNothing) {
  std::string file = dir.write("keep.hex", "old image\r\n");
  line.dropAnswers = {4, 5, 6};  // the fifth block never comes
  vc.pushKey("x");
  EXPECT_NE(editor->saveHex(file), 0);
  EXPECT_NE(vc.transcript().find("error of read eeprom!!!!"), std::string::npos);
  EXPECT_EQ(test::readFile(file), "old image\r\n");
#ifndef _WIN32
  {  // the disk is full after 1000 bytes of the new file
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &small);
    vc.pushKey("x");
    int r = editor->saveHex(file);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_NE(r, 0);
    EXPECT_NE(vc.transcript().find("Ошибка записи файла " + file + " на диск!!! Файл не записан."), std::string::npos);
    EXPECT_EQ(test::readFile(file), "old image\r\n");
  }
#endif
  vc.pushKey("x");
  EXPECT_NE(editor->saveHex(dir.file("no/such/dir/x.hex")), 0);
  EXPECT_NE(vc.transcript().find("can not create file"), std::string::npos);
  EXPECT_EQ(editor->saveHex(file), 0);
  EXPECT_EQ(test::readFile(file).size(), 256u * 45 + 13);
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_NE(e.path().extension(), ".tmp") << e.path();
}

TEST_F(EepromScreen, LoadedBytesAreShownChangedAndProgrammed) {
  // (an extended-address record carries no bytes of the image)
  std::string file = dir.write("in.hex", ":0200000400FFFB\r\n:01002000AA35\r\n:00000001FF\r\n");
  EXPECT_EQ(editor->loadHex(file), 0);
  EXPECT_EQ(editor->image[0x20], 0xAA);
  EXPECT_EQ(editor->flags[0x20], kFlagRead | kFlagModified);
  EXPECT_EQ(editor->flags[0x00], 0);
  EXPECT_EQ(vc.rowText(2), "Файл " + file + " был считан с диска.");
  run({"w", keys::kEsc});
  EXPECT_EQ(requests(0x6C), (std::vector<std::pair<int, int>>{{0x20, 1}}));
  EXPECT_EQ(device(0x21).eeprom[0x20], 0xAA);
  EXPECT_EQ(device(0x21).eeprom[0x21], static_cast<uint8_t>(0x21 * 7));  // the rest came from the device
}

// A load is all or nothing: a file with any error names its line and
// position and leaves the image and its marks as they were, so nothing of
// it can be programmed.
TEST_F(EepromScreen, AHexLoadWithAnyErrorChangesNothing) {
  std::string eightByteRecords;
  for (int a = 0; a < 4096; a += 8) {
    uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    char head[16];
    std::snprintf(head, sizeof head, ":08%04X00", a);
    eightByteRecords += head;
    for (uint8_t d : data) {
      char b[3];
      std::snprintf(b, sizeof b, "%02X", d);
      eightByteRecords += b;
    }
    char sum[8];
    std::snprintf(sum, sizeof sum, "%02X\r\n", hexRecordChecksum(0, a, 8, data));
    eightByteRecords += sum;
  }
  eightByteRecords += ":00000001FF\r\n";
  struct Case {
    std::string text;
    const char* message;
  } cases[] = {
      {":0100000001FE\r\n:0100010002FC\r\n0100020003FA\r\n", "строка 3 [pos: 0]"},
      {":01100000AA45\r\n", "строка 1 [pos: 7]"},
      {":020FFF00AABB95\r\n", "строка 1 [pos: 7]"},  // runs past the end of the image
      {":0100000001FE\r\n:0100010002FD\r\n:00000001FF\r\n", "строка 2 [pos: 11]"},  // a bad checksum after a good record
      {":0100000001FE\r\n", "строка 2 [pos: 0]"},   // ends before its end record
      {":0200000400FFFC\r\n:00000001FF\r\n", "строка 1 [pos: 13]"},
      {":0100000701F7\r\n", "строка 1 [pos: 7]"},  // no record of the format
      {"", "строка 1 [pos: 0]"},
      {eightByteRecords, "строка 258 [pos: 0]"},  // more lines than the reader takes
  };
  editor->image[5] = 0x55;
  editor->flags[5] = kFlagRead;
  uint8_t image[kEepromSize], flags[kEepromSize];
  std::memcpy(image, editor->image, sizeof image);
  std::memcpy(flags, editor->flags, sizeof flags);
  for (const auto& c : cases) {
    std::string file = dir.write("bad.hex", c.text);
    EXPECT_NE(editor->loadHex(file), 0) << c.message;
    // (a longer message before may leave its tail past the 77 cleared columns)
    EXPECT_EQ(vc.rowText(2).find("Ошибка чтения файла " + file + " " + c.message), 0u) << vc.rowText(2);
    EXPECT_EQ(std::memcmp(image, editor->image, sizeof image), 0) << c.message;
    EXPECT_EQ(std::memcmp(flags, editor->flags, sizeof flags), 0) << c.message;
  }
  run({"w", keys::kEsc});
  EXPECT_TRUE(requests(0x6C).empty());
}

TEST_F(EepromScreen, FilesThatCannotBeOpened) {
  vc.pushKey("x");
  editor->loadHex(dir.file("missing.hex"));
  EXPECT_NE(vc.transcript().find("can not open file"), std::string::npos);
  vc.pushKey("x");
  EXPECT_NE(editor->loadHex(dir.path().string()), 0);  // a folder
  EXPECT_NE(vc.transcript().find(" не является файлом."), std::string::npos);
  vc.pushKey("x");
  EXPECT_NE(editor->loadHex(dir.write("big.hex", std::string(300000, ':'))), 0);
  EXPECT_NE(vc.transcript().find("файл слишком велик."), std::string::npos);
}

// The result of programming on the way out stays until the operator has
// seen it; a programming that fails keeps the editor and every edit.
TEST_F(EepromScreen, ProgrammingOnTheWayOutIsSeenAndAFailureKeepsTheEdits) {
  vc.onIdle = [&] {
    EXPECT_EQ(vc.rowText(2), "Eeprom был запрограммирован!!!");
    vc.onIdle = nullptr;
  };
  run({"1", "2", keys::kEnter, keys::kEsc, "y"});
  EXPECT_EQ(device(0x21).eeprom[0], 0x12);
  EXPECT_EQ(vc.starvedReads(), 1);  // the key that saw the result

  line.silent = true;  // the next programming fails
  int asked = 0;
  vc.onIdle = [&] {
    if (vc.rowText(2).rfind("Ошибка программирования Eeprom по адресу 0x0001", 0) == 0) {
      ++asked;
      line.silent = false;
      vc.onIdle = nullptr;
      vc.pushKeys({"x", keys::kEsc, "y", "x"});  // seen; leave again, program again
    }
  };
  run({keys::kRight, "3", "4", keys::kEnter, keys::kEsc, "y"});
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(device(0x21).eeprom[1], 0x34);
}

// With no device answering, a row that could not be read shows as not read
// and is not asked for again at every drawing (only at r, or when saved);
// a key typed while a row is read stops the read and is the screen's (none
// is lost), so that Esc leaves within a second; a read stopped by a key is
// tried again, never shown as failed.
TEST_F(EepromScreen, AScreenWithNoDeviceAnsweringAnswersAtOnce) {
  line.silent = true;
  size_t firstDrawing = 0;
  vc.onIdle = [&] {  // the first page drawn: each block asked for once, in vain
    vc.onIdle = nullptr;
    firstDrawing = requests(0x6F).size();
    EXPECT_EQ(vc.rowText(4).substr(0, 32), "0x0000: -- -- -- -- -- -- -- -- ");
    EXPECT_EQ(vc.text(58, 35, 16), std::string(16, '-'));
    EXPECT_TRUE(editor->unreadable(31));
    vc.pushKeys({keys::kRight, keys::kDown, "7", keys::kEnter, "r", "n", keys::kEsc});
  };
  editor->run();  // (the end of the script at the programming question: not programmed)
  EXPECT_EQ(firstDrawing, 4u * 3);  // four blocks, three attempts each
  EXPECT_EQ(requests(0x6F).size(), firstDrawing);  // drawn five more times: nothing asked again
  EXPECT_EQ(editor->image[17], 0x07);  // a byte typed over one not read is known
  EXPECT_EQ(vc.text(8, 5, 6), "-- 07 ");
  // r asks for every row again (here: once more in vain).
  vc.pushKeys({"r", "y", keys::kEsc});
  editor->run();
  EXPECT_EQ(requests(0x6F).size(), 2 * firstDrawing);
  editor = std::make_unique<EepromEditor>(*link);

  // Keys typed while a block is read, Esc among them: the read stops at
  // once, every key is the screen's, and the screen is left within a second.
  size_t before = requests(0x6F).size();
  uint32_t typedAt = 0;
  vc.onPoll = [&] {
    if (requests(0x6F).size() == before) return;  // not reading yet
    vc.onPoll = nullptr;
    typedAt = clock.now();
    for (const std::string& k : {std::string("1"), std::string("2"), keys::kEnter, keys::kEsc, std::string("n")})
      vc.pressKey(k);
  };
  editor->run();
  ASSERT_GT(typedAt, 0u);
  EXPECT_LT(clock.now() - typedAt, 1000u);
  EXPECT_EQ(requests(0x6F).size(), before + 1);  // the one attempt the keys stopped
  EXPECT_EQ(editor->image[0], 0x12);
  EXPECT_EQ(editor->flags[0], kFlagRead | kFlagModified);
  EXPECT_FALSE(editor->unreadable(1));  // stopped, not failed
  EXPECT_EQ(vc.keysLeft(), 0u);
  EXPECT_EQ(vc.starvedReads(), 1);  // (the first journey's end)
  EXPECT_NE(vc.transcript().find("Программировать Eeprom? (y/n): "), std::string::npos);

  // A device that answers: a read stopped by a key is made at the next
  // drawing, and nothing shows as not read.
  line.silent = false;
  line.dropAnswers = {line.answersMade};  // the first attempt goes unanswered
  editor = std::make_unique<EepromEditor>(*link);
  before = requests(0x6F).size();
  vc.onPoll = [&] {
    if (requests(0x6F).size() == before) return;
    vc.onPoll = nullptr;
    vc.pressKey(keys::kDown);
  };
  vc.onIdle = [&] {
    vc.onIdle = nullptr;
    EXPECT_EQ(editor->row, 1);
    EXPECT_EQ(vc.screenText().find("--"), std::string::npos) << vc.screenText();
    vc.pushKey(keys::kEsc);
  };
  editor->run();
  EXPECT_EQ(vc.starvedReads(), 1);
}

TEST(IntelHex, RecordChecksumAndFields) {
  const uint8_t data[2] = {0x00, 0xFF};
  EXPECT_EQ(hexRecordChecksum(4, 0, 2, data), 0xFB);
  EXPECT_EQ(parseHexField(":10AB", 3, 4), 0xAB);  // stops at the end of the text
  EXPECT_EQ(parseHexField(":1G", 1, 2), 1);        // and at a character that is not hex
}

}  // namespace
}  // namespace qs
