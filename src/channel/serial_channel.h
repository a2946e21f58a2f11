// The channel over a serial port: 8N1, raw, no flow control, DTR and RTS
// inactive; reads return at once with what has arrived.
#pragma once
#include "channel/channel.h"
#include "platform/serial_port.h"

namespace qs {

class SerialChannel : public Channel {
 public:
  // Opens the port at once; isOpen says whether that worked.
  SerialChannel(const std::string& devicePath, int baud);
  ~SerialChannel() override;

  void purge() override;
  // 0, or -11 (rate not offered), -1 (port not to be had), -2 (settings
  // refused), -3 (time-outs refused), -4 (no receive buffer).
  int open(const std::string& devicePath, int baud) override;
  // 0, -1 (the system refused), -2 (nothing open).
  int close() override;
  int write(const uint8_t* data, int length, int preamble) override;
  int read(uint8_t* buffer, int max, unsigned* count) override;
  // Ten bits a byte at the port's rate.
  uint32_t byteMicros() const override { return 10000000u / static_cast<uint32_t>(kBaudRates[baudIndex & 7]); }

  platform::PortHandle portHandle = platform::kInvalidPort;

 protected:
  bool awaitInput(uint32_t ms) override;

 private:
  // A port that failed (an adapter pulled out, the far end gone) is closed
  // and opened again by its name, at most once a second, until it is back;
  // meanwhile reads fail (and are shown as failed) with the usual gaps.
  void lose();
  bool reopen();
  int pending_ = -1;  // a byte taken while waiting for input, handed out first
  std::string devicePath_;
  int baud_ = 0;
  bool lost_ = false;
  uint32_t lastReopen_ = 0;
};

}  // namespace qs
