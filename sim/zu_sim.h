// The reference installation's keypad and display, as the program drives
// them: key codes in, NUL-terminated display frames out in the
// installation's character set. It walks through the test-point screens,
// holds the test point it was given, and in measuring state reports plain
// values and, with pulse-error measurement on, the three channel values.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "sim/peer.h"

namespace qs::sim {

// Display text to the installation's bytes (the inverse of its character set).
std::string encodeZuDisplay(const std::string& text);

class ZuSim : public Peer {
 public:
  void receive(const uint8_t* data, size_t size, uint32_t nowMs) override;
  size_t take(uint8_t* out, size_t max, uint32_t nowMs) override;
  int nextDueIn(uint32_t nowMs) const override;

  // The test point the installation holds.
  double U = 0, Upct = 0, I = 0, Ipct = 0, PF = 0;
  uint8_t phaseByte = 0x80;
  char loadKey = 0;      // 'I' inductive, 'H' capacitive, 0 none
  bool tenSeconds = false;
  bool fictitious = false;
  bool measuring = false;
  bool pulseError = false;
  int resets = 0;
  std::string keys;      // every key received, in order (raw bytes)
  uint32_t reportMs = 250;  // how often measuring values come
  double channelErrors[3] = {0.12, -0.08, 0.05};
  // Successive reports of a channel go round -spread/2, 0, +spread/2 about
  // its value, so that readings of a point differ.
  double channelSpread = 0;

  // Faults: a screen text that is never shown, or shown as another text;
  // with `faultActive` set, only while it says so.
  std::string neverShow;
  std::string showInstead;
  std::function<bool()> faultActive;

  // What the installation does, one line each: "set <phase byte> U Upct I
  // Ipct PF <load> <power> <channel 1> <channel 2> <channel 3>" when it
  // starts measuring after a block of keys (with the values it reports
  // there; a change of several fields passes through several), the same
  // fields after "pulse-on" when pulse-error measurement starts at the
  // point held, "pulse-off", "reset".
  std::function<void(const std::string&)> onEvent;

  // The channel values reported at the test point held: the channel's own
  // error plus a part that tells the points apart (phases and current).
  double channelValue(int channel) const;
  // The power reported at the test point held (before its small wobble).
  double power() const;

 private:
  enum class Screen { Home, U, UP, UPdone, I, IP, IPdone, PF, Load, Time, Measuring };
  void key(uint8_t k, uint32_t now);
  void show(const std::string& text, uint32_t now);
  void enterMeasuring(uint32_t now);
  void event(const std::string& text);
  void pointEvent(const char* what);
  void report(uint32_t now);
  double value(const std::string& typed) const;

  Screen screen_ = Screen::Home;
  bool changing_ = false;  // a change of an established test point is under way
  std::string typed_;
  std::string recent_;     // keys typed in measuring state, for the pulse sequences
  uint8_t last_ = 0;
  uint32_t nextReport_ = 0;
  unsigned reports_ = 0;
  struct Frame {
    uint32_t due;
    std::string bytes;
  };
  std::deque<Frame> out_;
  uint32_t lastDue_ = 0;
};

}  // namespace qs::sim
