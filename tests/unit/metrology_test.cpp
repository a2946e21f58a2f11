// The class-limit tables: the row each point falls in at every range
// boundary, the points no row judges, and the tables' own shape.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "metrology/class_limits.h"
#include "metrology/measuring.h"
#include "settings/meter_types.h"
#include "support/test_support.h"

namespace qs::metrology {
namespace {

struct Case {
  const char* meterClass;
  bool transformer;
  double current;  // A, of Ib = In = 5 A, Imax = 60 A
  double pf;
  char character;
  Loading loading;
  const char* limit;  // "" when no row applies
  const char* why;    // the reason then
};

TEST(ClassLimits, EachPointFindsItsRowAtEveryBoundary) {
  const Loading B = Loading::Balanced, O = Loading::OnePhase;
  const Case cases[] = {
      // class 1, direct: 0,05 / 0,1 Ib at unity, 0,1 / 0,2 Ib at 0,5 L and 0,8 C
      {"1", false, 0.2499, 1, 'N', B, "", "ток ниже 0,05Iб"},
      {"1", false, 0.25, 1, 'N', B, "1,5", ""},
      {"1", false, 5 * 10 * 0.01, 1, 'N', B, "1,0", ""},  // 0,1 Ib as a programme computes it
      {"1", false, 0.4999, 1, 'N', B, "1,5", ""},
      {"1", false, 60, 1, 'N', B, "1,0", ""},
      {"1", false, 60.01, 1, 'N', B, "", "ток выше Imax"},
      {"1", false, 0.4999, 0.5, 'L', B, "", "ток ниже 0,1Iб"},
      {"1", false, 0.5, 0.5, 'L', B, "1,5", ""},
      {"1", false, 0.9999, 0.8, 'C', B, "1,5", ""},
      {"1", false, 1.0, 0.8, 'C', B, "1,0", ""},
      {"1", false, 1.0, 0.5, 'C', B, "", "cos φ = 0,5 C не задан для класса 1"},
      {"1", false, 5, 0.25, 'L', B, "", "cos φ = 0,25 L не задан для класса 1"},
      // class 1, through transformers: 0,02 / 0,05 In, 0,05 / 0,1 In
      {"1", true, 0.1, 1, 'N', B, "1,5", ""},
      {"1", true, 0.0999, 1, 'N', B, "", "ток ниже 0,02Iном"},
      {"1", true, 0.25, 1, 'N', B, "1,0", ""},
      {"1", true, 0.4999, 0.5, 'L', B, "1,5", ""},
      {"1", true, 0.5, 0.5, 'L', B, "1,0", ""},
      // class 2: no limit at 0,8 C
      {"2", false, 0.25, 1, 'N', B, "2,5", ""},
      {"2", false, 1.0, 0.5, 'L', B, "2,0", ""},
      {"2", false, 1.0, 0.8, 'C', B, "", "cos φ = 0,8 C не задан для класса 2"},
      // one current circuit loaded
      {"1", false, 0.4999, 1, 'N', O, "", "ток ниже 0,1Iб"},
      {"1", false, 0.5, 1, 'N', O, "2,0", ""},
      {"2", false, 1.0, 0.5, 'L', O, "3,0", ""},
      {"1", false, 1.0, 0.8, 'C', O, "", "cos φ = 0,8 C не задан для класса 1 при нагрузке одной фазы"},
      // classes the tables do not hold
      {"0.5S", true, 5, 1, 'N', B, "", "нет в таблицах активной энергии"},
  };
  for (const Case& c : cases) {
    PointCondition p;
    p.transformer = c.transformer;
    p.current = c.current;
    p.base = 5;
    p.imax = 60;
    p.pf = c.pf;
    p.character = c.character;
    p.loading = c.loading;
    std::string why;
    const ClassRow* row = pickRow(c.meterClass, p, &why);
    std::string at = std::string("class ") + c.meterClass + " at " + std::to_string(c.current) + " A, " +
                     std::to_string(c.pf) + c.character;
    EXPECT_EQ(row != nullptr ? row->limit : "", std::string(c.limit)) << at;
    if (row == nullptr) {
      EXPECT_EQ(why, c.why) << at;
    }
  }
  PointCondition p;
  p.current = 5;
  p.base = 5;
  p.imax = 60;
  EXPECT_EQ(rowSource(*pickRow("1", p, nullptr), false), "класс 1, ГОСТ 31819.21-2012, табл. 6, 0,1Iб ≤ I ≤ Imax, cos φ = 1");
  EXPECT_EQ(rowSource(*pickRow("1", p, nullptr), true), "класс 1, ГОСТ 31819.21-2012, табл. 6, 0,05Iном ≤ I ≤ Imax, cos φ = 1");
}

// The tables themselves: within a class, energy, loading and power factor
// the ranges follow each other without a gap or an overlap from the lowest
// bound up to Imax, and every limit is a number of percent.
TEST(ClassLimits, RangesOfATableFollowEachOtherWithoutGapOrOverlap) {
  std::map<std::string, std::vector<const ClassRow*>> groups;
  for (const ClassRow& r : classRows()) {
    EXPECT_NE(std::string(r.limit).find(','), std::string::npos) << r.standard;
    groups[std::string(r.meterClass) + (r.active ? "A" : "R") + std::to_string(static_cast<int>(r.loading)) +
           std::to_string(r.pf) + r.character]
        .push_back(&r);
  }
  for (bool transformer : {false, true}) {
    for (const auto& [key, rows] : groups) {
      double lowest = 1e9;
      for (const ClassRow* r : rows) lowest = std::min(lowest, transformer ? r->lowTransformer : r->lowDirect);
      for (double share = lowest; share <= 12; share += 0.0005) {
        PointCondition p;
        p.transformer = transformer;
        p.base = 5;
        p.imax = 60;
        p.current = share * 5;
        p.pf = rows[0]->pf;
        p.character = rows[0]->character;
        p.loading = rows[0]->loading;
        p.active = rows[0]->active;
        int matching = 0;
        for (const ClassRow* r : rows) {
          double low = transformer ? r->lowTransformer : r->lowDirect;
          double high = transformer ? r->highTransformer : r->highDirect;
          bool in = (r->lowIncluded ? share >= low : share > low) &&
                    (high == 0 || (r->highIncluded ? share <= high : share < high));
          matching += in;
        }
        ASSERT_EQ(matching, 1) << key << " at " << share << (transformer ? " In" : " Ib");
        ASSERT_NE(pickRow(rows[0]->meterClass, p, nullptr), nullptr) << key << " at " << share;
      }
    }
  }
}

// A point's value from its readings, and the pulses the meter gave.
TEST(Measuring, MeanSpreadAndPulses) {
  Summary s = summarise({0.101, 0.099, std::nan(""), 0.104});
  EXPECT_EQ(s.count, 3);
  EXPECT_NEAR(s.mean, 0.304 / 3, 1e-12);
  EXPECT_NEAR(s.spread, 0.005, 1e-12);
  EXPECT_EQ(summarise({}).count, 0);
  // 220 V × 5 A × 3 phases = 3,3 kW: 3,3 × 1000 imp/kWh × 30 s / 3600 = 27,5.
  EXPECT_NEAR(pulsesAt(220, 5, 1, 3, 1000, 30), 27.5, 1e-9);
  EXPECT_NEAR(pulsesAt(220, 5, -0.5, 1, 1000, 36), 5.5, 1e-9);  // |cos φ|, one phase
  EXPECT_LT(pulsesAt(220, 5, 1, 3, 0, 30), 0);                   // no constant: not known
}

// The catalogue and the measuring settings as an operator types them: a
// type found by its device type text or by name, a line that does not
// parse said with its line, never a default in its place.
TEST(Measuring, CatalogueAndMeasureLines) {
  test::TempDir dir;
  std::string path = dir.write("meters.sch",
                               "## comment\n"
                               "Meter:\tA\t3Ф4П(220В)\t1\t2\tпрямое\t5\t60\t1000\t16\t\n"
                               "Meter:\tB\t-\t0,5s\t-\tтт\t1\t1,2\t20000\t12\t\n"
                               "Meter:\tC\t3Ф3П(127В)\t1\t2\tпрямое\t5\t4\t1000\t16\t\n"
                               "Meter:\tD\t3Ф3П(127В)\t1\n");
  MeterCatalogue c = readMeterCatalogue(path);
  ASSERT_EQ(c.types.size(), 2u);
  EXPECT_EQ(c.errors, (std::vector<std::string>{path + ", строка 4: Imax «4»", path + ", строка 5: полей меньше девяти"}));
  std::string message;
  const MeterType* a = findMeterType(c, "", "3Ф4П(220В)", &message);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->name, "A");
  EXPECT_FALSE(a->transformer);
  const MeterType* b = findMeterType(c, "B", "3Ф4П(220В)", &message);  // named wins
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(b->transformer);
  EXPECT_DOUBLE_EQ(b->imax, 1.2);
  EXPECT_EQ(classKey(b->activeClass), "0.5S");
  EXPECT_EQ(findMeterType(c, "", "3Ф3П(127В)", &message), nullptr);  // its line did not parse
  EXPECT_EQ(message,
            "Тип счётчика 3Ф3П(127В) не найден в meters.sch: допуски из программы "
            "(ошибка в " + path + ", строка 4: Imax «4» и ещё 1)");
  EXPECT_EQ(findMeterType(readMeterCatalogue(dir.file("none.sch")), "X", "", &message), nullptr);
  EXPECT_EQ(message, "Тип счётчика X не найден в meters.sch: допуски из программы (нет файла meters.sch)");

