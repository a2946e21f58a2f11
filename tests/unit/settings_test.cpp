// The settings-file readers: Task line and menu items.
#include <gtest/gtest.h>

#include "app/entry.h"
#include "settings/laboratory.h"
#include "settings/meter_types.h"
#include "settings/settings.h"
#include "support/test_support.h"

namespace qs {
namespace {

using test::TempDir;

struct TaskResult {
  int rc;
  char digit;
  uint8_t address;
};

TaskResult task(const std::string& text, int index = 1) {
  TempDir dir;
  std::string path = dir.write("common.sch", text);
  TaskResult r{0, 'x', 0x99};
  r.rc = readTaskLine(path, "Task", index, &r.digit, &r.address);
  return r;
}

TEST(TaskLine, PortAndAddressOfTheMatchingIndex) {
  auto r = task("Task_2:\t5\t2A\t\nTask_1:\t3\t1f\t\n");
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.digit, '3');
  EXPECT_EQ(r.address, 0x1F);
  r = task("Task_2:\t5\t2A\t\nTask_1:\t3\t1f\t\n", 2);
  EXPECT_EQ(r.digit, '5');
  EXPECT_EQ(r.address, 0x2A);
}

TEST(TaskLine, CommentsCaseAndSeparator) {
  auto r = task("##Task_1:\t4\t11\t\n#Task_1:\t5\t12\t\n");
  EXPECT_EQ(r.digit, 'x');  // "##" is a comment; "#Task" is another key
  EXPECT_EQ(r.address, 0x99);
  r = task("task_1: 6\t0x13\t\n");  // lower-case key, blank as the separator, 0x prefix
  EXPECT_EQ(r.digit, '6');
  EXPECT_EQ(r.address, 0x13);
}

TEST(TaskLine, LastMatchingLineWinsAndIndexIsNumeric) {
  auto r = task("Task_01:\t2\t21\t\nTask_1:\t7\t22\t\nTask_10:\t8\t23\t\n");
  EXPECT_EQ(r.digit, '7');
  EXPECT_EQ(r.address, 0x22);
}

TEST(TaskLine, PartialLinesSetWhatTheyCan) {
  // No TAB after the address: the digit is set, the address stays.
  auto r = task("Task_1:\t4\t21\t\nTask_1:\t9\t33");
  EXPECT_EQ(r.digit, '9');
  EXPECT_EQ(r.address, 0x21);
  // No TAB after the port: nothing from that line.
  r = task("Task_1:\t4");
  EXPECT_EQ(r.digit, 'x');
  // Nothing at all after the colon, not even a newline.
  r = task("Task_1:");
  EXPECT_EQ(r.digit, 'x');
  r = task("Task_1:\n");
  EXPECT_EQ(r.digit, 'x');
}

TEST(TaskLine, PortAboveNineIsNotADigit) {
  auto r = task("Task_1:\t12\t21\t\n");
  EXPECT_EQ(r.digit, static_cast<char>('0' + 12));
  EXPECT_EQ(r.address, 0x21);
  r = task("Task_1:\t3\t1FF\t\n");
  EXPECT_EQ(r.address, 0xFF);  // low 8 bits
}

TEST(TaskLine, MissingFileWritesNothing) {
  char digit = 'x';
  uint8_t address = 0x99;
  EXPECT_EQ(readTaskLine("no/such/file.sch", "Task", 1, &digit, &address), -1);
  EXPECT_EQ(digit, 'x');
  EXPECT_EQ(address, 0x99);
}

TEST(TaskLine, WindowsLineEndsAndLongLines) {
  auto r = task("Task_1:\t4\t2B\t\r\n");
  EXPECT_EQ(r.digit, '4');
  EXPECT_EQ(r.address, 0x2B);
  // A line of more than 255 characters goes on as a new line: the text after
  // the cut is read as a line of its own.
  std::string longLine = "x" + std::string(254, ' ') + "Task_1:\t5\t31\t\n";
  r = task(longLine);
  EXPECT_EQ(r.digit, '5');
  EXPECT_EQ(r.address, 0x31);
  longLine = "x" + std::string(253, ' ') + "Task_1:\t5\t31\t\n";
  r = task(longLine);
  EXPECT_EQ(r.digit, 'x');
}

std::vector<MenuItem> menu(const std::string& text, int* count = nullptr) {
  TempDir dir;
  std::string path = dir.write("common.sch", text);
  std::vector<MenuItem> items;
  int n = -1;
  EXPECT_EQ(loadMenuItems(path, &items, &n), 0);
  EXPECT_EQ(n, static_cast<int>(items.size()));
  if (count) *count = n;
  return items;
}

TEST(MenuItems, TypesNumbersAndCaptionsInFileOrder) {
  auto items = menu(
      "Task_1:\t1\t21\t\n"
      "menu_3:x\tA2\tПервый\t\n"
      "MENU_1:\tS8\tВторой\n"
      "## menu_9:\tV1\tcomment\t\n"
      "menu_7:\tV5\tТретий\tignored\n"
      "menu_2:\tQ4\tfourth\t\n");
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].id, 3);
  EXPECT_EQ(items[0].flags, kMenuTypeA);
  EXPECT_EQ(items[0].number, 2);
  EXPECT_EQ(items[0].caption, "Первый");
  EXPECT_EQ(items[1].id, 1);
  EXPECT_EQ(items[1].flags, 0x408);
  EXPECT_EQ(items[1].caption, "Второй");
  EXPECT_EQ(items[2].flags, kMenuTypeV | kMenuFive);
  EXPECT_EQ(items[2].caption, "Третий");
  EXPECT_EQ(items[3].flags, 0);  // no type bit for other letters
  EXPECT_EQ(items[3].number, 4);
}

