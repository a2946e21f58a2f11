// A verification programme reads as it was written: each number with a
// decimal comma or point, or the programme refused with the file, the line
// and the field; and every programme that read before reads to the same
// points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "settings/key_lines.h"
#include "support/test_support.h"
#include "zu/zu_controller.h"

namespace qs {
namespace {

struct Loaded {
  int rc = 0;
  std::string error;
  std::vector<TestPoint> points;
  std::string file;
};

Loaded load(const test::TempDir& dir, const std::string& programme) {
  std::string settings = dir.write("QS_ADD/common.sch", "Ver:\t1\t2\t3\tT\tprog.txt\t\n");
  dir.write("QS_ADD/prog.txt", programme);
  ZuController zu;
  Loaded out;
  out.rc = zu.loadProgramme(settings, "Ver", 66051, 0, 1);
  out.error = zu.programmeError;
  out.points = zu.testPoints;
  out.file = zu.programmeFile;
  return out;
}

TEST(Programme, EachNumberAsWrittenOrTheLineAndFieldThatIsNot) {
  struct Case {
    const char* fields;  // after "A1_1\t"
    const char* error;   // "" when the line reads
    double U, I, PF;
  };
  const Case cases[] = {
      {"220\t100\t5\t100\t0,5\tL\t0\t0\t0\tABC", "", 220, 5, 0.5},
      {"220\t100\t5\t100\t0.5\tL\t0\t0\t0\tABC", "", 220, 5, 0.5},
      {" 220,5 \t100\t 5 \t100\t -0,5 \tC\t0\t0\t0\tABC", "", 220.5, 5, -0.5},
      {"220\t100\t5\t100\t1\tN\t\t\t\tABC\t1,0", "", 220, 5, 1},  // empty fields nothing reads
      {"220\t100\t5", "", 220, 5, 0},                              // a short line: the rest is zero
      {"220\t100\t5\t100\t", "", 220, 5, 0},                       // ended by a TAB
      {"220\t100\t5\t100\t0,5x\tL\t0\t0\t0\tABC", "cos φ «0,5x»", 0, 0, 0},
      {"abc\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC", "U «abc»", 0, 0, 0},
      {"220\t100\t5\t2O\t1.0\tN\t0\t0\t0\tABC", "I, % «2O»", 0, 0, 0},
      {"220\t1.0.0\t5\t100\t1.0\tN", "U, % «1.0.0»", 0, 0, 0},
      {"220\t100\t5\t100\t1,5\tN", "cos φ «1,5»: вне −1…1", 0, 0, 0},
      {"220\t100\t-5\t100\t1\tN", "I «-5»: меньше нуля", 0, 0, 0},
      {"\t100\t5\t100\t1\tN", "U «»", 0, 0, 0},
      {"220\t100\t5\t100\t1\tN\t0\tx\t0\tABC", "поле 8 «x»", 0, 0, 0},
      {"220\t100\t5\t100\t1\tN\t1,5\t0\t0\tABC", "поле 7 «1,5»: не целое", 0, 0, 0},
      {"220\t100\t5\t100\t1\tN\t0\t0\t0\tABC\t0,0001", "допуск «0,0001»: не точнее 0,001 %", 0, 0, 0},
      {"220\t100\t5\t100\t1\tN\t0\t0\t0\tABC\t-1", "допуск «-1»: меньше нуля", 0, 0, 0},
      {"220\t100\t5\t100\t1\tN\t0\t0\t0\tABC\t1,0 %", "допуск «1,0 %»: не число", 0, 0, 0},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    Loaded r = load(dir, "## a comment first\nA1_1\t220\t100\t5\t100\t1\tN\t0\t0\t0\tABC\nA1_2\t" +
                             std::string(c.fields) + "\n");
    if (*c.error == '\0') {
      ASSERT_EQ(r.rc, 0) << r.error;
      ASSERT_EQ(r.points.size(), 2u);
      EXPECT_DOUBLE_EQ(r.points[1].U, c.U);
      EXPECT_DOUBLE_EQ(r.points[1].I, c.I);
      EXPECT_DOUBLE_EQ(r.points[1].PF, c.PF);
    } else {
      EXPECT_EQ(r.rc, -4);
      EXPECT_EQ(r.error, "Ошибка в строке 3 программы " + r.file + ": " + c.error);
      EXPECT_TRUE(r.points.empty());
    }
  }
}

// The points of a programme as they were read before numbers were checked:
// each field by the C library's conversion.
std::vector<TestPoint> asReadBefore(const std::string& text) {
  std::vector<TestPoint> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line.rfind("##", 0) == 0 || line.find('_') == std::string::npos) continue;
    std::vector<std::string> f;
    std::stringstream fields(line.substr(line.find('\t') + 1));
    std::string field;
    while (std::getline(fields, field, '\t')) f.push_back(field);
    TestPoint p;
    auto num = [&](size_t i) { return i < f.size() ? std::atof(f[i].c_str()) : 0.0; };
    p.U = num(0), p.Upct = num(1), p.I = num(2), p.Ipct = num(3), p.PF = num(4);
    p.auxInt = static_cast<int32_t>(num(6)), p.auxReal1 = num(7), p.auxReal2 = num(8);
    out.push_back(p);
  }
  return out;
}

TEST(Programme, EveryProgrammeThatReadBeforeReadsToTheSamePoints) {
  std::vector<std::string> texts;
  for (const auto& entry : std::filesystem::directory_iterator(QS_SOURCE_DIR "/samples/QS_ADD"))
    if (entry.path().filename().string().rfind("prog", 0) == 0) texts.push_back(test::readFile(entry.path().string()));
  // The programmes the tests and the stand's stress run write.
  texts.push_back("A1_1\t230\t100\t5\t100\t1.0\tC\t0\t0\t0\t5\nA1_7\t57\t100\t1\t10\t0.5\tL\t0\t0\t0\tac\n");
  texts.push_back("A1_1\t220\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\t1,0\nA1_2\t220\t100\t5\t6\t1.0\tN\t0\t0\t0\tABC\n");
  texts.push_back("A1_1\t57.7\t100\t1\t120\t-0.5\tC\t2\t0.25\t1e1\tBC\t0.125\n");
  ASSERT_GE(texts.size(), 5u);
  test::TempDir dir;
  for (const std::string& text : texts) {
    Loaded r = load(dir, text);
    ASSERT_EQ(r.rc, 0) << r.error;
    std::vector<TestPoint> before = asReadBefore(text);
    ASSERT_EQ(r.points.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
      const TestPoint &a = r.points[i], &b = before[i];
      EXPECT_EQ(std::make_tuple(a.U, a.Upct, a.I, a.Ipct, a.PF, a.auxInt, a.auxReal1, a.auxReal2),
                std::make_tuple(b.U, b.Upct, b.I, b.Ipct, b.PF, b.auxInt, b.auxReal1, b.auxReal2));
    }
  }
}

TEST(Programme, TheDecimalParserTakesANumberWholeOrNothing) {
  for (const char* good : {"0,5", "0.5", " 21,5 ", "-10", "+3", "5.", ",5", "1e3", "2,5E-1"})
    EXPECT_TRUE(decimalNumber(good).has_value()) << good;
  for (const char* bad : {"", " ", "abc", "2O", "0,5x", "1.2.3", "1 000", "--1", "1e", "e5", "0x1A", "inf", "nan",
                          "1e999", "−5"})
    EXPECT_FALSE(decimalNumber(bad).has_value()) << bad;
  EXPECT_DOUBLE_EQ(*decimalNumber("2,5E-1"), 0.25);
}

}  // namespace
}  // namespace qs
