// The three editors of the console toolkit, driven by scripted keys on the
// virtual console.
#include <cstring>

#include "support/test_support.h"

namespace qs {
namespace {

using test::ScreenTest;

class LineEditor : public ScreenTest {};

TEST_F(LineEditor, EnterOnEmptyLineKeepsDestinationAndEscDiscardsTyping) {
  char dest[16] = "keep";
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readLine("> ", 10, dest), 0);
  EXPECT_STREQ(dest, "keep");

  vc.type("abc");
  vc.pushKey(keys::kEsc);
  EXPECT_EQ(Console::readLine("> ", 10, dest), kKeyEsc);
  EXPECT_STREQ(dest, "keep");
  // What was typed before Esc stays on the screen as echoed.
  EXPECT_EQ(vc.rowText(0), "> > abc");
}

TEST_F(LineEditor, KeysPastMaxLenAreDroppedUntilBackspace) {
  char dest[16] = "";
  vc.type("abcde");
  vc.pushKey(keys::kBackspace);
  vc.type("xy");
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readLine("", 3, dest), 0);
  EXPECT_STREQ(dest, "abx");
  EXPECT_EQ(vc.rowText(0), "abx");
  EXPECT_EQ(vc.cursorColumn(), 3);
}

TEST_F(LineEditor, DestinationCapacityBoundsTheText) {
  char dest[4] = "";
  vc.type("123456");
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readLine("", 255, dest, sizeof dest), 0);
  EXPECT_STREQ(dest, "123");
}

TEST_F(LineEditor, BackspaceErasesOnScreenAndNextCharacterTakesItsPlace) {
  char dest[16] = "";
  vc.pushKey(keys::kBackspace);  // on an empty field: nothing happens
  vc.type("ab");
  vc.pushKey(keys::kBackspace);
  EXPECT_EQ(Console::readLine("Port: ", 10, dest), kKeyEsc);  // script ends with Esc
  EXPECT_EQ(vc.rowCells(0).substr(0, 9), "Port: a  ");
  EXPECT_EQ(vc.cursorColumn(), 7);
  EXPECT_EQ(vc.rowText(0), "Port: a");

  vc.type("c");
  vc.pushKey(keys::kEnter);
  Console::gotoXY(0, 1);
  EXPECT_EQ(Console::readLine("", 10, dest), 0);
  EXPECT_STREQ(dest, "c");
}

// Left, Right, Home and End move in the text, Del erases under the cursor,
// and no other cursor or function key is ever taken into a text (its prefix
// and scan code would make a name no file can have).
TEST_F(LineEditor, CursorKeysEditTheTextAndNeverBecomePartOfIt) {
  char dest[32] = "";
  vc.type("abdf");
  vc.pushKey(keys::kLeft);
  vc.type("e");                                   // abdef
  vc.pushKeys({keys::kHome, "\xE0\x53"});         // Del: bdef
  vc.pushKeys({keys::kEnd, keys::kUp, keys::function(1), "\xE0\x52", keys::kPgDn});
  vc.type("g");                                   // bdefg
  vc.pushKeys({keys::kLeft, keys::kLeft, keys::kBackspace, keys::kRight, keys::kRight, keys::kRight});
  vc.type("я");                                   // bdfgя
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readLine("> ", 20, dest), 0);
  EXPECT_STREQ(dest, "bdfgя");
  EXPECT_EQ(vc.rowText(0), "> bdfgя");
  EXPECT_EQ(vc.cursorColumn(), 7);
  vc.pushKeys({keys::kUp, keys::kEnter});
  EXPECT_EQ(Console::readLine("", 10, dest), 0);
  EXPECT_STREQ(dest, "bdfgя");  // nothing typed: kept
}

TEST_F(LineEditor, CyrillicIsStoredAsTypedAndErasedWhole) {
  char dest[32] = "";
  vc.type("Пуск");
  vc.pushKey(keys::kBackspace);
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readLine("", 20, dest), 0);
  EXPECT_STREQ(dest, "Пус");
  EXPECT_EQ(vc.rowText(0), "Пус");
  EXPECT_EQ(vc.cursorColumn(), 3);
}

