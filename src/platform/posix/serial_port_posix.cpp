#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/time.h"

namespace qs::platform {
namespace {

speed_t speedOf(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

}  // namespace

std::string serialDevicePath(const std::string& devicePath) {
  static const char kWinPrefix[] = "\\\\.\\COM";
  if (devicePath.rfind(kWinPrefix, 0) != 0) return devicePath;
  // COM0..COM999 only; any other name is opened as written, so that the
  // failure names what the settings say rather than another port.
  std::string digits = devicePath.substr(sizeof kWinPrefix - 1);
  if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos)
    return devicePath;
  int n = std::stoi(digits);
  std::string link = "QS_ADD/com" + std::to_string(n);
  struct stat st{};
  if (lstat(link.c_str(), &st) == 0) return link;
  return n > 0 ? "/dev/ttyS" + std::to_string(n - 1) : devicePath;
}

PortHandle serialOpen(const std::string& devicePath) {
  std::string path = serialDevicePath(devicePath);
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kInvalidPort;
  // Not shared: a port that another program (or another channel) holds
  // refuses the open. flock also holds for root, which TIOCEXCL does not.
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    ::close(fd);
    return kInvalidPort;
  }
  return fd;
}

bool serialConfigure(PortHandle port, int baud) {
  int fd = static_cast<int>(port);
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  speed_t speed = speedOf(baud);
  if (speed == B0 || cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  // DTR and RTS inactive. A pseudo-terminal has no modem lines; that is fine.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIC, &lines);
  return true;
}

bool serialSetTimeouts(PortHandle) {
  // Reads never wait (non-blocking descriptor); the write bound is kept by serialWrite.
  return true;
}

bool serialClose(PortHandle port) { return ::close(static_cast<int>(port)) == 0; }

bool serialWrite(PortHandle port, const uint8_t* data, size_t size, int* errorCode) {
  int fd = static_cast<int>(port);
  const uint32_t start = tickCount();
  const uint32_t limit = 10u * static_cast<uint32_t>(size) + 1000u;
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      if (errorCode) *errorCode = errno;
      return false;
    }
    uint32_t spent = tickCount() - start;
    if (spent >= limit) {
      if (errorCode) *errorCode = ETIMEDOUT;
      return false;
    }
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(limit - spent));
  }
  return true;
}

bool serialWaitInput(PortHandle port, uint32_t timeoutMs, uint8_t*) {
  pollfd p{static_cast<int>(port), POLLIN, 0};
  int r = ::poll(&p, 1, static_cast<int>(timeoutMs));
  // A line that hung up (an adapter pulled out, the far end of a pseudo-
  // terminal gone) is reported at once and for ever: the wait is kept, so
  // the receivers' gaps stay what they are.
  if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) ::poll(nullptr, 0, static_cast<int>(timeoutMs));
  return false;
}

bool serialRead(PortHandle port, uint8_t* buffer, size_t max, size_t* count) {
  *count = 0;
  if (max == 0) return true;
  ssize_t n = ::read(static_cast<int>(port), buffer, max);
  if (n > 0) {
    *count = static_cast<size_t>(n);
    return true;
  }
  if (n == 0) {
    // Nothing waiting, or a line that hung up (which reads as nothing too).
    pollfd p{static_cast<int>(port), POLLIN, 0};
    return !(::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)));
  }
  return errno == EAGAIN || errno == EINTR;
}

}  // namespace qs::platform
