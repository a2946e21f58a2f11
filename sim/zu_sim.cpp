#include "sim/zu_sim.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qs::sim {
namespace {

constexpr uint32_t kScreenDelayMs = 5;

}  // namespace

std::string encodeZuDisplay(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case 'A': out += '\x3A'; break;
      case 'B': out += '\x3B'; break;
      case 'C': out += '\x43'; break;
      case 'D': out += '\x3D'; break;
      case 'E': out += '\x3E'; break;
      case 'F': out += '\x3F'; break;
      case ' ': out += '\x40'; break;
      case ',': out += '\x41'; break;
      case '-': out += '\x42'; break;
      case 'L': out += '\x44'; break;
      case 'U': out += '\x45'; break;
      case 'P': out += '\x46'; break;
      case 'Y': out += '\x47'; break;
      case 'T': out += '\x49'; break;
      case 'R': out += '\x4A'; break;
      case '=': out += '\x4E'; break;
      case '@': out += '\x50'; break;
      case 'I': out += '\x52'; break;
      case 'N': out += '\x54'; break;
      case 'S': out += '\x55'; break;
      case 'H': out += '\x58'; break;
      default: out += c; break;  // digits, '.', and what needs no translation
    }
  }
  return out;
}

void ZuSim::show(const std::string& text, uint32_t now) {
  std::string shown = text;
  if (!neverShow.empty() && text == neverShow && (!faultActive || faultActive())) {
    if (showInstead.empty()) return;
    shown = showInstead;
  }
  uint32_t due = now + kScreenDelayMs;
  if (static_cast<int32_t>(lastDue_ - due) > 0) due = lastDue_;
  lastDue_ = due;
  out_.push_back(Frame{due, encodeZuDisplay(shown) + std::string(1, '\0')});
}

double ZuSim::value(const std::string& typed) const {
  std::string t = typed;
  for (char& c : t) {
    if (c == ':') c = '.';
    if (c == ';') c = '-';
  }
  return std::atof(t.c_str());
}

void ZuSim::event(const std::string& text) {
  if (onEvent) onEvent(text);
}

void ZuSim::pointEvent(const char* what) {
  char text[200];
  std::snprintf(text, sizeof text, "%s %02X %.2f %.2f %.3f %.2f %.2f %c %.3f %.3f %.3f %.3f", what, phaseByte, U, Upct, I,
                Ipct, PF, loadKey != 0 ? loadKey : 'N', power(), channelValue(0), channelValue(1), channelValue(2));
  event(text);
}

void ZuSim::enterMeasuring(uint32_t now) {
  screen_ = Screen::Measuring;
  measuring = true;
  changing_ = false;
  recent_.clear();
  show("8--CP--", now);
  nextReport_ = now + reportMs;
  pointEvent("set");
}

namespace {

// The phase code of a phase byte (0 A ... 6 B,C).
int phaseCodeOf(uint8_t b) {
  static const uint8_t kBytes[7] = {0xB0, 0xA8, 0x98, 0x80, 0x90, 0xA0, 0x88};
  for (int i = 0; i < 7; ++i)
    if (kBytes[i] == b) return i;
  return 3;
}

}  // namespace

double ZuSim::power() const {
  int phases = phaseByte == 0x80 ? 3 : (phaseByte == 0xB0 || phaseByte == 0xA8 || phaseByte == 0x98) ? 1 : 2;
  return U * Upct / 100.0 * I * Ipct / 100.0 * PF * phases;
}

double ZuSim::channelValue(int c) const {
  return channelErrors[c] + phaseCodeOf(phaseByte) * 0.1 + static_cast<int>(Ipct) % 100 * 0.001;
}

void ZuSim::report(uint32_t now) {
  static unsigned wobble = 0;
  wobble = (wobble + 7) % 11;
  char text[48];
  std::snprintf(text, sizeof text, "8%.3f", power() + (static_cast<double>(wobble) - 5) * 0.01);
  show(text, now);
  if (pulseError) {
    double offset = (static_cast<int>(reports_++ % 3) - 1) * channelSpread / 2;
    for (int c = 0; c < 3; ++c) {
      std::snprintf(text, sizeof text, "8C%d%.3f", c + 1, channelValue(c) + offset);
      show(text, now);
    }
  }
}

