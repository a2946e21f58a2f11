// A laboratory's class rows (classes.sch) as a metrologist types them: the
// files refused with the line and field that refuse them, and the points
// on every boundary of the rows of a file that loads, each judged by its
// row and recording the row's source as the laboratory wrote it. The
// figures are this test's own ("Испытательная таблица qs"), no standard's.
#include <gtest/gtest.h>

#include <cmath>

#include "meter/meter_menu.h"
#include "metrology/class_limits.h"
#include "settings/class_rows.h"
#include "settings/key_lines.h"
#include "support/test_support.h"
#include "zu/zu_controller.h"

namespace qs {
namespace {

using metrology::Loading;

// A row line of classes.sch from its eight fields.
std::string row(const std::string& source, const std::string& energy, const std::string& cls,
                const std::string& connection, const std::string& current, const std::string& pf,
                const std::string& loading, const std::string& limit) {
  return "Row:\t" + source + "\t" + energy + "\t" + cls + "\t" + connection + "\t" + current + "\t" + pf + "\t" +
         loading + "\t" + limit + "\t\n";
}
std::string t1(const std::string& current, const std::string& limit, const std::string& pf = "1",
               const std::string& loading = "все фазы") {
  return row("Испытательная таблица qs, табл. 1", "активная", "0,5S", "тт", current, pf, loading, limit);
}

TEST(LabClassRows, RefusedWithTheirLinesOrJudgingEveryBoundaryWithTheirSource) {
  test::TempDir dir;
  // --- Files refused: every error names the line(s) and the field. ---
  struct Refused {
    const char* what;
    std::string text;
    std::vector<std::string> errors;  // after "строка N файла PATH: " / "строки N и M файла PATH: "
    std::vector<int> lines;           // the line(s) of each error, in order (two for a pair)
  };
  const std::string T = "Испытательная таблица qs, табл. 1";
  const std::vector<Refused> refused = {
      {"overlap at a shared bound",
       "## rows\n" + t1("0,01 ≤ I ≤ 0,05", "0,9") + t1("0,05 <= I <= Imax", "0,45"),
       {"ток «0,01 ≤ I ≤ 0,05» и «0,05 <= I <= Imax» перекрываются (класс 0,5S, cos φ = 1)"}, {2, 3}},
      {"overlap inside, rows out of order",
       t1("0,05Iном ≤ I ≤ Imax", "0,45") + t1("0,01Iном ≤ I < 0,2Iном", "0,9"),
       {"ток «0,05Iном ≤ I ≤ Imax» и «0,01Iном ≤ I < 0,2Iном» перекрываются (класс 0,5S, cos φ = 1)"}, {1, 2}},
      {"a row without a load letter meets one with it",
       row(T, "реактивная", "1", "тт", "0,05 ≤ I ≤ Imax", "1", "все фазы", "1,7") +
           row(T, "реактивная", "1", "тт", "0,1 ≤ I ≤ 0,2", "1 L", "все фазы", "1,6"),
       {"ток «0,05 ≤ I ≤ Imax» и «0,1 ≤ I ≤ 0,2» перекрываются (класс 1, sin φ = 1)"}, {1, 2}},
      {"gap between two rows",
       t1("0,01 ≤ I < 0,05", "0,9") + t1("0,1 ≤ I ≤ Imax", "0,45"),
       {"ток между «0,01 ≤ I < 0,05» и «0,1 ≤ I ≤ Imax» без строки (класс 0,5S, cos φ = 1)"}, {1, 2}},
      {"gap of one current: both rows leave out 0,05",
       t1("0,1 < I ≤ Imax", "0,45") + "\n" + t1("0,01 ≤ I < 0,05", "0,9") + t1("0,05 < I < 0,1", "0,6"),
       {"ток между «0,01 ≤ I < 0,05» и «0,05 < I < 0,1» без строки (класс 0,5S, cos φ = 1)",
        "ток между «0,05 < I < 0,1» и «0,1 < I ≤ Imax» без строки (класс 0,5S, cos φ = 1)"},
       {3, 4, 4, 1}},
      {"a class and condition of the built-in table",
       row(T, "активная", "1", "прямое", "0,02 ≤ I < 0,05", "1", "все фазы", "1,9") +
           row(T, "активная", "2", "тт", "0,1 ≤ I ≤ Imax", "0,5 L", "одна фаза", "3,5"),
       {"класс «1»: cos φ = 1 есть во встроенной таблице (ГОСТ 31819.21-2012, табл. 6)",
        "класс «2»: cos φ = 0,5 L, нагрузка одной фазы есть во встроенной таблице (IEC 62053-21:2003, табл. 7)"},
       {1, 2}},
      {"bad fields",
       t1("0,05 ≤ I ≤ Imax", "±0,5") + t1("0,05 ≤ I ≤ Imax", "0,0005") + t1("0,05 ≤ I ≤ Imax", "0") +
           t1("0,05 ≤ I", "0,5") + t1("0,05Iб ≤ I ≤ Imax", "0,5") + t1("0,2 ≤ I < 0,1", "0,5") +
           t1("Imax ≥ I ≥ 0,05", "0,5") + t1("0,05 ≤ I ≤ Imax", "0,5", "0,5") + t1("0,05 ≤ I ≤ Imax", "0,5", "1 L") +
           t1("0,05 ≤ I ≤ Imax", "0,5", "1,2 C") + t1("0,05 ≤ I ≤ Imax", "0,5", "1", "две фазы") +
           row(T, "активн", "0,5S", "тт", "0,05 ≤ I ≤ Imax", "1", "все фазы", "0,5") +
           row(T, "активная", "0.5X", "тт", "0,05 ≤ I ≤ Imax", "1", "все фазы", "0,5") +
           row(T, "активная", "0,5S", "трансф.", "0,05 ≤ I ≤ Imax", "1", "все фазы", "0,5") +
           row("", "активная", "0,5S", "тт", "0,05 ≤ I ≤ Imax", "1", "все фазы", "0,5") +
           "Row:\t" + T + "\tактивная\t0,5S\tтт\t0,05 ≤ I ≤ Imax\t1\tвсе фазы\t\n" +
           "Rows:\t" + T + "\tактивная\t0,5S\tтт\t0,05 ≤ I ≤ Imax\t1\tвсе фазы\t0,5\t\n" +
           "Row: ГОСТ активная 0,5S тт\n",
       {"допуск «±0,5»: число процентов больше 0, не больше трёх знаков после запятой",
        "допуск «0,0005»: число процентов больше 0, не больше трёх знаков после запятой",
        "допуск «0»: число процентов больше 0, не больше трёх знаков после запятой",
        "ток «0,05 ≤ I»: пишется «a ≤ I < b» или «a ≤ I ≤ Imax»",
        "ток «0,05Iб ≤ I ≤ Imax»: через тт доли Iном",
        "ток «0,2 ≤ I < 0,1»: нижняя граница не ниже верхней",
        "ток «Imax ≥ I ≥ 0,05»: пишется «a ≤ I < b» или «a ≤ I ≤ Imax»",
        "cos φ «0,5»: нужна буква L или C",
        "cos φ «1 L»: при cos φ = 1 буквы нет",
        "cos φ «1,2 C»: число от 0 до 1 и буква L или C",
        "нагрузка «две фазы»: все фазы или одна фаза",
        "энергия «активн»: активная или реактивная",
        "класс «0.5X»",
        "подключение «трансф.»: прямое или тт",
        "источник «»: стандарт и таблица, откуда строка",
        "полей 7 вместо 8",
        "ключ «Rows»: строки этого файла — Row:",
        "поля разделены пробелами, а не TAB"},
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}},
  };
  for (const Refused& c : refused) {
    std::string path = dir.write("refused.sch", c.text);
    LabClassRows file = readClassRows(path);
    EXPECT_TRUE(file.rows.empty()) << c.what;  // nothing of a refused file judges
    std::vector<std::string> want;
    size_t at = 0;
    for (const std::string& e : c.errors) {
      bool pair = e.rfind("ток «", 0) == 0 && e.find("перекрываются") != std::string::npos;
      pair = pair || e.rfind("ток между", 0) == 0;
      if (pair) {
        want.push_back("строки " + std::to_string(c.lines[at]) + " и " + std::to_string(c.lines[at + 1]) + " файла " +
                       path + ": " + e);
        at += 2;
      } else {
        want.push_back(lineOfFile(c.lines[at++], path) + ": " + e);
      }
    }
    EXPECT_EQ(file.errors, want) << c.what;
    std::string refusal = classRowsRefusal(file);
    EXPECT_EQ(refusal.rfind(want.front(), 0), 0u) << c.what;
    EXPECT_TRUE(refusal.ends_with(". Поверка невозможна.")) << c.what << ": " << refusal;
  }
  EXPECT_EQ(classRowsRefusal(readClassRows(dir.write("more.sch", t1("0,05 ≤ I", "0,5") + t1("x", "0,5")))),
            lineOfFile(1, dir.file("more.sch")) +
                ": ток «0,05 ≤ I»: пишется «a ≤ I < b» или «a ≤ I ≤ Imax» (ошибок в файле: 2). Поверка невозможна.");