TEST(MenuItems, BrokenLinesStillMakeItems) {
  auto items = menu(
      "menu_1:\n"             // no TAB: item with nothing else
      "menu_2:\tA5\n"         // type field not ended by a TAB
      "menu_3:\tS1\tlast");   // caption ended by neither TAB nor newline
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].id, 1);
  EXPECT_EQ(items[0].flags, 0);
  EXPECT_EQ(items[1].flags, 0);
  EXPECT_EQ(items[1].number, 0);
  EXPECT_EQ(items[2].flags, kMenuTypeS);
  EXPECT_EQ(items[2].caption, "");
}

TEST(MenuItems, Windows1251CaptionsAreConverted) {
  auto items = menu("menu_1:\tA1\t\xD2\xE5\xF1\xF2\t\r\n");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].caption, "Тест");
}

TEST(MenuItems, EmptyOrMissingFile) {
  EXPECT_TRUE(menu("").empty());
  std::vector<MenuItem> items(2);
  int count = 5;
  EXPECT_EQ(loadMenuItems("no/such/file.sch", &items, &count), -1);
  EXPECT_EQ(items.size(), 2u);
  EXPECT_EQ(count, 5);
}

TEST(Decimal, ConversionLikeTheCLibraryButSaturating) {
  EXPECT_EQ(decimalValue("  -12x"), -12);
  EXPECT_EQ(decimalValue("+7"), 7);
  EXPECT_EQ(decimalValue("abc"), 0);
  EXPECT_EQ(decimalValue(""), 0);
  EXPECT_GT(decimalValue("999999999999999999999999"), 0);
}

TEST(RunMode, FirstCharacterOfFirstArgument) {
  auto mode = [](std::initializer_list<const char*> args) {
    std::vector<const char*> argv{"qs"};
    argv.insert(argv.end(), args);
    return parseRunMode(static_cast<int>(argv.size()), argv.data());
  };
  EXPECT_EQ(mode({}).mode, RunMode::Standalone);
  EXPECT_EQ(mode({"mx"}).mode, RunMode::Master);
  auto s = mode({"s"});
  EXPECT_EQ(s.mode, RunMode::Slave);
  EXPECT_EQ(s.taskNumber, 0);
  s = mode({"s12", "ignored"});
  EXPECT_EQ(s.taskNumber, 12);
  EXPECT_EQ(mode({"S3"}).mode, RunMode::Standalone);
  EXPECT_EQ(mode({"M"}).mode, RunMode::Standalone);
  EXPECT_EQ(mode({"-s"}).mode, RunMode::Standalone);
}

}  // namespace
}  // namespace qs