TEST_F(LineEditor, ACharacterThatDoesNotFitWholeIsDropped) {
  char dest[8] = "";
  vc.type("abЖ");  // Ж is two bytes; only one is left under maxLen 3
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readLine("", 3, dest), 0);
  EXPECT_STREQ(dest, "ab");
}

TEST_F(LineEditor, BackspaceAfterWrapStepsOntoTheRowAbove) {
  char dest[256] = "";
  Console::gotoXY(98, 0);
  vc.type("xyz");
  vc.pushKeys({keys::kBackspace, keys::kBackspace, keys::kEnter});
  EXPECT_EQ(Console::readLine("", 255, dest), 0);
  EXPECT_STREQ(dest, "x");
  EXPECT_EQ(vc.cell(98, 0).ch, U'x');
  EXPECT_EQ(vc.cell(99, 0).ch, U' ');
  EXPECT_EQ(vc.cell(0, 1).ch, U' ');
  EXPECT_EQ(vc.cursorColumn(), 99);
  EXPECT_EQ(vc.cursorRow(), 0);
}

TEST_F(LineEditor, StringOverloadLeavesStringUntouchedOnEmptyEntry) {
  std::string s = "default";
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readLine("", s), 0);
  EXPECT_EQ(s, "default");
  vc.type("new");
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readLine("", s), 0);
  EXPECT_EQ(s, "new");
}

// What is typed shows in the prompt's field and never beyond it: on the
// rows of the installation's panel the field ends before column 80, on the
// others at the last column (on the last row one before it, where the
// console would scroll); a longer text scrolls within it, the cursor's cell
// always shown, and is taken whole.
TEST_F(LineEditor, AnEntryKeepsToItsField) {
  auto panelKept = [&](const char* when) {
    for (int r = 19; r < 38; ++r)
      for (int c = 80; c < 100; ++c) ASSERT_EQ(vc.cell(c, r).ch, U'P') << when << " " << c << "," << r;
  };
  vc.fill(U'P');
  Console::clearBeside(19, 19);
  Console::gotoXY(0, 20);
  double v = 0;
  const std::string digits = "1" + std::string(119, '0');  // 10^119
  vc.type(digits);
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readNumber("Температура, °C: ", &v), 0);
  EXPECT_DOUBLE_EQ(v, 1e119);
  panelKept("a long number");
  EXPECT_EQ(vc.text(0, 21, 80), std::string(80, ' '));
  EXPECT_EQ(vc.text(0, 20, 80), "Температура, °C: " + std::string(62, '0') + " ");  // its tail, the cursor after it
  EXPECT_EQ(vc.cursorColumn(), 79);
  EXPECT_EQ(vc.cursorRow(), 20);

  // Home shows the start again; what is typed there goes in at the start.
  Console::gotoXY(0, 22);
  char dest[256] = "";
  vc.type(std::string(100, 'a') + "z");
  vc.pushKey(keys::kHome);
  vc.type("<");
  int looked = 0;
  vc.onIdle = [&] {
    ++looked;
    EXPECT_EQ(vc.text(0, 22, 80), "Файл: <" + std::string(73, 'a'));
    EXPECT_EQ(vc.cursorColumn(), 7);
    vc.onIdle = nullptr;
    vc.pushKey(keys::kEnter);
  };
  EXPECT_EQ(Console::readLine("Файл: ", kEditMax, dest), 0);
  EXPECT_EQ(looked, 1);
  EXPECT_EQ(std::string(dest), "<" + std::string(100, 'a') + "z");
  EXPECT_EQ(vc.text(0, 22, 80), "Файл: " + std::string(72, 'a') + "z ");  // Enter: the cursor after the text
  EXPECT_EQ(vc.cursorColumn(), 79);
  panelKept("Home in a long name");

  // Above the panel the field reaches the last column, and stays on its row.
  Console::gotoXY(0, 2);
  vc.type(std::string(255, 'b'));
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readLine("Введите имя файла:", kEditMax, dest), 0);
  EXPECT_EQ(std::strlen(dest), 255u);
  EXPECT_EQ(vc.text(18, 2, 82), std::string(81, 'b') + "P");  // (the cursor's cell after it)
  EXPECT_EQ(vc.rowText(3), std::string(100, 'P'));
  // On the last row, past the panel's start, it never reaches the last cell.
  Console::gotoXY(90, 37);
  std::string top = vc.rowText(0);
  vc.type("0123456789ab");
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readLine("", 20, dest), 0);
  EXPECT_STREQ(dest, "0123456789ab");
  EXPECT_EQ(vc.rowText(0), top);  // nothing scrolled
  EXPECT_EQ(vc.text(90, 37, 10), "456789abPP");
  EXPECT_EQ(vc.cursorColumn(), 98);
  // A prompt that ends in the very last cell: its field is the cell before.
  Console::gotoXY(99, 37);
  vc.type("xyz");
  vc.pushKeys({keys::kLeft, keys::kEnter});
  EXPECT_EQ(Console::readLine("", 20, dest), 0);
  EXPECT_STREQ(dest, "xyz");
  EXPECT_EQ(vc.rowText(0), top);
  EXPECT_EQ(vc.cell(98, 37).ch, U' ');  // (the cursor after the text)
  EXPECT_EQ(vc.cell(99, 37).ch, U'P');
  EXPECT_EQ(vc.cursorColumn(), 98);
}

