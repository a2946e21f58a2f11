#include "metrology/decision.h"

#include <cmath>

#include "console/number_text.h"
#include "console/text_file.h"

namespace qs::metrology {

const char* stateWord(PointState state) {
  switch (state) {
    case PointState::Passed: return "passed";
    case PointState::Failed: return "failed";
    case PointState::NotMeasured: return "not measured";
    case PointState::NotJudged: return "not judged";
    default: return "";
  }
}

const char* stateText(PointState state) {
  switch (state) {
    case PointState::Passed: return "годен";
    case PointState::Failed: return "не годен";
    case PointState::NotMeasured: return "не измерено";
    case PointState::NotJudged: return "не оценено";
    default: return "";
  }
}

PointState stateOfWord(const std::string& word) {
  if (word == "passed") return PointState::Passed;
  if (word == "failed") return PointState::Failed;
  if (word == "not measured") return PointState::NotMeasured;
  if (word == "not judged") return PointState::NotJudged;
  return PointState::Unjudged;
}

bool parseLimit(const std::string& text, int64_t* out) {
  size_t at = 0, end = text.size();
  while (at < end && (text[at] == ' ' || text[at] == '\t')) ++at;
  while (end > at && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r' || text[end - 1] == '\n'))
    --end;
  if (at == end) return false;
  int64_t whole = 0, fraction = 0;
  int intDigits = 0, decimals = 0;
  bool seenPoint = false;
  for (size_t i = at; i < end; ++i) {
    char c = text[i];
    if ((c == '.' || c == ',') && !seenPoint) {
      seenPoint = true;
    } else if (c >= '0' && c <= '9') {
      if (seenPoint) {
        if (++decimals > 3) return false;
        fraction = fraction * 10 + (c - '0');
      } else {
        if (++intDigits > 9) return false;
        whole = whole * 10 + (c - '0');
      }
    } else {
      return false;
    }
  }
  if (intDigits == 0 && decimals == 0) return false;
  while (decimals++ < 3) fraction *= 10;
  if (out != nullptr) *out = whole * 1000 + fraction;
  return true;
}

std::string limitProblem(const std::string& text) {
  if (parseLimit(text, nullptr)) return "";
  std::string t;
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') t += c;
  bool negative = !t.empty() && t[0] == '-';
  if (negative) t.erase(0, 1);
  size_t sep = t.find_first_of(".,");
  bool digitsOnly = !t.empty() && t.find_first_not_of("0123456789.,") == std::string::npos &&
                    (sep == std::string::npos || t.find_first_of(".,", sep + 1) == std::string::npos) &&
                    t.find_first_of("0123456789") != std::string::npos;
  if (!digitsOnly) return "не число";
  if (negative) return "меньше нуля";
  if (sep != std::string::npos && t.size() - sep - 1 > 3) return "не точнее 0,001 %";
  return "больше 999999999 %";
}

std::string limitShown(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    out += c == '.' ? ',' : c;
  }
  return out;
}

bool outsideLimit(double value, int64_t limitThousandths) {
  if (!std::isfinite(value) || std::fabs(value) >= kLargestValue) return true;
  int64_t t = thousandths(value);
  return (t < 0 ? -t : t) > limitThousandths;
}

bool tooFewPulses(double pulses, double minPulses) { return minPulses > 0 && pulses >= 0 && pulses < minPulses; }

std::string pulsesReason(double pulses, double minPulses) {
  std::string out;
  appendf(out, "импульсов %.0f < %g", std::floor(pulses), minPulses);
  for (char& c : out)
    if (c == '.') c = ',';
  return out;
}

PointState judgePoint(const PointEvidence& p) {
  if (!p.measured || tooFewPulses(p.pulses, p.minPulses)) return PointState::NotMeasured;
  int64_t limit = 0;
  if (p.limit.empty() && p.limitSought) return PointState::NotJudged;
  if (p.limit.empty() || !parseLimit(p.limit, &limit)) return PointState::Unjudged;
  for (double v : p.channel)
    if (outsideLimit(v, limit)) return PointState::Failed;
  return PointState::Passed;
}

std::string runVerdict(const std::vector<PointState>& states, bool anyLimit, bool finished) {
  if (!anyLimit) return "";
  bool notMeasured = !finished, notJudged = false;
  for (PointState s : states) {
    if (s == PointState::Failed) return stateWord(PointState::Failed);
    if (s == PointState::NotMeasured) notMeasured = true;
    // A point without a limit among points with one was judged by nothing.
    if (s == PointState::NotJudged || s == PointState::Unjudged) notJudged = true;
  }
  return stateWord(notMeasured ? PointState::NotMeasured : notJudged ? PointState::NotJudged : PointState::Passed);
}

std::string lostVerdict(const std::vector<PointState>& recorded, bool anyLimit) {
  return runVerdict(recorded, anyLimit, false);
}

std::string supportedVerdict(const std::string& stored, int withoutLimit) {
  if (stored == stateWord(PointState::Passed) && withoutLimit > 0) return stateWord(PointState::NotJudged);
  return stored;
}

std::string verdictShown(const std::string& word, int withoutLimit) {
  std::string shown = stateText(stateOfWord(supportedVerdict(word, withoutLimit)));
  if (stateOfWord(supportedVerdict(word, withoutLimit)) == PointState::NotJudged && withoutLimit > 0)
    shown += " (точек без допуска: " + std::to_string(withoutLimit) + ")";
  return shown;
}

const char* const kDecisionRuleText =
    "Правило решения: значение точки — среднее её отсчётов; точка годна, если значение погрешности каждого "
    "канала, округлённое до 0,001 % (половина — от нуля: 0,0005 → 0,001, −0,0005 → −0,001), по модулю не "
    "больше допуска (значение, равное допуску, годно). "
    "Неопределённость измерений при решении не учитывается.";

}  // namespace qs::metrology