  MeasureSettings m;
  EXPECT_TRUE(parseMeasure("10 3 30 25", &m));
  EXPECT_EQ(measureText(m), "10 3 30 25");
  EXPECT_DOUBLE_EQ(m.boundSeconds(), 300);  // ten times the minimum unless the line says
  EXPECT_TRUE(parseMeasure("10 3 30 25 120", &m));
  EXPECT_EQ(measureText(m), "10 3 30 25 120");
  for (const char* bad : {"10 3 30", "10 0 30 25", "10 2,5 30 25", "601 3 30 25", "10 3 30 25 1", "10 3 x 25",
                          "-1 3 30 25", "10 3 30 -25", "10 3 30 25 60 1"})
    EXPECT_FALSE(parseMeasure(bad, &m)) << bad;
  std::string problem;
  MeasureSettings fromFile;
  EXPECT_TRUE(readMeasureLine(dir.write("a.sch", "Task_1:\t3\t21\t\nMeasure:\t0,5\t2\t0\t0\t\n"), &fromFile, &problem));
  EXPECT_EQ(measureText(fromFile), "0,5 2 0 0");
  std::string shortLine = dir.write("b.sch", "##\nMeasure:\t10\t3\t\n");
  EXPECT_FALSE(readMeasureLine(shortLine, &fromFile, &problem));
  EXPECT_EQ(problem, "строка 2 файла " + shortLine + ": Measure «10 3»");
  bool found = false;
  std::vector<std::string> fields = {"prog.txt", "type=A", "measure=0 1 0 0"};
  EXPECT_EQ(programmeOption(fields, "type", &found), "A");
  EXPECT_TRUE(found);
  EXPECT_TRUE(isProgrammeOption(fields[2]) && !isProgrammeOption(fields[0]));
}

}  // namespace
}  // namespace qs::metrology
