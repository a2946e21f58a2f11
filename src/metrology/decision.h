// The decision rule: how a point, a run and a run found lost are judged.
// Every verdict the program states — on the bench's row, in the records,
// the chart's marks, the CSV and the protocol — comes from here, and the
// protocol's sentence about the rule is made beside the code it describes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qs::metrology {

// How a point came out. A point is judged when its programme line or its
// meter's class gives a limit; a point whose class gives none (a current
// below the class's lowest range, a power factor the class does not
// define) is not judged, and says why; a point whose values did not all
// come, or whose meter gave too few pulses, is not measured, limit or not.
// A point that sought no limit at all stays unjudged.
enum class PointState { Unjudged, Passed, Failed, NotMeasured, NotJudged };

// "passed", "failed", "not measured", "not judged", "" (as stored)
const char* stateWord(PointState state);
// "годен", "не годен", "не измерено", "не оценено", "" (as shown)
const char* stateText(PointState state);
PointState stateOfWord(const std::string& word);

// A limit as a programme line gives it ("0,125", "1.0", "2"): a number of
// percent, at least 0, with at most three decimals. Its value in
// thousandths of a percent, or false when the text is not such a number.
bool parseLimit(const std::string& text, int64_t* thousandthsOut);
// Why a limit's text is not such a number ("не число", "не точнее 0,001 %",
// "меньше нуля"), "" when it is one.
std::string limitProblem(const std::string& text);
// The text of a limit as printed: as given, with a decimal comma.
std::string limitShown(const std::string& text);

// Whether a channel's value is outside its limit: its value rounded to
// thousandths, half away from zero — the three decimals it is printed with
// — is larger in size than the limit (a value at the limit is inside); a
// value that is no number, or kLargestValue or larger, is outside every
// limit.
bool outsideLimit(double value, int64_t limitThousandths);

// What a point is judged by, as its record keeps it.
struct PointEvidence {
  bool measured = false;      // the average and each channel came, each a number
  double channel[3] = {0, 0, 0};
  std::string limit;          // as the programme line or the class row gives it; "" none
  bool limitSought = false;   // a limit was given or looked for (a class row)
  double pulses = -1;         // the meter's whole pulses (< 0: not known)
  double minPulses = 0;       // the fewest the run's measuring asks (0: none)
};
PointState judgePoint(const PointEvidence& p);
// A point short of its pulses, and how its reason says so ("импульсов 17 <
// 25").
bool tooFewPulses(double pulses, double minPulses);
std::string pulsesReason(double pulses, double minPulses);

// A run's verdict from its points' states: "" when no point sought a limit;
// else "failed" when a point failed, "not measured" when one was not
// measured or the run did not finish, "not judged" when one could not be
// judged or sought no limit, "passed" otherwise.
std::string runVerdict(const std::vector<PointState>& states, bool anyLimit, bool finished);
// The verdict a run whose writer is gone keeps: as a run that did not
// finish, from the points it recorded.
std::string lostVerdict(const std::vector<PointState>& recorded, bool anyLimit);

// The verdict a run's record supports: the stored one, except that a run
// with points that sought no limit (`withoutLimit`) is never "passed" (a
// record written before this rule may say so).
std::string supportedVerdict(const std::string& stored, int withoutLimit);
// A verdict as the bench, the listing, the CSV and the protocol say it:
// "годен", "не годен", "не оценено (точек без допуска: 4)", "" for none.
std::string verdictShown(const std::string& word, int withoutLimit);

// The protocol's statement of the rule.
extern const char* const kDecisionRuleText;

}  // namespace qs::metrology
