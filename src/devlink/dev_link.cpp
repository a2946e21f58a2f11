#include "devlink/dev_link.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "console/bytes.h"
#include "console/console.h"

namespace qs {
namespace {

constexpr size_t kRegisterLineMax = 1023;  // a 1024-byte line buffer with its terminator

// One token of a register line: its text and whether it ended the line.
struct Token {
  std::string text;
  bool endsLine = false;
};

// Splits off the next token at `at`; false when the line has no more.
bool nextToken(const std::string& line, size_t& at, Token& token) {
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\0')) ++at;
  if (at >= line.size() || line[at] == '\r' || line[at] == '\n') return false;
  size_t start = at;
  while (at < line.size() && line[at] != ' ' && line[at] != '\t' && line[at] != '\r' && line[at] != '\n') ++at;
  token.text = line.substr(start, at - start);
  token.endsLine = at >= line.size() || line[at] == '\r' || line[at] == '\n';
  return true;
}

long hexAfter(const std::string& text, size_t from) {
  return std::strtol(text.c_str() + from, nullptr, 16);
}

bool parseRegisterLine(const std::string& line, RegisterInfo& reg) {
  Token t[7];
  size_t at = 0;
  for (int i = 0; i < 7; ++i) {
    if (!nextToken(line, at, t[i])) return false;
    if (i < 5 && t[i].endsLine) return false;  // tokens 1 to 5 must be followed by a blank
  }
  size_t x = t[1].text.find('x');
  if (x == std::string::npos || t[4].text[0] != '$') return false;
  reg.name = t[0].text;
  reg.regAddress = static_cast<uint16_t>(hexAfter(t[1].text, x + 1));
  reg.firstNumber = static_cast<int>(decimalValue(t[2].text));
  reg.secondNumber = static_cast<int>(decimalValue(t[3].text));
  reg.hexValue = static_cast<int>(hexAfter(t[4].text, 1));
  reg.smallNumber = static_cast<uint8_t>(decimalValue(t[5].text) & 0xFF);
  reg.thirdNumber = static_cast<int>(decimalValue(t[6].text));
  return true;
}

}  // namespace

int loadRegisterFile(const std::string& path, std::vector<RegisterInfo>& table) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return kLinkNoChannel;  // -10000: the file cannot be opened
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<RegisterInfo> records;
  int lineNumber = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    size_t take = end == std::string::npos ? text.size() - at : end - at + 1;
    if (take > kRegisterLineMax) take = kRegisterLineMax;  // the rest is read as a line of its own
    std::string line = text.substr(at, take);
    at += take;
    ++lineNumber;
    if (line[0] == '#') continue;
    RegisterInfo reg;
    if (!parseRegisterLine(line, reg)) {
      if (at >= text.size() && line.back() != '\n') break;  // a broken last line ends the file
      return -lineNumber;
    }
    reg.ordinal = static_cast<uint8_t>(records.size() + 1);
    records.push_back(std::move(reg));
  }
  table = std::move(records);
  return 1;
}

DevLink::DevLink(uint8_t address, const std::string& channelName, int baud, const std::string& registerFile)
    : channel(createChannel(channelName, baud)) {
  init(address, registerFile);
}

DevLink::DevLink(uint8_t address, std::unique_ptr<Channel> ch, const std::string& registerFile)
    : channel(std::move(ch)) {
  init(address, registerFile);
}

void DevLink::init(uint8_t address, const std::string& registerFile) {
  isReady = 0;
  if (channel && channel->isOpen) {
    deviceAddress = address;
    state = std::make_unique<DeviceState>();
    state->address = address;
    isReady = 1;
  }
  registerTable.clear();
  registerCount = 0;
  initStatus = 0;
  cachedDeviceType = kNoDeviceType;
  cachedSerial = kNoSerial;
  versionMajor = 0;
  versionMinor = 0;
  versionBuild = 1;
  if (isReady != 1) {
    initStatus = kLinkNoChannel;
    return;
  }
  int r = loadRegisterFile(registerFile, registerTable);
  if (r != 1) {
    registerTable.clear();
    initStatus = r - 30000;
    return;
  }
  registerCount = static_cast<unsigned>(registerTable.size());
  coefficients.reset(new double[16]());
  coefficients[15] = 0.024;
  Console::clearLines(0, 2);  // what the channel printed while connecting
  initStatus = kLinkReady;
}

DevLink::~DevLink() {
  if (isReady == 1 && channel) channel->close();
}

int DevLink::setAddress(uint8_t address) {
  if (!state) return -1;
  if (address != deviceAddress) {
    // What was read of the device before belongs to it, not to this one.
    cachedDeviceType = kNoDeviceType;
    cachedSerial = kNoSerial;
    coefficientsAddress = -1;
  }
  state->address = address;
  deviceAddress = address;
  return 0;
}

const RegisterInfo* DevLink::findRegister(const std::string& name) const {
  for (const RegisterInfo& r : registerTable) {
    if (r.name.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(r.name[i])) == std::tolower(static_cast<unsigned char>(name[i]));
    if (same) return &r;
  }
  return nullptr;
}

}  // namespace qs
