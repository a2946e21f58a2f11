#include "channel/channel.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "console/bytes.h"
#include "channel/serial_channel.h"
#include "channel/tcp_channel.h"
#include "platform/serial_port.h"
#include "platform/time.h"

namespace qs {

int Channel::open(const std::string&, int) { return 0; }

int Channel::write(const uint8_t*, int, int) { return 0; }

int Channel::read(uint8_t*, int, unsigned* count) {
  if (count != nullptr) *count = 0;
  return 0;
}

void Channel::waitInput(uint32_t ms) {
  if (platform::inputWaitsArePauses() || !awaitInput(ms)) platform::sleepMs(ms);
}

void Channel::letBytesArrive(uint32_t ms) {
  if (platform::inputWaitsArePauses()) platform::sleepMs(ms);
  else platform::systemSleepMs(ms);
}

bool Channel::allocateRxBuffer() {
  rxBuffer.reset(new (std::nothrow) uint8_t[kRxBufferSize]());
  rxBufferSize = kRxBufferSize;
  return rxBuffer != nullptr;
}

int baudIndexOf(int baud) {
  for (int i = 0; i < 8; ++i)
    if (kBaudRates[i] == baud) return i;
  return -1;
}

namespace {

// The number of a "COMn" name (digits after "COM", or the digits of the name).
long comNumber(const std::string& name) {
  const char* digits = name.c_str();
  const char* com = std::strstr(digits, "COM");
  if (com == nullptr) com = std::strstr(digits, "com");
  if (com != nullptr) digits = com + 3;
  return decimalValue(digits);
}

bool devicePathName(const std::string& name) {
#ifndef _WIN32
  return !name.empty() && name[0] == '/';
#else
  (void)name;
  return false;
#endif
}

std::string comPath(long number) {
  char path[32];
  std::snprintf(path, sizeof path, "\\\\.\\COM%u", static_cast<unsigned>(number));
  return path;
}

}  // namespace

bool relayName(const std::string& name) { return !devicePathName(name) && name.size() >= 8; }

std::unique_ptr<Channel> createChannel(const std::string& name, int baud) {
  if (devicePathName(name)) return std::make_unique<SerialChannel>(name, baud);
  if (relayName(name)) return std::make_unique<TcpChannel>(name);
  return std::make_unique<SerialChannel>(comPath(comNumber(name)), baud);
}

std::string channelWhere(const std::string& name) {
  if (devicePathName(name)) return "порт " + name;
  if (relayName(name)) return "ретранслятор " + name;
  long number = comNumber(name);
  std::string where = "порт COM" + std::to_string(number);
#ifndef _WIN32
  where += " (" + platform::serialDevicePath(comPath(number)) + ")";
#endif
  return where;
}

}  // namespace qs
