#include "channel/serial_channel.h"

#include <cstring>

#include "console/bytes.h"
#include "platform/time.h"

namespace qs {

SerialChannel::SerialChannel(const std::string& devicePath, int baud) {
  isOpen = open(devicePath, baud) == kChannelOk ? 1 : 0;
}

SerialChannel::~SerialChannel() {
  if (portHandle != platform::kInvalidPort) platform::serialClose(portHandle);
}

int SerialChannel::open(const std::string& devicePath, int baud) {
  int index = baudIndexOf(baud);
  if (index < 0) return kChannelBadBaud;  // the device is not touched
  baudIndex = static_cast<uint8_t>(index);

  portHandle = platform::serialOpen(devicePath);
  if (portHandle == platform::kInvalidPort) return kChannelFailed;
  devicePath_ = devicePath;
  baud_ = baud;
  lost_ = false;

  const char* com = std::strstr(devicePath.c_str(), "COM");
  portNumber = static_cast<uint8_t>(com != nullptr ? decimalValue(com + 3) : 0);

  if (!platform::serialConfigure(portHandle, baud)) {
    close();
    return kChannelSettingsRefused;
  }
  if (!platform::serialSetTimeouts(portHandle)) {
    close();
    return kChannelTimeoutsRefused;
  }
  if (!allocateRxBuffer()) {
    close();
    return kChannelNoBuffer;
  }
  isOpen = 1;
  nativeHandle = portHandle;
  return kChannelOk;
}

int SerialChannel::close() {
  if (portHandle == platform::kInvalidPort) {
    bool wasLost = lost_;
    lost_ = false;
    isOpen = 0;
    rxBuffer.reset();
    return wasLost ? kChannelOk : kChannelSettingsRefused;  // -2: nothing open
  }
  if (!platform::serialClose(portHandle)) return kChannelFailed;
  portHandle = platform::kInvalidPort;
  pending_ = -1;
  rxBuffer.reset();
  isOpen = 0;
  return kChannelOk;
}

int SerialChannel::write(const uint8_t* data, int length, int preamble) {
  if (lost_) reopen();
  if (portHandle == platform::kInvalidPort || length < 0) return 0;
  int error = 0;
  if (preamble != 0) {
    static const uint8_t kPreamble[3] = {0xFF, 0xFF, 0xFF};
    platform::serialWrite(portHandle, kPreamble, sizeof kPreamble, &error);  // a failure is ignored
  }
  if (platform::serialWrite(portHandle, data, static_cast<size_t>(length), &error)) return 1;
  return error;
}

void SerialChannel::lose() {
  if (portHandle != platform::kInvalidPort) platform::serialClose(portHandle);
  portHandle = platform::kInvalidPort;
  nativeHandle = portHandle;
  pending_ = -1;
  lost_ = true;
  lastReopen_ = platform::tickCount();
}

bool SerialChannel::reopen() {
  uint32_t now = platform::tickCount();
  if (now - lastReopen_ < 1000) return false;
  lastReopen_ = now;
  platform::PortHandle h = platform::serialOpen(devicePath_);
  if (h == platform::kInvalidPort) return false;
  if (!platform::serialConfigure(h, baud_) || !platform::serialSetTimeouts(h)) {
    platform::serialClose(h);
    return false;
  }
  portHandle = h;
  nativeHandle = h;
  lost_ = false;
  return true;
}

int SerialChannel::read(uint8_t* buffer, int max, unsigned* count) {
  if (count != nullptr) *count = 0;
  if (lost_ && !reopen()) return 0;
  if (portHandle == platform::kInvalidPort || max <= 0) return 0;
  size_t got = 0;
  if (pending_ >= 0) {  // the byte a wait took comes first
    buffer[got++] = static_cast<uint8_t>(pending_);
    pending_ = -1;
  }
  size_t more = 0;
  bool ok = got == static_cast<size_t>(max) ||
            platform::serialRead(portHandle, buffer + got, static_cast<size_t>(max) - got, &more);
  got += more;
  if (count != nullptr) *count = static_cast<unsigned>(got);
  if (!ok && got == 0) lose();  // the port failed: it is opened again when it is back
  return ok || got > 0 ? 1 : 0;
}

bool SerialChannel::awaitInput(uint32_t ms) {
  if (portHandle == platform::kInvalidPort) return false;
  uint8_t taken = 0;
  if (pending_ < 0 && platform::serialWaitInput(portHandle, ms, &taken)) pending_ = taken;
  return true;
}

void SerialChannel::purge() {
  pending_ = -1;
  if (portHandle == platform::kInvalidPort) return;
  uint8_t scratch;
  size_t got = 0;
  while (platform::serialRead(portHandle, &scratch, 1, &got) && got == 1) {
  }
}

}  // namespace qs
