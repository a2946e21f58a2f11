// The console on Windows: the process's console screen buffer driven through
// the console API. Text is written as UTF-16, so Russian text shows correctly
// whatever the console's code page is.
#include <windows.h>
#include <conio.h>

#include <string>

#include "platform/console_control.h"
#include "platform/terminal.h"

namespace qs::platform {
namespace {

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

void appendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class WindowsTerminal final : public Terminal {
 public:
  void setup(int columns, int rows) override {
    out_ = GetStdHandle(STD_OUTPUT_HANDLE);
    columns_ = columns;
    rows_ = rows;
    isConsole_ = GetConsoleMode(out_, &savedMode_) != 0;
    if (isConsole_) {
      // Processed output without wrap at the line end: the toolkit wraps and
      // scrolls itself, so the console must not do it a second time.
      SetConsoleMode(out_, ENABLE_PROCESSED_OUTPUT);
      addExitCleanup([this] { restore(); });
    }
    COORD size{static_cast<SHORT>(columns), static_cast<SHORT>(rows)};
    SMALL_RECT window{0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
    // The buffer cannot shrink below the window nor the window grow past the
    // buffer, so try both orders.
    if (!SetConsoleScreenBufferSize(out_, size)) {
      SetConsoleWindowInfo(out_, TRUE, &window);
      SetConsoleScreenBufferSize(out_, size);
    }
    SetConsoleWindowInfo(out_, TRUE, &window);
    setAttribute(0x07);
    DWORD written = 0;
    COORD origin{0, 0};
    DWORD cells = static_cast<DWORD>(columns) * static_cast<DWORD>(rows);
    FillConsoleOutputCharacterW(out_, L' ', cells, origin, &written);
    FillConsoleOutputAttribute(out_, 0x07, cells, origin, &written);
    SetConsoleCursorPosition(out_, origin);
  }

  void restore() override {
    if (isConsole_) SetConsoleMode(out_, savedMode_);
  }

 private:
  bool inputIsConsole() {
    if (inChecked_) return inIsConsole_;
    inChecked_ = true;
    in_ = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    inIsConsole_ = in_ != INVALID_HANDLE_VALUE && GetConsoleMode(in_, &mode) != 0;
    return inIsConsole_;
  }

  // A key as the console toolkit takes it: the 0xE0 or 0 prefix and the
  // scan code for cursor and function keys, Esc, Enter and Backspace as
  // their codes, other characters as UTF-8; empty for anything else.
  static std::string keyOf(const INPUT_RECORD& r) {
    if (r.EventType != KEY_EVENT || !r.Event.KeyEvent.bKeyDown) return {};
    const KEY_EVENT_RECORD& k = r.Event.KeyEvent;
    auto scan = [](char prefix, int code) { return std::string{prefix, static_cast<char>(code)}; };
    switch (k.wVirtualKeyCode) {
      case VK_UP: return scan('\xE0', 0x48);
      case VK_DOWN: return scan('\xE0', 0x50);
      case VK_LEFT: return scan('\xE0', 0x4B);
      case VK_RIGHT: return scan('\xE0', 0x4D);
      case VK_HOME: return scan('\xE0', 0x47);
      case VK_END: return scan('\xE0', 0x4F);
      case VK_PRIOR: return scan('\xE0', 0x49);
      case VK_NEXT: return scan('\xE0', 0x51);
      case VK_INSERT: return scan('\xE0', 0x52);
      case VK_DELETE: return scan('\xE0', 0x53);
      case VK_ESCAPE: return std::string(1, '\x1b');
      case VK_RETURN: return std::string(1, '\r');
      case VK_BACK: return std::string(1, '\b');
      default: break;
    }
    if (k.wVirtualKeyCode >= VK_F1 && k.wVirtualKeyCode <= VK_F10)
      return scan('\0', 0x3B + (k.wVirtualKeyCode - VK_F1));
    wchar_t c = k.uChar.UnicodeChar;
    if (c == 0) return {};  // Shift, Ctrl and the like alone
    std::string key;
    appendUtf8(key, static_cast<unsigned>(c));
    return key;
  }

  std::string readKeyByChar() {
    wint_t c = _getwch();
    if (c == 0 || c == 0xE0) {
      wint_t scan = _getwch();
      return std::string{static_cast<char>(c), static_cast<char>(scan & 0xFF)};
    }
    std::string key;
    appendUtf8(key, static_cast<unsigned>(c));
    return key;
  }

  HANDLE in_ = INVALID_HANDLE_VALUE;
  bool inChecked_ = false;
  bool inIsConsole_ = false;

 public:

  void write(std::string_view utf8) override {
    std::wstring w = widen(utf8);
    DWORD done = 0;
    if (isConsole_) {
      WriteConsoleW(out_, w.data(), static_cast<DWORD>(w.size()), &done, nullptr);
    } else {
      WriteFile(out_, utf8.data(), static_cast<DWORD>(utf8.size()), &done, nullptr);
    }
  }

  void moveTo(int column, int row) override {
    SetConsoleCursorPosition(out_, COORD{static_cast<SHORT>(column), static_cast<SHORT>(row)});
  }

  void setAttribute(uint16_t attribute) override {
    attribute_ = attribute;
    SetConsoleTextAttribute(out_, attribute);
  }

  void scrollUp() override {
    SMALL_RECT area{0, 0, static_cast<SHORT>(columns_ - 1), static_cast<SHORT>(rows_ - 1)};
    CHAR_INFO fill{};
    fill.Char.UnicodeChar = L' ';
    fill.Attributes = attribute_;
    ScrollConsoleScreenBufferW(out_, &area, &area, COORD{0, -1}, &fill);
  }

  void setTitle(std::string_view utf8) override { SetConsoleTitleW(widen(utf8).c_str()); }

  void bell() override { MessageBeep(0xFFFFFFFF); }

  void flush() override {}

  // Keys are taken from the console's input records: a cursor or function
  // key by its virtual key (so that it can never be mistaken for a
  // character, and F-keys come however the key event was made), a
  // character by its UTF-16 code. Records that are no key are passed over.
  std::string readKey() override {
    if (!inputIsConsole()) return readKeyByChar();
    for (;;) {
      INPUT_RECORD r{};
      DWORD n = 0;
      if (!ReadConsoleInputW(in_, &r, 1, &n) || n == 0) return std::string(1, '\x1b');
      std::string key = keyOf(r);
      if (!key.empty()) return key;
    }
  }

  bool keyPending() override {
    if (!inputIsConsole()) return _kbhit() != 0;
    for (;;) {
      INPUT_RECORD r{};
      DWORD n = 0;
      if (!PeekConsoleInputW(in_, &r, 1, &n) || n == 0) return false;
      if (!keyOf(r).empty()) return true;
      ReadConsoleInputW(in_, &r, 1, &n);  // not a key: dropped
    }
  }

 private:
  HANDLE out_ = INVALID_HANDLE_VALUE;
  DWORD savedMode_ = 0;
  bool isConsole_ = false;
  int columns_ = 100;
  int rows_ = 38;
  WORD attribute_ = 0x07;
};

}  // namespace

std::unique_ptr<Terminal> createSystemTerminal() { return std::make_unique<WindowsTerminal>(); }

}  // namespace qs::platform
