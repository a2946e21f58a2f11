// The device link: the channel to the device under test, its state record,
// values read from it once and kept, the calibration coefficients, and the
// register descriptions of QS_ADD/reg_7758_1.txt. The device operations are
// its methods.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/channel.h"
#include "devlink/device_state.h"

namespace qs {

// One line of the register-description file.
struct RegisterInfo {
  uint8_t ordinal = 0;       // position in the file, from 1
  uint16_t regAddress = 0;   // token 2: hex digits after the first 'x'
  int firstNumber = 0;       // token 3
  int secondNumber = 0;      // token 4
  uint8_t smallNumber = 0;   // token 6
  int hexValue = 0;          // token 5: hex digits after '$'
  int reserved[2] = {0, 0};
  int thirdNumber = 0;       // token 7
  std::string name;          // token 1
};

// Initialisation statuses.
inline constexpr int kLinkReady = 1;
inline constexpr int kLinkNoChannel = -10000;
inline constexpr int kLinkNoRegisterFile = -40000;
inline constexpr int kLinkBadRegisterLine = -30000;  // minus the line number

// Loads a register-description file: 1, -10000 when it cannot be opened, or
// minus the number of the malformed line.
int loadRegisterFile(const std::string& path, std::vector<RegisterInfo>& table);

inline constexpr uint32_t kNoSerial = 0xFFFFFF;
inline constexpr uint8_t kNoDeviceType = 3;
// The totals could not be scaled: this device's coefficients did not come.
inline constexpr int kNoCoefficients = -2;
inline constexpr uint8_t kSerialRequestAddress = 254;

class DevLink {
 public:
  DevLink(uint8_t address, const std::string& channelName, int baud, const std::string& registerFile);
  // Builds the link on a channel made elsewhere (the in-process simulator).
  DevLink(uint8_t address, std::unique_ptr<Channel> channel, const std::string& registerFile);
  ~DevLink();
  DevLink(const DevLink&) = delete;
  DevLink& operator=(const DevLink&) = delete;

  int setAddress(uint8_t address);
  const RegisterInfo* findRegister(const std::string& name) const;

  // ---- device operations --------------------------------------------------
  // Results: 0 success, -1 failure after the last attempt, -27 Esc; value
  // reads return the value.
  long readSerialNumber(int force);
  long readSerialText(int force);
  long readEepromNumber(int address, int count);
  int readEepromBlock(int address, int count, uint8_t* destination);
  long readRatioU();
  long readRatioI();
  int writeEepromBlock(int address, int count, const uint8_t* data);
  int writeRatioU(unsigned value);
  int writeRatioI(unsigned value);
  int readDeviceType(int force);
  int changeAddress(uint8_t newAddress);
  int changeAddressBySerial(uint8_t newAddress, uint32_t serial);
  int selectAddress(uint8_t address);
  int readDayProfile(int64_t dayTime, ProfileRecord* record);
  // 0, -27 (Esc), -1 (no answer), kNoCoefficients.
  int readTotalsSinceStart(ProfileRecord* record);
  int readTotalsThisMonth(ProfileRecord* record);
  int startProfileFormat();
  int pollProfileFormat(uint32_t* first = nullptr, uint32_t* second = nullptr);
  int readCurrentValues(double* values);
  int readDeviceTime(int64_t* time);
  int setDeviceTime(int64_t time);
  int readCoefficient(int index, double* value = nullptr);
  int readAllCoefficients();
  int readWord(int address, const char** word);
  int writeCoefficient(int index, double value);
  long readVersion(int force);

  // ---- fields -------------------------------------------------------------
  std::unique_ptr<DeviceState> state;
  std::unique_ptr<Channel> channel;
  uint8_t isReady = 0;
  uint8_t deviceAddress = 0;
  int initStatus = 0;
  std::unique_ptr<double[]> coefficients;
  uint8_t cachedDeviceType = kNoDeviceType;
  // The address whose coefficients the table holds (-1: none read yet).
  int coefficientsAddress = -1;
  uint8_t versionMajor = 0, versionMinor = 0, versionBuild = 1;
  uint32_t cachedSerial = kNoSerial;
  unsigned registerCount = 0;
  std::vector<RegisterInfo> registerTable;

 private:
  void init(uint8_t address, const std::string& registerFile);
  // Takes a waiting key; true when it was Esc.
  bool escPressed();
  int totals(int code, int attempts, ProfileRecord* record);
  long serialFromCache(int force, bool* cached);
};

}  // namespace qs