void ZuSim::key(uint8_t k, uint32_t now) {
  keys += static_cast<char>(k);
  uint8_t previous = last_;
  last_ = k;
  if (k == '>') {  // back to the start display
    ++resets;
    event("reset");
    screen_ = Screen::Home;
    measuring = pulseError = changing_ = false;
    typed_.clear();
    show("8U", now);
    return;
  }
  if (k >= 0x80 && k <= 0xB0) {  // phases
    phaseByte = k;
    if (screen_ == Screen::Measuring) {
      show("8--CP--", now);
      pointEvent("set");
    }
    return;
  }
  bool number = (k >= '0' && k <= '9') || k == ':' || k == ';';
  auto echo = [&](char index) {
    std::string t = typed_;
    for (char& c : t) {
      if (c == ':') c = '.';
      if (c == ';') c = '-';
    }
    show(std::string(1, index) + t, now);
  };
  switch (screen_) {
    case Screen::Home:
      if (k == '=') {
        screen_ = Screen::U;
        typed_.clear();
        show("8U", now);
      }
      return;
    case Screen::U:
      if (number) {
        typed_ += static_cast<char>(k);
        echo('1');
      } else if (k == '=') {
        if (typed_.empty()) {
          show("8U", now);
          return;
        }
        U = value(typed_);
        typed_.clear();
        screen_ = Screen::UP;
        show("8UP", now);
      }
      return;
    case Screen::UP:
      if (number) {
        typed_ += static_cast<char>(k);
        echo('2');
      } else if (k == '=') {
        Upct = value(typed_);
        typed_.clear();
        screen_ = Screen::UPdone;
        char text[32];
        std::snprintf(text, sizeof text, "2%.2f", Upct);
        show(text, now);
      }
      return;
    case Screen::UPdone:
      if (k == '@' && changing_) {
        enterMeasuring(now);
      } else if (k == '=' && previous == '@') {
        screen_ = Screen::I;
        show("8I", now);
        show("8I", now);
      }
      return;
    case Screen::I:
      if (number) {
        typed_ += static_cast<char>(k);
        echo('3');
      } else if (k == '=') {
        I = value(typed_);
        typed_.clear();
        screen_ = Screen::IP;
        show("8IP", now);
      } else if (k == '@') {
        show("8I", now);
      }
      return;
    case Screen::IP:
      if (number) {
        typed_ += static_cast<char>(k);
        echo('4');
      } else if (k == '=') {
        Ipct = value(typed_);
        typed_.clear();
        screen_ = Screen::IPdone;
      }
      return;
    case Screen::IPdone:
      if (k == 'C') {
        if (changing_) {
          enterMeasuring(now);
        } else {
          screen_ = Screen::PF;
          show("8C", now);
          show("8C", now);
        }
      }
      return;
    case Screen::PF:
      if (number) {
        typed_ += static_cast<char>(k);
        echo('5');
      } else if (k == '=') {
        if (!typed_.empty()) PF = value(typed_);
        typed_.clear();
        if (PF == 1.0 || PF == -1.0) {
          loadKey = 0;
          screen_ = Screen::Time;
          show(tenSeconds ? "810T" : "81T", now);
        } else {
          screen_ = Screen::Load;
          show("8CL", now);
        }
      }
      return;
    case Screen::Load:
      if (k == 'I' || k == 'H') {
        loadKey = static_cast<char>(k);
      } else if (k == '=') {
        screen_ = Screen::Time;
        show(tenSeconds ? "810T" : "81T", now);
      }
      return;
    case Screen::Time:
      if (k == ';') {
        tenSeconds = !tenSeconds;
      } else if (k == '=') {
        if (previous == ';') show("810T", now);
        enterMeasuring(now);
      }
      return;
    case Screen::Measuring:
      if (k == '0' && recent_.empty()) {  // fictitious load, after the time screen
        fictitious = !fictitious;
        show("8--CP--", now);
        return;
      }
      recent_ += static_cast<char>(k);
      if (recent_ == "@=") {  // change the voltage
        changing_ = true;
        screen_ = Screen::U;
        typed_.clear();
        recent_.clear();
      } else if (recent_ == "C=") {  // change the current
        changing_ = true;
        screen_ = Screen::I;
        typed_.clear();
        recent_.clear();
      } else if (recent_ == ";") {  // change power factor, load, time
        changing_ = true;
        screen_ = Screen::PF;
        typed_.clear();
        recent_.clear();
        show("8C", now);
      } else if (recent_ == "=5=1=") {
        pulseError = true;
        recent_.clear();
        show("8--CP--", now);
        pointEvent("pulse-on");
      } else if (recent_ == "===") {
        pulseError = false;
        recent_.clear();
        show("8--CP--", now);
        event("pulse-off");
      } else if (recent_.size() > 5 || (recent_ != "=" && recent_ != "=5" && recent_ != "=5=" && recent_ != "=5=1" &&
                                        recent_ != "==" && recent_ != "@" && recent_ != "C")) {
        recent_.clear();
      }
      return;
  }
}

void ZuSim::receive(const uint8_t* data, size_t size, uint32_t nowMs) {
  for (size_t i = 0; i < size; ++i) key(data[i], nowMs);
}

size_t ZuSim::take(uint8_t* out, size_t max, uint32_t nowMs) {
  if (measuring && static_cast<int32_t>(nowMs - nextReport_) >= 0) {
    report(nowMs);
    nextReport_ = nowMs + reportMs;
  }
  size_t n = 0;
  while (n < max && !out_.empty() && static_cast<int32_t>(nowMs - out_.front().due) >= 0) {
    Frame& f = out_.front();
    size_t k = f.bytes.size() < max - n ? f.bytes.size() : max - n;
    std::memcpy(out + n, f.bytes.data(), k);
    f.bytes.erase(0, k);
    n += k;
    if (f.bytes.empty()) out_.pop_front();
  }
  return n;
}

int ZuSim::nextDueIn(uint32_t nowMs) const {
  int32_t until = -1;
  if (!out_.empty()) until = static_cast<int32_t>(out_.front().due - nowMs);
  if (measuring) {
    int32_t r = static_cast<int32_t>(nextReport_ - nowMs);
    if (until < 0 || r < until) until = r;
  }
  if (until < 0 && (measuring || !out_.empty())) until = 0;
  return until;
}

}  // namespace qs::sim