  // --- A file that loads: the laboratory's rows of a 0,5S meter through
  // transformers, a reactive class, and class 1 at a power factor the
  // built-in table does not hold. ---
  std::string path = dir.write(
      "classes.sch",
      "## Испытательная таблица qs: figures of this test, no standard's\n" +
          t1("0,01Iном ≤ I < 0,05Iном", "0,9") +                                     // 2
          row("Испытательная таблица qs, табл. 1", "активная", "0,5s", "ТТ", "0.05 <= I <= Imax", "1", "все фазы",
              "0.45") +                                                              // 3
          t1("0,02 ≤ I < 0,1", "0,95", "0,5 L") + t1("0,1 ≤ I ≤ Iмакс", "0,55", "0,5L") +  // 4, 5
          t1("0,05 < I ≤ 1,2", "0,65", "1", "одна фаза") +                           // 6
          row("Испытательная таблица qs, табл. 2", "реактивная", "1", "тт", "0,05 ≤ I < Imax", "1", "все фазы",
              "1,25") +                                                              // 7
          row("Испытательная таблица qs, табл. 3", "активная", "1", "прямое", "0,2Iб ≤ I ≤ Imax", "0,25 L",
              "все фазы", "2,75") +                                                  // 8
          t1("0,05 ≤ I ≤ Imax", "0,3", "0,8 С"));                                   // 9: a Cyrillic С
  LabClassRows file = readClassRows(path);
  ASSERT_TRUE(file.opened);
  EXPECT_EQ(file.errors, std::vector<std::string>{});
  ASSERT_EQ(file.rows.size(), 8u);
  EXPECT_EQ(classRowsRefusal(file), "");
  EXPECT_TRUE(readClassRows(dir.file("none.sch")).errors.empty());  // no file: no rows, nothing refused
  // The sample explains the format and carries no figure.
  LabClassRows sample = readClassRows(QS_SOURCE_DIR "/samples/QS_ADD/classes.sch");
  EXPECT_TRUE(sample.opened && sample.rows.empty() && sample.errors.empty());