namespace qs {
namespace {

// The outputs stay what the line's syntax gives; what the syntax does not
// take is said, for the last matching line only.
TEST(TaskLine, WhatTheLineDoesNotSayAsItShouldIsSaid) {
  const std::pair<const char*, const char*> cases[] = {
      {"Task_1:\t3\t21\t\n", ""},
      {"task_1: 6\t0x13\t\n", ""},
      {"Task_1: 3 21\n", "поля разделяются табуляцией"},
      {"Task_1:\t3 21\t\n", "поля разделяются табуляцией"},
      {"Task_1:\t3\t21\n", "после адреса нужна табуляция"},
      {"Task_1:\t3\t\n", "нет адреса"},
      {"Task_1:\t3\t2l\t\n", "адрес «2l» не шестнадцатеричный"},
      {"Task_1:\tx\t21\t\n", "порт «x» не число"},
      {"Task_1:\n", "нет порта и адреса"},
      {"Task_1: 3 21\nTask_1:\t4\t22\t\n", ""},  // a later whole line wins
      {"Task_2: 3 21\nTask_1:\t4\t22\t\n", ""},  // another task's line is not this one's
  };
  test::TempDir dir;
  for (const auto& [text, want] : cases) {
    std::string path = dir.write("common.sch", text);
    char digit = 'x';
    uint8_t address = 0x99;
    std::string problem = "?";
    EXPECT_EQ(readTaskLine(path, "Task", 1, &digit, &address, &problem), 0);
    std::string line = std::string(text).find("\nTask") != std::string::npos ? "2" : "1";
    EXPECT_EQ(problem, *want == '\0' ? "" : "строка " + line + " файла " + path + ": " + want) << text;
  }
}

TEST(TaskLine, HugePortNumbersDoNotOverflow) {
  auto r = task("Task_1:\t99999999999999999999999\t21\t\n");
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.address, 0x21);
  r = task("Task_1:\t-99999999999999999999999\t21\t\n");
  EXPECT_EQ(r.address, 0x21);
}

// The lines the registry's upload is made from, each refused with its file,
// line and field when it does not say what the registry takes.
TEST(RegistrySettings, WhatTheRegistryDoesNotTakeIsRefusedWithItsLineAndField) {
  test::TempDir dir;
  struct Case {
    const char* line;
    const char* problem;  // "" when taken
  };
  const Case registry[] = {
      {"Registry:\tАБВ\t1\t0\t", ""},
      {"Registry:\tЯ\t0\t1\t", ""},
      {"Registry:\tABC\t1\t0\t", "Registry, шифр знака поверки «ABC»"},      // Latin letters
      {"Registry:\tАБВГ\t1\t0\t", "Registry, шифр знака поверки «АБВГ»"},    // four letters
      {"Registry:\tабв\t1\t0\t", "Registry, шифр знака поверки «абв»"},      // small letters
      {"Registry:\tЁЖ\t1\t0\t", "Registry, шифр знака поверки «ЁЖ»"},
      {"Registry:\tАБВ\tда\t0\t", "Registry, знак в паспорте (1/0) «да»"},
      {"Stand:\tС2\t", ""},
      {"Stand:\tLAB-2\t", "Stand, код стенда «LAB-2»"},
      {"Stand:\tОЧЕНЬДЛИННЫЙ\t", "Stand, код стенда «ОЧЕНЬДЛИННЫЙ»"},
  };
  for (const Case& c : registry) {
    std::string path = dir.write("common.sch", std::string("## the office\n") + c.line + "\n");
    Registry r;
    Stand st;
    std::string problem;
    bool ok = readRegistry(path, &r, &problem) && readStand(path, &st, &problem);
    EXPECT_EQ(ok, *c.problem == '\0') << c.line;
    if (!ok) {
      EXPECT_EQ(problem, "строка 2 файла " + path + ": " + c.problem) << c.line;
    }
  }
  // The type's register number: at most 32 characters, and a TAB inside a
  // value is a field too many.
  std::string catalogue = dir.write(
      "meters.sch",
      "Meter:\tA\t-\t1\t2\tпрямое\t5\t60\t1000\t16\t36697-17\t-\t\n"
      "Meter:\tB\t-\t1\t2\tпрямое\t5\t60\t1000\t16\t\n"
      "Meter:\tC\t-\t1\t2\tпрямое\t5\t60\t1000\t16\t" + std::string(33, '7') + "\t-\t\n"
      "Meter:\tD\t-\t1\t2\tпрямое\t5\t60\t1000\t16\t36697\t-17\tЦЭ\t\n");
  MeterCatalogue c = readMeterCatalogue(catalogue);
  ASSERT_EQ(c.types.size(), 2u);
  EXPECT_EQ(c.types[0].registerNumber, "36697-17");
  EXPECT_EQ(c.types[0].modification, "");
  EXPECT_EQ(c.types[1].registerNumber, "");  // a line of before: nothing for the registry
  ASSERT_EQ(c.errors.size(), 2u);
  EXPECT_EQ(c.errors[0], catalogue + ", строка 3: номер в реестре «" + std::string(33, '7') + "»");
  EXPECT_EQ(c.errors[1].find(catalogue + ", строка 4: лишнее поле"), 0u) << c.errors[1];
  // The kind of verification a programme makes.
  EXPECT_EQ(verificationKind({"prog.txt"}), 2);
  EXPECT_EQ(verificationKind({"prog.txt", "поверка=первичная"}), 1);
  EXPECT_EQ(verificationKind({"поверка=периодическая"}), 2);
  EXPECT_EQ(verificationKind({"поверка=внеочередная"}), 0);
}

// The day's conditions are kept whole, or refused, never cut: a value no
// laboratory works in is not written, and what is written reads back.
TEST(Conditions, KeptWholeOrRefusedNeverCut) {
  test::TempDir dir;
  std::string path = dir.file("conditions.txt");
  Conditions c;
  c.date = "2026-12-08";
  c.known = true;
  c.temperature = 21.55;
  c.humidity = 55;
  c.pressure = 99.8;
  ASSERT_TRUE(writeConditions(path, c));
  Conditions back = readConditions(path);
  EXPECT_TRUE(back.known);
  EXPECT_EQ(std::make_tuple(back.date, back.temperature, back.humidity, back.pressure),
            std::make_tuple(c.date, 21.55, 55.0, 99.8));
  Conditions huge = c;
  huge.temperature = 1e120;
  EXPECT_FALSE(writeConditions(path, huge));
  EXPECT_EQ(readConditions(path).temperature, 21.55);  // what was kept stays
  huge.temperature = 21.5;
  huge.date = "2026-02-31";
  EXPECT_FALSE(writeConditions(path, huge));
  // A value of before, cut, or a file edited by hand into what is not
  // a day and three numbers: no conditions, the form asks.
  for (const char* text : {"2026-12-08 215 55 99.8\n", "2026-12-08 21.5 55 99.8x\n", "2026-12-081 21.5 55 99.8\n",
                           "2026-12-08 21.5 55\n", "2026-12-08 21.5 55 99.8 1\n"}) {
    dir.write("conditions.txt", text);
    EXPECT_FALSE(readConditions(path).known) << text;
  }
  dir.write("conditions.txt", "2026-12-08\t21,5 55 99.8\r\n");
  EXPECT_EQ(readConditions(path).temperature, 21.5);
  EXPECT_EQ(conditionsEcho(c), "Условия: 21,55 °C, 55 %, 99,8 кПа");
}

}  // namespace
}  // namespace qs
