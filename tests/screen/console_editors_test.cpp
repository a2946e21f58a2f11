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

TEST_F(NumberEditors, NumberEditorStopsAtSecondPoint) {
  double v = 0;
  vc.type("1.2.3");
  vc.pushKey(keys::kEnter);
  EXPECT_EQ(Console::readNumber("Глубина: ", &v), 0);
  EXPECT_DOUBLE_EQ(v, 1.2);
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
