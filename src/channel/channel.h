// A byte pipe to one device: a serial port or a TCP connection to a relay,
// chosen by the channel name. Reads never wait; the frame receivers poll
// them one byte at a time and assemble frames in the channel's receive buffer.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace qs {

// The serial rates a port can be opened at.
inline constexpr int kBaudRates[8] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
inline constexpr int kDefaultBaudIndex = 7;  // 115200

// Results of the opens and closes.
inline constexpr int kChannelOk = 0;
inline constexpr int kChannelFailed = -1;          // open failed / close refused
inline constexpr int kChannelSettingsRefused = -2;  // serial open; also close with nothing open, TCP close done
inline constexpr int kChannelTimeoutsRefused = -3;
inline constexpr int kChannelNoBuffer = -4;
inline constexpr int kChannelBadBaud = -11;

// The base class is also the placeholder of a link whose port is not chosen
// yet: never open, and its operations do nothing.
class Channel {
 public:
  Channel() = default;
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  // Releases what an owner left open (the owner is to close first).
  virtual ~Channel() = default;

  // Discards all input that is pending or arrives without a pause.
  virtual void purge() {}
  virtual int open(const std::string& deviceName, int baud);
  virtual int close() { return 0; }
  // Sends `length` bytes; with `preamble` a serial port sends FF FF FF first.
  virtual int write(const uint8_t* data, int length, int preamble);
  // Takes what has arrived, up to `max` bytes, without waiting; the count
  // taken goes to *count (0 when nothing was there).
  virtual int read(uint8_t* buffer, int max, unsigned* count);
  // Waits up to `ms` for input after an empty read, returning as soon as a
  // byte arrives (a plain pause where the channel cannot tell, and on a
  // test's recorded clock).
  void waitInput(uint32_t ms);
  // Lets `ms` pass while bytes known to be on their way arrive (no wake-up
  // for each of them); a test's recorded clock takes it as a pause.
  void letBytesArrive(uint32_t ms);
  // How long one byte takes on this line, in microseconds; 0 when the line
  // cannot tell (a relay).
  virtual uint32_t byteMicros() const { return 0; }

  static constexpr uint16_t kRxBufferSize = 1024;

  std::unique_ptr<uint8_t[]> rxBuffer;  // null until an open succeeds
  uint16_t rxBufferSize = kRxBufferSize;
  intptr_t nativeHandle = 0;
  uint8_t portNumber = 255;
  uint8_t isOpen = 0;
  uint8_t baudIndex = kDefaultBaudIndex;

 protected:
  // Waits on the line itself for up to `ms`; false when this channel cannot.
  virtual bool awaitInput(uint32_t) { return false; }
  // A fresh zero-filled receive buffer; false when memory cannot be had.
  bool allocateRxBuffer();
};

// Index of `baud` in kBaudRates, or -1.
int baudIndexOf(int baud);

// A channel for `name`: a name of 8 or more characters is a relay address
// (IP or IP:PORT) and gives a TcpChannel; a shorter one gives a SerialChannel
// on the number after "COM" (or "com"), or on the whole name read as a
// number. On POSIX a name beginning with '/' is a serial device path
// whatever its length. Never null; the result says in isOpen whether it opened.
std::unique_ptr<Channel> createChannel(const std::string& name, int baud);
// What createChannel makes of a name, for the operator: "ретранслятор
// 10.0.0.5:4001", "порт COM3" (on Linux with the path it opens, "порт COM3
// (/dev/ttyS2)").
std::string channelWhere(const std::string& name);
// Whether createChannel makes a TCP relay's channel of a name.
bool relayName(const std::string& name);

}  // namespace qs
