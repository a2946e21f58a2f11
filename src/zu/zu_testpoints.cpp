// Test points: the installation's key sequences for a whole test point and
// for a change of an established one, pulse-error measurement, energy mode.
#include <cmath>
#include <cstdio>

#include "console/console.h"
#include "platform/time.h"
#include "zu/zu_controller.h"

namespace qs {
namespace {

constexpr int kPanelColumn = 80;
// The row where a failed step is shown: below the menus and the task table,
// above the verification table and the operator's prompts.
constexpr int kFailureRow = 17;

void panelf(int row, const char* format, double value) {
  Console::gotoXY(kPanelColumn, row);
  Console::print(format, value);
}

void panel(int row, const char* text) {
  Console::gotoXY(kPanelColumn, row);
  Console::print("%s", text);
}

}  // namespace

int phaseByte(int code) {
  static const int kBytes[7] = {0xB0, 0xA8, 0x98, 0x80, 0x90, 0xA0, 0x88};
  return code >= 0 && code <= 6 ? kBytes[code] : -1;
}

const char* phaseName(int code) {
  static const char* const kNames[7] = {"A", "B", "C", "ABC", "AC(Q)", "AB", "BC"};
  return code >= 0 && code <= 6 ? kNames[code] : "-";
}

int stepForPhases(int code) {
  if (code >= kPhaseA && code <= kPhaseAC) return code;
  if (code == kPhaseAB) return kStepPhasesAB;
  if (code == kPhaseBC) return kStepPhasesBC;
  return -1;
}

int phasesForStep(int step) {
  if (step >= kPhaseA && step <= kPhaseAC) return step;
  if (step == kStepPhasesAB) return kPhaseAB;
  if (step == kStepPhasesBC) return kPhaseBC;
  return -1;
}

bool ZuController::escPressed() {
  if (keys != nullptr) return keys->escPressed();
  // Keys other than Esc typed while the installation is waited for are
  // dropped at once (one a look would keep Esc waiting behind them).
  return Console::escAmongWaitingKeys();
}

int ZuController::operatorKey() { return keys != nullptr ? keys->waitKey() : Console::readKey(); }

void ZuController::label(const char* text) { panel(20, text); }

void ZuController::establish(const TestPoint& p) {
  resumeReader();
  U = p.U;
  Upct = p.Upct;
  I = p.I;
  Ipct = p.Ipct;
  PF = p.PF;
  loadType = p.loadType;
  timeFlag = p.timeFlag;
  phases = p.phases;
  fictPow = p.fictPow;
  established = 1;
}

TestPoint* ZuController::findTestPoint(int number) {
  for (TestPoint& p : testPoints)
    if (p.number == number) return &p;
  return nullptr;
}

int ZuController::setTestPoint(int number, int code) {
  pointSetBegan = platform::tickCount();
  if (isSlave()) {
    int step = stepForPhases(code);
    if (step < 0) return -3000;  // no phases of that code: nothing to ask for
    int r = sync->postStep(sync->programmeVariant(), programmeGroup, number - 1, step);
    if (r == kKeyEsc || r < 0) return r;  // aborted, or refused: the point was not set
    // The installation began to be set when the master began the step (the
    // request may have waited for the other benches or for key a).
    uint32_t began = 0;
    if (sync->stepBegan(&began) && platform::tickCount() - began < 3600u * 1000u) pointSetBegan = began;
    clearAverage();
    return 0;
  }
  TestPoint* point = findTestPoint(number);
  if (point == nullptr) return -3000;
  if (phaseByte(code) < 0) return -3000;  // no phase byte: refused before any key
  // Pulse errors are measured only at the point they were switched on for:
  // a new point is set with the measurement off (on a stand, a bench that
  // catches up may move the installation while the others' measurement is
  // on; theirs is switched on again at their point).
  if (pulseMode == 1) pulseErrorOff(number);
  currentTestPoint = point;
  point->phases = static_cast<uint8_t>(code);
  for (;;) {
    int r = applyTestPoint(*point);
    if (r == 0 || r == kKeyEsc) return r;
    if (failurePause(r)) return kKeyEsc;
    reset();
  }
}

bool ZuController::failurePause(int code) {
  // On a row of its own, so that it never lands on a row of results or of
  // the task table (wherever the cursor happens to be).
  ConsolePos saved = Console::getCursor();
  Console::gotoXY(0, kFailureRow);
  Console::print("Error ZU: %i (ESC exit)", code);
  Console::setCursor(saved);
  bool esc = false;
  for (int i = 0; i < 30 && !esc; ++i) {
    esc = escPressed();
    if (!esc) platform::sleepMs(100);
  }
  saved = Console::getCursor();
  Console::gotoXY(0, kFailureRow);
  Console::print("                             ");  // the message has been seen
  Console::setCursor(saved);
  return esc;
}

int ZuController::applyTestPoint(TestPoint& p) {
  auto esc = [&] {
    if (!escPressed()) return false;
    sendKeys(">");
    return true;
  };
  if (established == 1) {
    int r = changeTestPoint(p);
    if (r == 0) return 0;
    if (r == kKeyEsc) {
      sendKeys(">");
      return kKeyEsc;
    }
    established = 0;
    return r;
  }
  established = 0;
  pauseReader();
  panel(19, "ЭУ7125М");
  panel(22, "-----------------");
  drain();

  label("Сброс             ");
  sendKeys(">");
  if (escPressed()) return kKeyEsc;
  if (expect("8U")) {
    sendKeys(">");
    if (expect("8U")) return -1;
  }

  label("Фазы             ");
  platform::sleepMs(50);
  int pb = phaseByte(p.phases);
  if (pb < 0) return -200;
  sendKeys(std::string(1, static_cast<char>(pb)));
  sendKeys("=");
  panelf(23, "F \t= %.2f", p.F);
  if (esc()) return kKeyEsc;

  label("Напряжение       ");
  sendKeys("=");
  if (expect("8U")) return -3;
  if (sendValue(1, p.U, true, true)) return -4;
  sendKeys("=");
  platform::sleepMs(200);
  if (expect("8UP")) return -5;
  if (sendValue(2, p.Upct, true, true)) return -6;
  sendKeys("=");
  panelf(24, "V \t= %.2f", p.U * p.Upct * 0.01);
  if (esc()) return kKeyEsc;

  label("Ток              ");
  sendKeys("@=");
  platform::sleepMs(100);
  if (expect("8I")) {
    platform::sleepMs(500);
    sendKeys("@=");
    if (expect("8I")) return -7;
  }
  platform::sleepMs(100);
  for (int n = 0; n < 21; ++n) {  // a short frame: two characters and the NUL
    if (readFrame(1, 50) == 3) break;
    if (esc()) return kKeyEsc;
    platform::sleepMs(100);
  }
  platform::sleepMs(200);
  if (sendValue(3, p.I, true, true)) return -8;
  sendKeys("=");
  if (expect("8IP")) return -9;
  if (sendValue(4, p.Ipct, true, true)) return -10;
  panelf(25, "I \t= %.2f", p.I * p.Ipct * 0.01);
  sendKeys("=C");
  if (esc()) return kKeyEsc;

  platform::sleepMs(1000);
  if (expect("8C")) return -11;

  label("Коэф.мощ.         ");
  for (int n = 0; n < 7; ++n) {
    if (readFrame(1, 50) == 3) break;
    if (esc()) return kKeyEsc;
    platform::sleepMs(100);
  }
  if (p.Ipct >= 10) {
    if (sendValue(5, p.PF, true, true)) return -14;
  } else {
    sendValue(5, p.PF, true, false);
  }
  sendKeys("=");
  panelf(26, "PF \t= %.2f", p.PF);

  label("Тип нагр.         ");
  int row = 27;
  if (p.PF != 1.0) {
    sendKeys(p.loadType == kLoadNone ? "=" : p.loadType == kLoadInductive ? "I=" : "H=");
    Console::gotoXY(kPanelColumn, row++);
    Console::print("LOAD \t= %c", p.loadType == kLoadCapacitive ? 'C' : 'L');
  }
  if (p.Ipct == 0) sendKeys("=");
  if (esc()) return kKeyEsc;

  label("Время             ");
  expect("81T");
  sendKeys(p.timeFlag ? ";=" : "=");
  Console::gotoXY(kPanelColumn, row++);
  Console::print("Time \t= %i sec", p.timeFlag ? 10 : 1);

  label("Фикт. нагр.       ");
  if (p.timeFlag && expect("810T")) return -19;
  if (p.fictPow) {
    platform::sleepMs(200);
    sendKeys("0");
    Console::gotoXY(kPanelColumn, row++);
    Console::print("FictPow");
  }
  platform::sleepMs(500);
  if (expect("8--CP--")) return -21;

  label("Инт. измерен.     ");
  if (esc()) return kKeyEsc;
  establish(p);
  return 0;
}

int ZuController::changeTestPoint(TestPoint& p) {
  newValue = 0;
  pauseReader();
  panel(19, "ЭУ7125М");
  panel(22, "-----------------");
  if (escPressed()) return kKeyEsc;

  if (p.phases != phases) {
    label("Фазы             ");
    if (p.phases > 3) return -200;
    sendKeys(std::string(1, static_cast<char>(phaseByte(p.phases))));
    if (expect("8--CP--") && expect("8--CP--")) return -101;
  }
  if (p.U != U || p.Upct != Upct) {
    sendKeys("@=");
    if (escPressed()) return kKeyEsc;
    label("Напряжение        ");
    platform::sleepMs(200);
    if (sendValue(1, p.U, true, true)) return -103;
    sendKeys("=");
    if (expect("8UP")) return -104;
    if (sendValue(2, p.Upct, true, true)) return -105;
    platform::sleepMs(50);
    sendKeys("=");
    char screen[48];
    std::snprintf(screen, sizeof screen, "2%.2f", p.Upct);
    if (expect(screen)) return -206;
    sendKeys("@");
    if (expect("8--CP--")) return -106;
  }
  panelf(23, "F \t= %.2f", p.F);
  panelf(24, "V \t= %.2f     ", p.U * p.Upct * 0.01);
  if (escPressed()) return kKeyEsc;

  if (p.I != I || p.Ipct != Ipct) {
    label("Ток               ");
    sendKeys("C=");
    platform::sleepMs(200);
    if (sendValue(3, p.I, true, true)) return -108;
    sendKeys("=");
    if (expect("8IP")) return -109;
    if (sendValue(4, p.Ipct, true, true)) return -110;
    sendKeys("=C");
    if (expect("8--CP--")) {
      platform::sleepMs(500);
      if (expect("8--CP--")) return -111;
    }
  }
  panelf(25, "I \t= %.2f", p.I * p.Ipct * 0.01);
  if (escPressed()) return kKeyEsc;

  if (p.PF != PF || p.loadType != loadType || p.timeFlag != timeFlag || p.fictPow != fictPow) {
    sendKeys(";");
    label("Коэф.мощ.         ");
    Console::gotoXY(kPanelColumn, 26);
    if (p.PF != PF) {
      platform::sleepMs(100);
      if (sendValue(5, p.PF, true, true)) return -113;
      Console::print("PF \t= %.2f", p.PF);
    }
    sendKeys("=");
    label("Тип нагр.         ");
    Console::gotoXY(kPanelColumn, 27);
    if (std::fabs(p.PF) == 1.0) {
      // no load character at unity power factor
    } else if (p.loadType == loadType) {
      sendKeys("=");
    } else {
      platform::sleepMs(300);
      if (expect("8CL")) return -114;
      bool inductive = p.loadType == kLoadInductive;
      sendKeys(inductive ? "I=" : "H=");
      Console::print("LOAD \t= %c       ", inductive ? 'L' : 'C');
    }
    if (escPressed()) return kKeyEsc;
    if (timeFlag) {
      if (expect("810T")) return -216;
    } else if (expect("81T") && expect("81T")) {
      return -116;
    }
    label("Время             ");
    Console::gotoXY(kPanelColumn, 28);
    if (p.timeFlag == timeFlag) {
      sendKeys("=");
    } else {
      sendKeys(";=");
      Console::print("Time \t= %i sec", p.timeFlag ? 10 : 1);
    }
    label("Фикт. нагр.       ");
    Console::gotoXY(kPanelColumn, 29);
    if (p.fictPow != fictPow) {
      sendKeys("0");
      Console::print("FictPow");
    }
    if (expect("8--CP--")) return -118;
  }
  label("Инт. измерен.     ");
  if (escPressed()) return kKeyEsc;
  establish(p);
  return 0;
}

int ZuController::pulseErrorOn(int number) {
  if (isSlave()) {
    int r = sync->postStep(sync->programmeVariant(), programmeGroup, number - 1, kStepPulseOn);
    if (r == kKeyEsc || r < 0) return r;
    clearAverage();
    pulseMode = 1;
    return 0;
  }
  if (established != 1) return -1;
  if (pulseMode == 1) return 0;
  panel(20, "Погрешность Импус.");
  pauseReader();
  for (const char* k : {"=", "5", "=", "1", "="}) {
    sendKeys(k);
    platform::sleepMs(100);
  }
  if (expect("8--CP--")) {
    resumeReader();
    return -3;
  }
  pulseMode = 1;
  resumeReader();
  return 0;
}

int ZuController::pulseErrorOff(int number) {
  if (isSlave()) {
    int r = sync->postStep(sync->programmeVariant(), programmeGroup, number - 1, kStepPulseOff);
    if (r == kKeyEsc || r < 0) return r;
    clearAverage();
    pulseMode = 0;
    return 0;
  }
  if (established != 1) return -1;
  if (pulseMode == 0) return 0;
  pauseReader();
  for (int i = 0; i < 3; ++i) {
    sendKeys("=");
    platform::sleepMs(100);
  }
  pulseMode = 0;
  resumeReader();
  platform::sleepMs(500);
  return 0;
}

int ZuController::getMode() { return isSlave() ? sync->postMode() : mode; }

int ZuController::switchMode(int m) {
  int c = getMode();
  if (c == m) return 0;
  if (c == kKeyEsc) {
    Console::clearLines(18, 4);
    return kKeyEsc;
  }
  if (isSlave()) {
    int r = sync->postStep(sync->programmeVariant(), programmeGroup, 5, m == 1 ? kStepReactive : kStepActive);
    if (r != kKeyEsc) Console::clearLines(18, 4);
    return r;
  }
  if (reset() == kKeyEsc) return kKeyEsc;
  Console::clearLines(18, 4);
  if (m == 0) {
    Console::print("1) Переключите прибор ЭУ7125 в Активный режим.\n");
    Console::print("2) Переключите токовые цепи в Активный режим.\n");
  } else {
    Console::print("1) Переключите прибор ЭУ7125 в Реактивный режим.\n");
    Console::print("2) Переключите токовые цепи в Реактивный режим.\n");
  }
  Console::print("3) Нажмите любую клавишу для продолжения калибровки.\n");
  if (operatorKey() == kKeyEsc) {
    Console::clearLines(18, 4);
    return kKeyEsc;
  }
  Console::clearLines(18, 4);
  if (reset() == kKeyEsc) return kKeyEsc;
  mode = m;
  Console::clearLines(18, 4);
  return 0;
}

}  // namespace qs
