// Output side of the console toolkit: placement, clearing, wrapping,
// scrolling, colours and how bytes are shown.
#include "support/test_support.h"

namespace qs {
namespace {

using test::ScreenTest;

class ConsoleOutput : public ScreenTest {};

TEST_F(ConsoleOutput, ClearLinesKeepsThePanelColumns) {
  vc.fill(U'#');
  Console::gotoXY(40, 30);
  Console::clearLines(19, 18);
  for (int r = 0; r < 38; ++r) {
    bool band = r >= 19 && r <= 36;
    for (int c = 0; c < 100; ++c) {
      char32_t want = (band && c <= 76) ? U' ' : U'#';
      ASSERT_EQ(vc.cell(c, r).ch, want) << "column " << c << " row " << r;
    }
  }
  EXPECT_EQ(Console::getCursor().x, 0);
  EXPECT_EQ(Console::getCursor().y, 19);
  EXPECT_EQ(vc.cursorColumn(), 0);
  EXPECT_EQ(vc.cursorRow(), 19);
}

TEST_F(ConsoleOutput, ClearLinesWideBlanksNinetySixColumns) {
  vc.fill(U'#');
  Console::clearLinesWide(2, 1);
  EXPECT_EQ(vc.rowCells(2), std::string(96, ' ') + "####");
  EXPECT_EQ(vc.rowText(1), std::string(100, '#'));
}

TEST_F(ConsoleOutput, ClearingTheLastRowsDoesNotScrollTheScreen) {
  Console::gotoXY(85, 0);
  Console::print("panel");
  Console::clearLines(30, 20);
  EXPECT_EQ(Console::getCursor().y, 30);
  Console::clearLines(5, 0);  // nothing to clear, but the cursor still goes there
  EXPECT_EQ(Console::getCursor().y, 5);
  EXPECT_EQ(vc.rowText(0).substr(85), "panel");
}

TEST_F(ConsoleOutput, PrintPlacesRussianTextAndArguments) {
  Console::gotoXY(5, 3);
  int n = Console::print("Ошибка %s порт %d.", "COM3:", 7);
  EXPECT_EQ(vc.rowText(3), "     Ошибка COM3: порт 7.");
  EXPECT_EQ(Console::getCursor().x, 5 + 20);
  EXPECT_EQ(n, 30);  // bytes: each Cyrillic letter takes two  // bytes, Cyrillic letters take two
}

TEST_F(ConsoleOutput, LineBreaksAndCarriageReturn) {
  Console::print("abc\r\ndef\rX\n");
  EXPECT_EQ(vc.rowText(0), "abc");
  EXPECT_EQ(vc.rowText(1), "Xef");
  EXPECT_EQ(Console::getCursor().y, 2);
  EXPECT_EQ(Console::getCursor().x, 0);
}

TEST_F(ConsoleOutput, TextWrapsAtTheLastColumn) {
  Console::gotoXY(97, 4);
  Console::print("12345");
  EXPECT_EQ(vc.rowText(4).substr(97), "123");
  EXPECT_EQ(vc.rowText(5), "45");
  EXPECT_EQ(Console::getCursor().x, 2);
  EXPECT_EQ(Console::getCursor().y, 5);
}

TEST_F(ConsoleOutput, ALineFeedOnTheLastRowScrollsEverythingUp) {
  Console::gotoXY(0, 0);
  Console::print("top");
  Console::gotoXY(0, 1);
  Console::print("second");
  Console::gotoXY(0, 37);
  Console::print("bottom\nnext");
  EXPECT_EQ(vc.rowText(0), "second");
  EXPECT_EQ(vc.rowText(36), "bottom");
  EXPECT_EQ(vc.rowText(37), "next");
  EXPECT_EQ(Console::getCursor().y, 37);
}

TEST_F(ConsoleOutput, WrappingPastTheLastCellScrolls) {
  Console::gotoXY(0, 0);
  Console::print("first");
  Console::gotoXY(98, 37);
  Console::print("abc");
  EXPECT_EQ(vc.rowText(36).substr(98), "ab");
  EXPECT_EQ(vc.rowText(37), "c");
  EXPECT_EQ(vc.rowText(0), "");
}

TEST_F(ConsoleOutput, MovesOutsideTheScreenHaveNoEffect) {
  Console::gotoXY(10, 10);
  Console::gotoXY(100, 5);
  Console::gotoXY(5, 38);
  Console::gotoXY(-1, 0);
  EXPECT_EQ(Console::getCursor().x, 10);
  EXPECT_EQ(Console::getCursor().y, 10);
  ConsolePos saved = Console::getCursor();
  Console::gotoXY(80, 20);
  Console::print("panel");
  Console::setCursor(saved);
  Console::print("!");
  EXPECT_EQ(vc.cell(10, 10).ch, U'!');
}

TEST_F(ConsoleOutput, ColoursGoIntoTheCells) {
  Console::print("a");
  Console::setColor(kAttrSelected);
  Console::print("b");
  Console::setColor(kAttrChanged);
  Console::print("c");
  Console::setColor(editCursorAttr(kAttrChanged));
  Console::print("d");
  Console::setColor(kAttrNormal);
  Console::print("e");
  EXPECT_EQ(vc.attrAt(0, 0), 0x07);
  EXPECT_EQ(vc.attrAt(1, 0), 0x80);
  EXPECT_EQ(vc.attrAt(2, 0), 0x0F);
  EXPECT_EQ(vc.attrAt(3, 0), 0x80);  // inverse of bright white on dark grey
  EXPECT_EQ(editCursorAttr(kAttrNormal), 0x88);
  EXPECT_EQ(vc.attrAt(4, 0), 0x07);
}

TEST_F(ConsoleOutput, PrintTextTakesPercentSignsLiterally) {
  Console::printText("100%% done, %s stays");
  EXPECT_EQ(vc.rowText(0), "100% done, %s stays");
}

TEST_F(ConsoleOutput, BytesThatAreNotTextShowAsOnAByteConsole) {
  Console::print("%s", "\xE0\xE1\x01");
  Console::putChar(0xAE);
  Console::putChar(0);
  Console::putChar('z');
  EXPECT_EQ(vc.rowText(0), "рс☺о z");
}

TEST_F(ConsoleOutput, LongOutputIsNotCut) {
  std::string longText(700, 'x');
  EXPECT_EQ(Console::print("%s|", longText.c_str()), 701);
  EXPECT_EQ(vc.rowText(6), std::string(100, 'x'));
  EXPECT_EQ(vc.rowText(7), "|");
}

TEST_F(ConsoleOutput, ReadKeyDeliversPrefixAndScanCodeSeparately) {
  vc.pressKey(keys::kPgDn);
  vc.pressKey(keys::function(9));
  vc.pressKey("q");
  EXPECT_TRUE(Console::keyPending());
  EXPECT_EQ(Console::readKey(), 0xE0);
  EXPECT_TRUE(Console::keyPending());
  EXPECT_EQ(Console::readKey(), 0x51);
  EXPECT_EQ(Console::readKey(), 0);
  EXPECT_EQ(Console::readKey(), 0x43);
  EXPECT_EQ(Console::readKey(), 'q');
  EXPECT_FALSE(Console::keyPending());
  EXPECT_EQ(vc.starvedReads(), 0);
}

TEST_F(ConsoleOutput, TitleReachesTheTerminal) {
  Console::setTitle("Задача 3");
  EXPECT_EQ(vc.title(), "Задача 3");
}

}  // namespace
}  // namespace qs
