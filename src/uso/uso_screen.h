// The telemechanics controller's screens: the request layer of its own
// command set, the live views of TI, TS, temperatures and TU, the service
// menu with its settings screens, and the TI scales kept in scale.bin.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "devlink/device_state.h"

namespace qs {

class Channel;
class DevLink;

// Views (DeviceState::viewMode).
inline constexpr uint8_t kViewTi = 0x5A;
inline constexpr uint8_t kViewTs = 0x57;
inline constexpr uint8_t kViewTemperature = 0x3F;
inline constexpr uint8_t kViewTu = 0x4C;
inline constexpr uint8_t kViewMeterMenu = 0x18;

inline constexpr int kTiChannels = 32;
inline constexpr int kTelemechanicsGaps = 21;  // empty polls a whole reply may have
inline constexpr const char* kScaleFile = "scale.bin";

// Copies the low ((n - 1) mod 8) + 1 bytes of a value most significant first.
void toBigEndian(uint64_t value, uint8_t* destination, int n);
// The other way: n big-endian bytes as a value.
uint64_t fromBigEndian(const uint8_t* source, int n);
// 0 when every character is a decimal digit (an empty text included), else -1.
int isDecimalText(const char* text);

class UsoScreen {
 public:
  explicit UsoScreen(DevLink& link);

  // ---- request layer --------------------------------------------------------
  // The frame length; -1 for a code without an encoding, -2 for a 0x49 text
  // longer than 6 characters (nothing is sent then).
  int sendRequest(DeviceState& s, int code, uint32_t a1 = 0, uint32_t a2 = 0);
  int sendText(DeviceState& s, int code, const std::string& text);  // 0x49
  int receiveFrame(DeviceState& s);
  // 0, -1 (no request or no frame), -2 (no decoding), -3 (serial reply of the
  // wrong length), -4 (address reply from another address).
  int receiveResponse(DeviceState& s);
  // One request and its reply; true when the controller acknowledged (0x06).
  bool exchange(int code, uint32_t a1 = 0, uint32_t a2 = 0);

  // ---- screens --------------------------------------------------------------
  void selectView(int scanCode);
  // 0: back to the meter menu; 27: the program ends.
  int run();
  int identify();
  int readSerial();
  void drawView();
  void drawValues();
  int changeModemNumber();
  void channelSelection();
  void analysisTimes();
  void autoDelay();
  void setAveraging();
  void debounceTimes();
  void polarityMask();

  // ---- TI scales ------------------------------------------------------------
  void loadScales();
  void saveScales() const;
  double scaled(uint16_t raw, int channel) const;

  DeviceState* state;
  double fullScale[kTiChannels];
  double scaleMax[kTiChannels];
  double sums[kTiChannels] = {};
  uint8_t txFrame[48] = {};
  uint32_t sampleCount = 0;
  uint32_t windowStart = 0;
  uint32_t averagingMs = 500;
  uint16_t channelsPerRow = 8;
  Channel* channel;
  DevLink& link;

 private:
  // A result or error of the service menu or of the identification, shown
  // below the live view once it is drawn again and kept there until the
  // operator's next key (a redraw right after would erase it unseen).
  static constexpr int kNoticeRow = 16;
  void notify(const std::string& text);
  void showNotice();
  std::string notice_;
  int serviceMenu(int key);
  // An entry typed at `prompt` on row 17 until it is empty or Esc (false:
  // nothing taken) or `take` takes it whole (true); an entry it refuses is
  // said on row 18 and asked again.
  bool askDigits(const char* prompt, const char* refusal, const std::function<bool(const std::string&)>& take);
  int tuKeys();
  // The shared form of the analysis-time, debounce and polarity screens.
  struct TableScreen;
  void tableScreen(const TableScreen& t);
};

}  // namespace qs