class NumberEditors : public ScreenTest {};

TEST_F(NumberEditors, DigitsEditorTakesDigitsAndPointsOnly) {
  char dest[16] = "old";
  vc.type("1a-2.");
  vc.pushKeys({keys::kUp, keys::function(1), keys::kLeft});
  vc.type("3.");
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readDigits("Адрес %d: ", dest, sizeof dest, 7), 0);
  EXPECT_STREQ(dest, "123..");  // (Left went back over the point)
  EXPECT_EQ(vc.rowText(0), "Адрес 7: 123..");
}

TEST_F(NumberEditors, DigitsEditorStopsAtDestinationCapacity) {
  char dest[3] = "";
  vc.type("98765");
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readDigits("%s", dest, sizeof dest, ""), 0);
  EXPECT_STREQ(dest, "98");
  EXPECT_EQ(vc.rowText(0), "98");
}

TEST_F(NumberEditors, DigitsEditorNeverTakesMoreThan255) {
  char dest[400] = "";
  vc.type(std::string(300, '5'));
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readDigits("%s", dest, sizeof dest, ""), 0);
  EXPECT_EQ(std::strlen(dest), 255u);
}

// A number is taken as written, with a decimal comma or point; what is not
// one is not taken as another: Enter leaves it in the field to be put right.
TEST_F(NumberEditors, NumberEditorTakesANumberAsWrittenOrNothing) {
  double v = 0;
  vc.type("1.2.3");
  vc.pushKey(keys::kEnter);  // not a number: stays
  vc.pushKey(keys::kBackspace);
  vc.pushKey(keys::kBackspace);
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readNumber("Глубина: ", &v), 0);
  EXPECT_DOUBLE_EQ(v, 1.2);
  vc.type("2,5x");  // (a letter is not taken into a number at all)
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readNumber("Шкала: ", &v), 0);
  EXPECT_DOUBLE_EQ(v, 2.5);
  vc.type("-,");
  vc.pushKey(keys::kEnter);
  vc.pushKey(keys::kEsc);
  EXPECT_EQ(Console::readNumber("Шкала: ", &v), kKeyEsc);
  EXPECT_DOUBLE_EQ(v, 2.5);
  EXPECT_EQ(vc.starvedReads(), 0);
}

TEST_F(NumberEditors, NumberEditorKeepsDefaultOnEmptyEnterAndOnEsc) {
  double v = 1.0;
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readNumber("", &v), 0);
  EXPECT_DOUBLE_EQ(v, 1.0);
  vc.type("42");
  vc.pushKey(keys::kEsc);
  EXPECT_EQ(Console::readNumber("", &v), kKeyEsc);
  EXPECT_DOUBLE_EQ(v, 1.0);
}

TEST_F(NumberEditors, BackspaceInNumberEditor) {
  double v = 0;
  vc.type("19");
  vc.pushKey(keys::kBackspace);
  vc.type("5");
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readNumber("", &v), 0);
  EXPECT_DOUBLE_EQ(v, 15.0);
  EXPECT_EQ(vc.rowText(0), "15");
}

}  // namespace
}  // namespace qs
