// The class-limit tables: the row each point falls in at every range
// boundary, the points no row judges, and the tables' own shape.
#include <gtest/gtest.h>

#include <map>

#include "metrology/class_limits.h"

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
      {"0.5S", true, 5, 1, 'N', B, "", "класс 0.5S активной энергии не в таблицах"},
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

}  // namespace
}  // namespace qs::metrology