  struct Point {
    const char* cls;
    bool active;
    bool transformer;
    double current;  // A of In (Ib) 5 A, Imax 10 A
    double pf;
    char character;
    Loading loading;
    const char* limit;   // "" when no row applies
    const char* source;  // the row's source, or why none applies
  };
  const Loading B = Loading::Balanced, O = Loading::OnePhase;
  const char* r2 = "Испытательная таблица qs, табл. 1, 0,01Iном ≤ I < 0,05Iном, cos φ = 1 (classes.sch:2)";
  const char* r3 = "Испытательная таблица qs, табл. 1, 0,05Iном ≤ I ≤ Imax, cos φ = 1 (classes.sch:3)";
  const char* r4 = "Испытательная таблица qs, табл. 1, 0,02Iном ≤ I < 0,1Iном, cos φ = 0,5 L (classes.sch:4)";
  const char* r5 = "Испытательная таблица qs, табл. 1, 0,1Iном ≤ I ≤ Imax, cos φ = 0,5 L (classes.sch:5)";
  const char* r6 =
      "Испытательная таблица qs, табл. 1, 0,05Iном < I ≤ 1,2Iном, cos φ = 1, нагрузка одной фазы (classes.sch:6)";
  const char* r7 = "Испытательная таблица qs, табл. 2, 0,05Iном ≤ I < Imax, sin φ = 1 (classes.sch:7)";
  const char* r8 = "Испытательная таблица qs, табл. 3, 0,2Iб ≤ I ≤ Imax, cos φ = 0,25 L (classes.sch:8)";
  const char* r9 = "Испытательная таблица qs, табл. 1, 0,05Iном ≤ I ≤ Imax, cos φ = 0,8 C (classes.sch:9)";
  const Point points[] = {
      {"0.5S", true, true, 0.0499, 1, 'N', B, "", "ток ниже 0,01Iном"},
      {"0.5S", true, true, 0.05, 1, 'N', B, "0,9", r2},
      {"0.5S", true, true, 0.2499, 1, 'N', B, "0,9", r2},
      {"0.5S", true, true, 5 * 5 * 0.01, 1, 'N', B, "0,45", r3},  // 0,05 In as a programme line computes it
      {"0.5S", true, true, 10, 1, 'N', B, "0,45", r3},
      {"0.5S", true, true, 10.001, 1, 'N', B, "", "ток выше Imax"},
      {"0.5S", true, true, 0.0999, 0.5, 'L', B, "", "ток ниже 0,02Iном"},
      {"0.5S", true, true, 0.1, 0.5, 'L', B, "0,95", r4},
      {"0.5S", true, true, 0.4999, 0.5, 'L', B, "0,95", r4},
      {"0.5S", true, true, 0.5, 0.5, 'L', B, "0,55", r5},
      {"0.5S", true, true, 10, 0.5, 'L', B, "0,55", r5},
      {"0.5S", true, true, 0.2499, 0.8, 'C', B, "", "ток ниже 0,05Iном"},
      {"0.5S", true, true, 0.25, 0.8, 'C', B, "0,3", r9},
      {"0.5S", true, true, 5, 0.5, 'C', B, "", "cos φ = 0,5 C не задан для класса 0,5S"},
      {"0.5S", true, true, 0.25, 1, 'N', O, "", "ток не выше 0,05Iном"},
      {"0.5S", true, true, 0.2501, 1, 'N', O, "0,65", r6},
      {"0.5S", true, true, 6, 1, 'N', O, "0,65", r6},
      {"0.5S", true, true, 6.001, 1, 'N', O, "", "ток выше 1,2Iном"},
      {"0.5S", true, false, 5, 1, 'N', B, "", "нет в таблицах активной энергии"},  // no rows for direct meters
      {"0.2S", true, true, 5, 1, 'N', B, "", "нет в таблицах активной энергии"},
      {"1", false, true, 0.25, 1, 'L', B, "1,25", r7},
      {"1", false, true, 9.999, 1, 'C', B, "1,25", r7},
      {"1", false, true, 10, 1, 'C', B, "", "ток не ниже Imax"},
      {"1", true, false, 0.9999, 0.25, 'L', B, "", "ток ниже 0,2Iб"},
      {"1", true, false, 1, 0.25, 'L', B, "2,75", r8},
      {"1", true, false, 10, 0.25, 'L', B, "2,75", r8},
      // the built-in rows of class 1 stay theirs
      {"1", true, false, 5, 1, 'N', B, "1,0", "класс 1, ГОСТ 31819.21-2012, табл. 6, 0,1Iб ≤ I ≤ Imax, cos φ = 1"},
  };
  for (const Point& c : points) {
    metrology::PointCondition p;
    p.active = c.active;
    p.transformer = c.transformer;
    p.current = c.current;
    p.base = 5;
    p.imax = 10;
    p.pf = c.pf;
    p.character = c.character;
    p.loading = c.loading;
    std::string why;
    const metrology::ClassRow* r = metrology::pickRow(c.cls, p, file.rows, &why);
    std::string at = std::string("class ") + c.cls + " at " + std::to_string(c.current) + " A, " +
                     std::to_string(c.pf) + c.character;
    EXPECT_EQ(r != nullptr ? r->limit : "", c.limit) << at;
    EXPECT_EQ(r != nullptr ? metrology::rowSource(*r, c.transformer) : why, c.source) << at;
  }

