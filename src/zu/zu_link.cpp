// The link to the installation: keys out, display frames in, the read
// thread that averages the measured values, automatic work on and off.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <functional>
#include <thread>

#include "console/console.h"
#include "console/number_text.h"
#include "platform/time.h"
#include "zu/zu_controller.h"

namespace qs {

const unsigned char kZuDisplayChars[0x29] = {
    '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F',  // 0x30-0x3F
    ' ', ',', '-', 'C', 'L', 'U', 'P', 'Y', 'L', 'T', 'R', 0xCF, '~', '_', '=', '*',  // 0x40-0x4F
    '@', '=', 'I', 'R', 'N', 'S', '-', 0xD7, 'H'};                                    // 0x50-0x58

namespace {

constexpr uint8_t kSentinel = 5;
// The longest wait for the reader to let go of the line.
constexpr int kReaderParkMs = 10000;
// The longest wait for a screen while the installation sends other frames
// (well past the longest change of voltage or current it shows meanwhile).
constexpr uint32_t kExpectMs = 10000;
constexpr int kPanelColumn = 80;
constexpr const char* kModel = "ЭУ7125М";
constexpr const char* kLine = "-----------------";

// The published values may sit at offsets of the shared block that are not
// aligned for a double: they are stored byte by byte.
void publish(double* where, double value) { std::memcpy(static_cast<void*>(where), &value, sizeof value); }

// A published value and its counter: the counter is odd while the value is
// being written and rises by two with each value, so that a reader in
// another process never takes half of an old value and half of a new one.
std::atomic_ref<uint32_t> counterOf(const uint32_t* counter) {
  return std::atomic_ref<uint32_t>(*const_cast<uint32_t*>(counter));
}

void publishCounted(double* where, uint32_t* counter, double value) {
  counterOf(counter).fetch_add(1, std::memory_order_acq_rel);
  std::atomic_thread_fence(std::memory_order_release);
  publish(where, value);
  counterOf(counter).fetch_add(1, std::memory_order_release);
}

double readCounted(const double* where, const uint32_t* counter) {
  double v = 0;
  for (int tries = 0;; ++tries) {
    uint32_t before = counterOf(counter).load(std::memory_order_acquire);
    std::memcpy(&v, static_cast<const void*>(where), sizeof v);
    std::atomic_thread_fence(std::memory_order_acquire);
    // (A writer that died in the middle leaves the counter odd: after a
    // while the value is taken as it stands.)
    if (((before & 1) == 0 && counterOf(counter).load(std::memory_order_relaxed) == before) || tries > 1000) return v;
    std::this_thread::yield();
  }
}

// Values published so far, counted whole.
uint32_t countOf(const uint32_t* counter) { return counterOf(counter).load(std::memory_order_acquire) & ~1u; }

void panel(int row, const char* text) {
  Console::gotoXY(kPanelColumn, row);
  Console::print("%s", text);
}

}  // namespace

ZuController::ZuController()
    : channelValues(ownChannelValues_),
      avgValue(&ownAvg),
      channel(std::make_unique<Channel>()),
      averageCount(&ownCounts_[0]),
      channelCounts(&ownCounts_[1]) {
  std::memset(rxBuffer, 0, sizeof rxBuffer);
  rxBuffer[0] = kSentinel;
  powerEvent = platform::openNamedEvent("SYN_EVENT_ZU_POWER", false, false);
  if (!powerEvent) powerEvent = platform::createEvent(false, false);
  powerEvent->reset();
  countErrEvent = platform::openNamedEvent("SYN_EVENT_ZU_COU_ERR", false, false);
  if (!countErrEvent) countErrEvent = platform::createEvent(false, false);
  gate = platform::createEvent(true, false);
}

ZuController::~ZuController() {
  if (reader_.joinable()) {
    readerState = 2;
    gate->set();
    reader_.join();
  }
}

void ZuController::sendKeys(const std::string& keys) {
  if (keys.empty()) return;
  channel->write(reinterpret_cast<const uint8_t*>(keys.data()), static_cast<int>(keys.size()), 0);
}

int ZuController::readFrame(int, int idleLimit) {
  int j = 0, i = 0;
  const int usable = rxSize - 1;  // 254 bytes, the NUL included
  for (;;) {
    unsigned count = 0;
    channel->read(frame + j, 1, &count);
    if (count == 1) {
      ++j;
    } else {
      if (++i > idleLimit) return -1;
      platform::sleepMs(3);
    }
    idleReads = static_cast<uint16_t>(i);
    if (j >= usable) {  // a frame longer than the buffer is cut here
      frame[usable - 1] = 0;
      return usable;
    }
    frame[j] = 0;
    if (j > 0 && frame[j - 1] == 0) return j;
  }
}

int ZuController::decodeFrame() {
  int nuls = 0;
  uint8_t* in = frame;
  uint8_t* out = frame;
  const uint8_t* end = rxBuffer + rxSize;
  for (; in < end; ++in) {
    uint8_t c = *in;
    if (c >= 0x30 && c <= 0x58) c = kZuDisplayChars[c - 0x30];
    if (c == ' ') continue;
    *out++ = c;
    if (c == 0) {
      ++nuls;
      break;
    }
  }
  if (out < end) *out = 0;
  else rxBuffer[rxSize - 1] = 0;
  return nuls;
}

bool ZuController::expect(const std::string& text) {
  // The screen did not come: eight reads found the line quiet, or other
  // screens and values kept coming for 10 s (an installation that
  // measures sends its values all the time, and would otherwise hold the
  // bench here for ever).
  int timeouts = 0;
  uint32_t start = platform::tickCount();
  for (;;) {
    int n = readFrame(1, 50);
    if (n <= 1) {
      if (++timeouts >= 8) return true;
      continue;
    }
    decodeFrame();
    if (frameText() == text) return false;
    if (platform::tickCount() - start >= kExpectMs) return true;
  }
}

bool ZuController::sendValue(int index, double value, bool allowDecimals, bool waitEcho) {
  char number[48];
  double whole = std::trunc(value);
  long hundredths = static_cast<long>((value - whole) * 100);
  bool decimals = allowDecimals && (hundredths & 0xFFFF) != 0;
  if (decimals) {
    std::snprintf(number, sizeof number, "%.2f", value);
  } else {
    long integer = std::fabs(whole) < 2e9 ? static_cast<long>(whole) % 65536 : 0;
    std::snprintf(number, sizeof number, "%ld", integer);
  }
  std::string keys = number;
  for (char& c : keys) {
    if (c == '.') c = ':';
    if (c == '-') c = ';';
  }
  sendKeys(keys);
  platform::sleepMs(50);
  std::string echo = std::to_string(index) + number;
  return waitEcho && expect(echo);
}

void ZuController::pauseReader() {
  if (paused == 1) return;
  gate->reset();
  // Wait until the reader has let go of the line (it finishes the frame it
  // is reading at most: 100 quiet reads, which a loaded computer may stretch
  // well past a second; a controller that went on meanwhile would share the
  // line with it, and either could take the other's frames).
  {
    std::unique_lock<std::mutex> lock(parkMutex_);
    parkCv_.wait_for(lock, std::chrono::milliseconds(kReaderParkMs), [this] { return parked_ || readerState == 0; });
  }
  channel->purge();
  {
    std::lock_guard<std::timed_mutex> lock(avgLock);
    lastValue = 0;
    avgSum = 0;
    avgCount = 0;
    newValue = 0;
    if (avgValue != nullptr) publish(avgValue, 0.0);
  }
  paused = 1;
}

void ZuController::resumeReader() {
  if (readerState == 0 || paused != 1) return;
  {
    std::lock_guard<std::timed_mutex> lock(avgLock);
    lastValue = 0;
    avgSum = 0;
    avgCount = 0;
  }
  channel->purge();
  gate->set();
  paused = 0;
}

void ZuController::clearAverage() {
  if (isSlave()) {
    avgSum = 0;
    avgCount = 0;
  }
  if (channel->isOpen) {
    bool locked = avgLock.try_lock_for(std::chrono::milliseconds(2000));
    avgSum = 0;
    avgCount = 0;
    if (locked) avgLock.unlock();
  }
}

void ZuController::drain() {
  while (readFrame(1, 5) > 0) {
  }
}

double ZuController::average() const { return avgValue != nullptr ? readCounted(avgValue, averageCount) : 0.0; }

double ZuController::channelValue(int n) const { return readCounted(channelValues + n, channelCounts + n); }

ValueMark ZuController::valueMark() const {
  ValueMark m;
  m.averages = countOf(averageCount);
  for (int n = 0; n < 3; ++n) m.channels[n] = countOf(channelCounts + n);
  return m;
}

uint32_t ZuController::averagesSince(const ValueMark& mark) const { return (countOf(averageCount) - mark.averages) / 2; }

bool ZuController::channelFresh(const ValueMark& mark, int n) const {
  return countOf(channelCounts + n) != mark.channels[n];
}

namespace {

// Waits (looking for Esc every 20 ms) until `ready` holds or `limitMs` ran out.
template <typename Ready>
bool waitFor(Ready ready, uint32_t limitMs, const std::function<bool()>& escPressed, bool* esc) {
  if (esc != nullptr) *esc = false;
  uint32_t start = platform::tickCount();
  for (;;) {
    if (ready()) return true;
    if (escPressed()) {
      if (esc != nullptr) *esc = true;
      return false;
    }
    if (platform::tickCount() - start >= limitMs) return false;
    platform::sleepMs(20);
  }
}

}  // namespace

bool ZuController::waitFreshAverage(const ValueMark& mark, uint32_t averages, uint32_t limitMs, bool* esc) {
  return waitFor([&] { return averagesSince(mark) >= averages; }, limitMs, [this] { return escPressed(); }, esc);
}

void ZuController::hold(uint32_t ms, bool* esc) {
  waitFor([] { return false; }, ms, [this] { return escPressed(); }, esc);
}

bool ZuController::waitFreshChannels(const ValueMark& mark, uint32_t limitMs, bool* esc) {
  auto all = [&] { return channelFresh(mark, 0) && channelFresh(mark, 1) && channelFresh(mark, 2); };
  return waitFor(all, limitMs, [this] { return escPressed(); }, esc);
}

void ZuController::publishInto(uint8_t* average, uint8_t* channels, uint8_t* averageCounter, uint8_t* channelCounters) {
  avgValue = reinterpret_cast<double*>(average);
  channelValues = reinterpret_cast<double*>(channels);
  averageCount = reinterpret_cast<uint32_t*>(averageCounter);
  channelCounts = reinterpret_cast<uint32_t*>(channelCounters);
}

int ZuController::reset() {
  if (isSlave()) return sync->postReset() == kKeyEsc ? kKeyEsc : 0;
  if (!channel->isOpen) return -1;
  U = Upct = I = Ipct = PF = 0;
  loadType = timeFlag = phases = fictPow = 0;
  currentTestPoint = nullptr;
  newValue = 0;
  established = 0;
  pulseMode = 0;
  pauseReader();
  avgSum = 0;
  avgCount = 0;
  panel(19, kModel);
  panel(20, "Сброс             ");
  panel(22, "                  ");
  drain();
  sendKeys(">");
  drain();
  panel(22, kLine);
  for (int r = 23; r <= 37; ++r) panel(r, "                 ");
  return 0;
}

namespace {

// A number as the installation shows it ("-0.123", "0,05", "1234.5"); not a
// number (NaN) when the text is anything else (a keypad echo such as "U" or
// "--CP--", a garbled frame), so that it is never taken for a measured value.
double frameNumber(const char* text) {
  return parseDecimal(text).value_or(std::numeric_limits<double>::quiet_NaN());
}

}  // namespace

void ZuController::takeFrame(bool& discard) {
  decodeFrame();
  const char* f = reinterpret_cast<const char*>(frame);
  if (f[0] != '8') return;
  const char* r = f + 1;
  if (*r == 'Y') ++r;
  if (*r == 'C') {
    int ch = r[1] - '1';
    if (ch >= 0 && ch <= 2 && r[1] != 0) {
      publishCounted(channelValues + ch, channelCounts + ch, frameNumber(r + 2));
      countErrEvent->pulse();
    }
  } else if (std::strncmp(f, "8YE", 3) == 0 && std::strlen(f) >= 8 && f[6] == 'C') {
    int ch = f[7] - '1';
    if (ch >= 0 && ch <= 2) {
      // The installation could not measure the channel: a value that is no
      // number, so that no bench takes it for a measured 0.
      publishCounted(channelValues + ch, channelCounts + ch, std::numeric_limits<double>::quiet_NaN());
      countErrEvent->pulse();
    }
  } else {
    // A plain value is the reference power; a frame that holds no number
    // is not one, and is left out of the average rather than counted as 0.
    double value = frameNumber(f + 1);
    if (std::isnan(value)) return;
    lastValue = value;
    {
      std::lock_guard<std::timed_mutex> lock(avgLock);
      if (avgCount == 3 && discard) {
        avgSum = 0;
        avgCount = 0;
        discard = false;
      }
      avgSum += lastValue;
      avgCount += 1;
      if (avgValue != nullptr) publishCounted(avgValue, averageCount, avgSum / avgCount);
    }
    powerEvent->pulse();
    newValue = 1;
  }
}

void ZuController::readLoop() {
  readerState = 1;
  bool discard = true;
  for (;;) {
    platform::sleepMs(1);
    if (!gate->wait(0)) {
      {
        std::lock_guard<std::mutex> lock(parkMutex_);
        parked_ = true;
      }
      parkCv_.notify_all();
      gate->wait(platform::kWaitForever);
    }
    {
      std::lock_guard<std::mutex> lock(parkMutex_);
      parked_ = false;
    }
    if (readerState == 2) break;
    if (avgCount == 0) discard = true;
    if (!channel->isOpen) break;
    int n = readFrame(1, 100);
    if (readerState == 2) break;
    if (n <= 0) continue;
    takeFrame(discard);
  }
  {
    std::lock_guard<std::mutex> lock(parkMutex_);
    parked_ = true;
  }
  parkCv_.notify_all();
  readerState = 0;
}

int ZuController::open(std::unique_ptr<Channel> ch) {
  if (!ch) return 0xFF;
  channel = std::move(ch);
  return reset() != 0 ? 0xFE : 0;
}

int ZuController::open(const char* portName) {
  char name[16] = "COM1:";
  if (portName != nullptr) {
    std::snprintf(name, sizeof name, "%s", portName);
  } else {
    for (;;) {
      Console::print("Выберите COMx порт проибора ЭУ7125М(1 - 6):");
      int key = operatorKey();
      if (key >= '1' && key <= '6') {
        name[3] = static_cast<char>(key);
        break;
      }
      Console::print(" Error Number Serial Port\r\n");
      if (key == kKeyEsc) return 0xE5;
    }
  }
  return open(createChannel(name, 4800));
}

int ZuController::toggleAuto(const char* portName) {
  autoOn = autoOn ? 0 : 1;
  Console::clearLines(15, 1);
  if (!autoOn) {
    channel->close();
    Console::clearLines(15, 1);
    Console::print("Режим автоматической работы с прибором ЭУ7125М выключен!");
    return 1;
  }
  Console::gotoXY(0, 15);
  int r = open(portName);
  auto notFound = [&] {
    autoOn = 0;
    channel->close();
    Console::clearLines(15, 1);
    Console::print("Прибор ЭУ7125М не обнаружен!");
    // The panel's place says so for as long as it is missing.
    missingPort = portName != nullptr ? portName : "";
    while (!missingPort.empty() && missingPort.back() == ':') missingPort.pop_back();
    panel(19, "ЭУ7125М            ");
    panel(20, ("не обнаружен (" + missingPort.substr(0, 5) + ")").c_str());
    return -1;
  };
  if (r == 0xE5) {
    autoOn = 0;
    return 0;
  }
  if (r == 0xFF || r == 0xFE) return notFound();
  if (readerState == 0 && !startReader()) {
    Console::clearLines(16, 1);
    Console::print("Unable to create the read thread");
    return 0;
  }
  Console::clearLines(15, 1);
  Console::print("Проверка ЭУ7125М.");
  if (reset() == -1) return notFound();
  Console::clearLines(15, 1);
  Console::print("Режим автоматической работы с прибором ЭУ7125М включен!");
  missingPort.clear();
  return 0;
}

bool ZuController::findAgain() {
  if (missingPort.empty()) return true;
  std::string name = missingPort + ":";
  autoOn = 0;
  return toggleAuto(name.c_str()) == 0 && autoOn != 0;
}

bool ZuController::startReader() {
  if (readerState != 0) return true;
  if (reader_.joinable()) reader_.join();  // a reader that ended when the port closed
  readerState = 1;
  parked_ = false;
  try {
    reader_ = std::thread([this] { readLoop(); });
  } catch (...) {
    readerState = 0;
    return false;
  }
  return true;
}

void ZuController::close() {
  if (!channel->isOpen) {
    testPoints.clear();
    return;
  }
  pauseReader();
  if (readerState != 0) readerState = 2;
  reset();
  powerEvent->pulse();
  channel->close();
  resumeReader();
  gate->set();  // the reader sees the stop request
  platform::sleepMs(500);
  for (int i = 0; i < 50 && readerState != 0; ++i) platform::sleepMs(200);
  if (reader_.joinable()) reader_.join();
  testPoints.clear();
}

}  // namespace qs
