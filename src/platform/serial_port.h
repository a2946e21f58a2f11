// Serial ports: opened exclusively, 8 data bits, no parity, one stop bit,
// raw, no flow control, DTR and RTS inactive, reads that never wait, writes
// bounded by 10 ms per byte plus 1000 ms.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qs::platform {

using PortHandle = intptr_t;
inline constexpr PortHandle kInvalidPort = -1;

// Opens the device for reading and writing, not shared with anyone.
// Windows: "\\.\COMn" as given. POSIX: a path beginning with '/' as given;
// "\\.\COMn" as the link QS_ADD/comN when present, else /dev/ttyS<n-1>.
// Returns kInvalidPort when the port cannot be had.
PortHandle serialOpen(const std::string& devicePath);

// Speed and line settings; false when the driver refuses them.
bool serialConfigure(PortHandle port, int baud);
// Reads return at once; writes give up after 10 ms per byte + 1000 ms.
bool serialSetTimeouts(PortHandle port);
bool serialClose(PortHandle port);

// Writes all `size` bytes or gives up at the write bound. Returns true when
// the system took the write; otherwise false with its error code.
bool serialWrite(PortHandle port, const uint8_t* data, size_t size, int* errorCode);
// Takes what has arrived, up to `max` bytes, without waiting.
bool serialRead(PortHandle port, uint8_t* buffer, size_t max, size_t* count);
// Waits up to `timeoutMs` for input, returning as soon as a byte is there.
// Where the system can only wait by reading (Windows), the byte read while
// waiting goes to *taken and the result is true; otherwise false.
bool serialWaitInput(PortHandle port, uint32_t timeoutMs, uint8_t* taken);

// The path a serial name stands for on this system (POSIX resolution of
// "\\.\COMn"; Windows returns it unchanged).
std::string serialDevicePath(const std::string& devicePath);

}  // namespace qs::platform