  // --- What a bench records: a point judged by the laboratory's row keeps
  // its source; a limit on the programme line still wins. ---
  std::string settings = dir.write("common.sch", "Ver:\t1\t2\t3\tT\tprog.txt\t\n");
  dir.write("prog.txt",
            "A1_1\t57.7\t100\t5\t5\t1.0\tN\t0\t0\t0\tABC\n"
            "A1_2\t57.7\t100\t5\t5\t1.0\tN\t0\t0\t0\tABC\t0,3\n"
            "A1_3\t57.7\t100\t5\t5\t1.0\tN\t0\t0\t0\tA\n");
  ZuController zu;
  ASSERT_EQ(zu.loadProgramme(settings, "Ver", 66051, 0, 1), 0);
  ASSERT_EQ(zu.testPoints.size(), 3u);
  MeterMenu::RunMeter meter;
  meter.typed = true;
  meter.type.name = "T";
  meter.type.activeClass = "0,5S";
  meter.type.transformer = true;
  meter.type.base = 5;
  meter.type.imax = 10;
  meter.labRows = file.rows;
  auto measured = [](double value) {
    MeterMenu::PointValues v;
    v.averageFresh = true;
    for (int n = 0; n < 3; ++n) {
      v.channelFresh[n] = true;
      v.channel[n] = n == 1 ? -value : value;
    }
    return v;
  };
  // Each point judged as its run records it.
  auto recordOf = [&](const TestPoint& tp, double value) {
    records::PointRecord r = recordOfPoint(tp, zu.programmeFile, measured(value), 1000, nullptr, meter);
    records::judge(r);
    return r;
  };
  records::PointRecord at = recordOf(zu.testPoints[0], 0.4504);
  EXPECT_EQ(at.limit, "0,45");
  EXPECT_EQ(at.limitSource, r3);
  EXPECT_EQ(at.state, records::PointState::Passed);  // 0,450 as printed
  records::PointRecord over = recordOf(zu.testPoints[0], 0.451);
  EXPECT_EQ(over.state, records::PointState::Failed);
  records::PointRecord own = recordOf(zu.testPoints[1], 0.301);
  EXPECT_EQ(own.limit, "0,3");
  EXPECT_EQ(own.limitSource, zu.programmeFile + ":2");
  EXPECT_EQ(own.state, records::PointState::Failed);
  records::PointRecord phaseA = recordOf(zu.testPoints[2], 0.1);
  EXPECT_EQ(phaseA.state, records::PointState::NotJudged);
  EXPECT_EQ(phaseA.reason, "класс 0,5S: ток не выше 0,05Iном");
}

}  // namespace
}  // namespace qs
