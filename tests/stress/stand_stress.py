#!/usr/bin/env python3
"""A whole verification stand under an operator's hands.

A master (qs m) and nine benches (the slaves it starts, each on a simulated
device) run a verification programme with points on two phases again and
again on qs-zusim, while seeded operator actions hit the stand: Esc on a
bench, U, Del, ?, s and a at the master, a bench killed with SIGKILL and
started again, Esc at the master while a step keeps failing. The stand is
then wound down and a new one started.

Checked throughout and at the end:
  * nothing hangs: every run of a bench ends within its bound, every process
    ends when asked to;
  * the installation is set only to points of the programme, in order (each
    point is the first, the one set before, or the next one);
  * every row a bench shows holds the values measured at its own point (the
    installation reports values that tell its points apart);
  * no process crashes (no window goes away unasked; the master ends with 0);
  * the next stand starts cleanly;
  * the records (qs report --csv): every row a bench showed is there, once;
    a point's verdict follows its values and limit; no run is left open and
    the runs of killed benches are marked lost; no bench said that a result
    waits to be recorded, although a reader (as an office's report or a
    database browser would) holds a read transaction on results.db for
    seconds at a time all along.

Usage: stand_stress.py QS DEVSIM ZUSIM [--seconds N] [--seed N] [--keep]
"""
import argparse
import sqlite3
import threading
import csv
import io
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

BENCHES = 9
ZU_PORT = 10
# The programme: (number, U, Upct, I, Ipct, PF, load, phases). Points 2 and 3
# are on two phases; 4 comes back to one phase by a change.
PROGRAMME = [
    (1, 220, 100, 5, 100, 1.0, "N", "ABC"),
    (2, 220, 100, 5, 50, 0.5, "L", "AB"),
    (3, 220, 100, 5, 20, 0.8, "C", "BC"),
    (4, 220, 100, 5, 100, 1.0, "N", "A"),
]
# The permitted channel error of the points that give one (percent), in
# the field after the phases; the others give none.
LIMITS = {1: "0.5", 3: "0.7"}
READINGS = 2  # fresh values of each channel a point takes
VERDICTS = ("годен", "не годен", "не измерено")
PHASE_BYTES = {"A": 0xB0, "B": 0xA8, "C": 0x98, "ABC": 0x80, "AC(Q)": 0x90, "AB": 0xA0, "BC": 0x88}
RUN_BOUND_S = 150       # a run of a bench ends within this
DRAIN_BOUND_S = 120     # benches are back in their menus within this once the actions stop
ROW = re.compile(r"^\s*(\d+)\s+(\d+\.\d\d)\s+(\d+\.\d{3})\s+(-?\d+\.\d\d)\s+(\S+)"
                 r"\s+(-?\d+\.\d{3}|нет)\s+(-?\d+\.\d{3}|нет)\s+(-?\d+\.\d{3}|нет)\s+(-?\d+\.\d{3}|нет)"
                 r"(?:\s+(годен|не годен|не измерено))?\s*$")
TABLE_ROW = re.compile(r"^\s+(\d)\.(\(0x[0-9A-F]{2},COM\d+\): (\S+)|Disable)")


class Failure(Exception):
    pass


class Tmux:
    def __init__(self, socket):
        self.socket = socket

    def run(self, *args, check=True):
        r = subprocess.run(["tmux", "-L", self.socket, *args], capture_output=True, text=True)
        if check and r.returncode != 0:
            raise Failure("tmux %s: %s" % (" ".join(args), r.stderr.strip()))
        return r.stdout

    def screen(self, target):
        r = subprocess.run(["tmux", "-L", self.socket, "capture-pane", "-p", "-t", target],
                           capture_output=True, text=True)
        return r.stdout if r.returncode == 0 else None

    def keys(self, target, *keys):
        self.run("send-keys", "-t", target, *keys, check=False)

    def windows(self):
        """Window name -> pane process id."""
        out = self.run("list-windows", "-a", "-F", "#{window_name} #{pane_pid}", check=False)
        found = {}
        for line in out.splitlines():
            name, _, pid = line.partition(" ")
            if pid.isdigit():
                found[name] = int(pid)
        return found

    def kill_server(self):
        self.run("kill-server", check=False)


class Stand:
    def __init__(self, args):
        self.args = args
        self.seed = args.seed
        self.rng = random.Random(self.seed)
        self.work = tempfile.mkdtemp(prefix="qs-stress.")
        self.tmux = Tmux("qs-stress-%d" % os.getpid())
        self.procs = []
        self.log = []
        self.rows_checked = 0
        self.rows_missing = 0
        self.seen_rows = set()
        self.runs_ended = 0
        self.killed_in_run = 0
        self.records_checked = 0
        self.readings_checked = 0
        self.records_lost = 0
        self.actions = {}
        self.bench = {n: {"state": "starting", "since": time.time(), "asked": 0.0, "run_start": None,
                          "chose": False, "fresh": False, "expected_gone": False}
                      for n in range(1, BENCHES + 1)}
        self.master_exit = os.path.join(self.work, "master.exit")
        self.step_stopped = 0.0
        self.reads_held = 0
        self.reading = threading.Event()

    # ---- set-up ------------------------------------------------------------------------------
    def note(self, text):
        line = "%7.1f %s" % (time.time() - self.t0, text)
        self.log.append(line)
        if self.args.verbose:
            print(line, flush=True)

    def write(self, relative, text):
        path = os.path.join(self.work, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", newline="") as f:
            f.write(text)
        return path

    def start_simulators(self):
        src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples", "QS_ADD")
        os.makedirs(os.path.join(self.work, "QS_ADD"), exist_ok=True)
        shutil.copy(os.path.join(src, "reg_7758_1.txt"), os.path.join(self.work, "QS_ADD"))
        tasks = "".join("Task_%d:\t%d\t%02X\t\n" % (n, n, 0x20 + n) for n in range(1, BENCHES + 1))
        ver = "Ver:\t1\t2\t3\tStress\tprog.txt\t\n"
        # Each point takes READINGS fresh values of each channel.
        measure = "Measure:\t0\t%d\t0\t0\t\n" % READINGS
        self.write("QS_ADD/common.sch", tasks + "Port_ZU:\t%d\t1\t0\t\n" % ZU_PORT + ver + measure)
        self.write("QS_ADD/common1.sch", ver)
        self.write("QS_ADD/prog.txt", "".join(
            "A1_%d\t%g\t%g\t%g\t%g\t%.1f\t%s\t0\t0\t0\t%s\t%s\n" % (p + (LIMITS.get(p[0], ""),))
            for p in PROGRAMME))
        self.fault = os.path.join(self.work, "fault")
        self.events = os.path.join(self.work, "zu.events")
        self.zu_keys = os.path.join(self.work, "zu.keys")
        ready = []
        for n in range(1, BENCHES + 1):
            r = os.path.join(self.work, "dev%d.ready" % n)
            self.spawn([self.args.devsim, "--address", "%02X" % (0x20 + n), "--serial", "%06d" % (n * 111111),
                        "--link", os.path.join(self.work, "QS_ADD", "com%d" % n), "--ready-file", r])
            ready.append(r)
        r = os.path.join(self.work, "zu.ready")
        self.spawn([self.args.zusim, "--link", os.path.join(self.work, "QS_ADD", "com%d" % ZU_PORT),
                    "--events", self.events, "--keys", self.zu_keys, "--never", "8IP", "--never-while", self.fault,
                    "--ready-file", r])
        ready.append(r)
        deadline = time.time() + 20
        while not all(os.path.exists(r) for r in ready):
            if time.time() > deadline:
                raise Failure("the simulators did not start")
            time.sleep(0.05)

    def spawn(self, argv):
        self.procs.append(subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

    def start_master(self, slaves, session="stand"):
        script = self.write("master.sh", 'cd "%s"\n"%s" m\necho $? > "%s.tmp"\nmv "%s.tmp" "%s"\nsleep 600\n'
                            % (self.work, self.args.qs, self.master_exit, self.master_exit, self.master_exit))
        if os.path.exists(self.master_exit):
            os.remove(self.master_exit)
        self.tmux.run("-f", "/dev/null", "new-session", "-d", "-s", session, "-n", "master", "-x", "100", "-y", "38",
                      "bash " + script)
        self.tmux.run("set-option", "-g", "escape-time", "0")
        self.tmux.run("set-option", "-g", "default-size", "100x38")
        self.master = session + ":master"
        self.wait(lambda: "Введите колличество ведомых задач" in (self.tmux.screen(self.master) or ""), 20,
                  "the master did not ask for its slaves")
        self.tmux.keys(self.master, str(slaves))

    # ---- looking ---------------------------------------------------------------------------------
    def wait(self, done, seconds, what):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if done():
                return
            time.sleep(0.1)
        raise Failure(what)

    def table(self):
        """Slot number -> state name (None: free), from the master's task table."""
        screen = self.tmux.screen(self.master) or ""
        slots = {}
        for line in screen.splitlines():
            m = TABLE_ROW.match(line)
            if m:
                slots[int(m.group(1))] = m.group(3) if m.group(2) != "Disable" else None
        return slots, screen

    def check_rows(self, n, screen):
        lines = screen.splitlines()
        if len(lines) < 21 or not lines[20].startswith(" N     U"):
            return  # no table of results on the screen
        status = lines[36] if len(lines) > 36 else ""
        numbers = []
        for line in (l[:92].rstrip() for l in lines[21:36]):
            if not line:
                continue
            m = ROW.match(line)
            if not m:
                raise Failure("bench %d shows a row that is not a row of results: %r" % (n, line))
            numbers.append(int(m.group(1)))
            key = (n, line)
            if key in self.seen_rows:
                continue
            self.seen_rows.add(key)
            number = int(m.group(1))
            point = next((p for p in PROGRAMME if p[0] == number), None)
            if point is None:
                raise Failure("bench %d shows a row of no point: %r" % (n, line))
            _, u, upct, i, ipct, pf, load, phases = point
            if (abs(float(m.group(2)) - u * upct / 100) > 0.01 or abs(float(m.group(3)) - i * ipct / 100) > 0.001
                    or abs(float(m.group(4)) - pf) > 0.01 or m.group(5) != phases):
                raise Failure("bench %d: row %r does not name point %d as the programme has it" % (n, line, number))
            expected = self.point_values(point)
            if expected is None:
                raise Failure("bench %d shows point %d, which the installation was never set to: %r"
                              % (n, number, line))
            power, channels = expected
            shown = [m.group(k) for k in (6, 7, 8, 9)]
            if shown[0] != "нет" and abs(float(shown[0]) - power) > 0.06:
                raise Failure("bench %d: the average of point %d is %s, measured there: %.3f (%r)"
                              % (n, number, shown[0], power, line))
            for c in range(3):
                if shown[c + 1] != "нет" and abs(float(shown[c + 1]) - channels[c]) > 0.0015:
                    raise Failure("bench %d: channel %d of point %d is %s, measured there: %.3f (%r)"
                                  % (n, c + 1, number, shown[c + 1], channels[c], line))
            self.rows_checked += 1
            self.rows_missing += shown.count("нет")
        # A run shows its points in the programme's order, and a finished
        # run shows every one of them.
        if numbers != list(range(1, len(numbers) + 1)):
            raise Failure("bench %d shows the points %s" % (n, numbers))
        if "Поверка завершена." in status and len(numbers) != len(PROGRAMME):
            raise Failure("bench %d finished its run showing the points %s" % (n, numbers))

    def point_values(self, point):
        """What the installation reported at a point (from its own log)."""
        _, u, upct, i, ipct, pf, load, phases = point
        for line in self.read_events():
            f = line.split()
            if f[0] not in ("set", "pulse-on") or int(f[1], 16) != PHASE_BYTES[phases]:
                continue
            if (abs(float(f[2]) - u) < 0.01 and abs(float(f[3]) - upct) < 0.01 and abs(float(f[4]) - i) < 0.001
                    and abs(float(f[5]) - ipct) < 0.01 and abs(float(f[6]) - pf) < 0.01):
                return float(f[8]), [float(f[9]), float(f[10]), float(f[11])]
        return None

    def read_events(self):
        try:
            with open(self.events) as f:
                return [l for l in f.read().splitlines() if l]
        except FileNotFoundError:
            return []

    # ---- the benches -------------------------------------------------------------------------------
    def bench_target(self, n):
        return "stand:QS_S%d" % n

    def tick_benches(self, acting, windows):
        now = time.time()
        for n, b in self.bench.items():
            name = "QS_S%d" % n
            if name not in windows:
                if b["state"] not in ("gone", "starting"):
                    if not b["expected_gone"]:
                        raise Failure("bench %d went away unasked (crashed?)" % n)
                    b["state"] = "gone"
                    b["since"] = now
                    self.note("bench %d gone" % n)
                continue
            screen = self.tmux.screen(self.bench_target(n))
            if screen is None:
                continue
            if "Ошибка! программа QS_Master не найдена" in screen:
                raise Failure("bench %d did not find its master" % n)
            if "results.db" in screen:
                raise Failure("bench %d could not record a result: %r" % (n, screen.splitlines()[19]))
            if "невозможно открыть порт" in screen:
                raise Failure("bench %d could not open its device's port (still held by the bench before it?)" % n)
            rows = screen.splitlines()
            self.check_rows(n, screen)
            status = rows[36] if len(rows) > 36 else ""
            measuring = len(rows) > 20 and rows[20].startswith(" N     U")
            choosing = "Программы поверки:" in screen
            menu = "<Esc> - Выход." in screen and "<8>  - Поверка." in screen
            if b["state"] in ("starting", "gone"):
                if menu:
                    b["state"] = "menu"
                    b["fresh"] = True
                    b["expected_gone"] = False
                    self.note("bench %d in its menu" % n)
                continue
            if b["run_start"] is not None and now - b["run_start"] > RUN_BOUND_S:
                raise Failure("bench %d: a run has not ended in %d s" % (n, RUN_BOUND_S))
            if "Поверка завершена." in status or "Поверка прервана." in status:
                self.runs_ended += 1
                self.note("bench %d: %s" % (n, status.strip()))
                self.tmux.keys(self.bench_target(n), "Enter")
                b["state"] = "menu"
                b["run_start"] = None
                b["asked"] = now
                continue
            if measuring or choosing:
                if b["run_start"] is None:
                    b["run_start"] = now
                if choosing and not b["chose"]:
                    self.tmux.keys(self.bench_target(n), "1")
                    b["chose"] = True
                    b["asked"] = now
                continue
            if b["run_start"] is not None and menu and now - b["asked"] > 3.0:
                # The run ended and its last screen went by unseen (a key
                # of the operator's took it).
                b["run_start"] = None
            # A bench that has just started and not run yet is idle in the
            # stand and holds every step back: its operator starts a run
            # even while the others wind down.
            if menu and b["run_start"] is None and (acting or b["fresh"]) and now - b["asked"] > 1.5:
                b["fresh"] = False
                self.tmux.keys(self.bench_target(n), "8")
                b["asked"] = now
                b["run_start"] = now
                b["chose"] = False

    # ---- the operator's actions ---------------------------------------------------------------------
    def master_keys(self, *keys):
        self.tmux.keys(self.master, *keys)

    def slot_in_use(self, n):
        slots, _ = self.table()
        return slots.get(n) is not None

    def restart(self, n):
        """Starts bench n again from the master once its slot is free."""
        self.wait(lambda: self.table()[0].get(n, "not shown") is None, 20, "the slot of bench %d was not freed" % n)
        self.master_keys(str(n))
        self.bench[n]["state"] = "starting"
        self.bench[n]["since"] = time.time()
        self.bench[n]["run_start"] = None

    def act(self, windows):
        action = self.rng.choice(["esc_bench", "kill", "unblock", "delete", "reset", "stop_start", "failing_step",
                                  "nothing", "nothing"])
        alive = [n for n, b in self.bench.items() if b["state"] == "menu" and "QS_S%d" % n in windows]
        if not alive:
            return
        n = self.rng.choice(alive)
        self.note("action %s (bench %d)" % (action, n))
        self.actions[action] = self.actions.get(action, 0) + 1
        if action == "esc_bench":
            # Only in the middle of a run (a point or more still to come), so
            # that the Esc is not taken by the menu, which it would end.
            rows = (self.tmux.screen(self.bench_target(n)) or "").splitlines()
            shown = sum(1 for line in rows[21:36] if ROW.match(line))
            if len(rows) > 20 and rows[20].startswith(" N     U") and shown <= 1 and "Поверка" not in rows[36]:
                self.tmux.keys(self.bench_target(n), "Escape")
        elif action == "kill":
            # A run is in the records from the moment its table is drawn.
            rows = (self.tmux.screen(self.bench_target(n)) or "").splitlines()
            if len(rows) > 20 and rows[20].startswith(" N     U"):
                self.killed_in_run += 1
            self.bench[n]["expected_gone"] = True
            os.kill(windows["QS_S%d" % n], signal.SIGKILL)
            self.restart(n)
        elif action == "unblock":
            if self.slot_in_use(n):
                self.master_keys(str(n), "U")
        elif action == "delete":
            if self.slot_in_use(n):
                self.bench[n]["expected_gone"] = True
                self.master_keys(str(n), "DC")
                self.restart(n)
        elif action == "reset":
            self.master_keys("?")
        elif action == "stop_start":
            self.master_keys("s")
            time.sleep(self.rng.uniform(0.2, 1.5))
            self.master_keys("a")
        elif action == "failing_step":
            self.failing_step()

    def failing_step(self):
        """The installation stops confirming a screen; the master's operator
        stops the step that keeps failing with Esc."""
        with open(self.fault, "w"):
            pass
        try:
            deadline = time.time() + 25
            while time.time() < deadline:
                screen = self.tmux.screen(self.master) or ""
                if re.search(r"Error ZU: -?\d+ \(ESC exit\)", screen):
                    self.note("a step fails at the master: Esc")
                    self.master_keys("Escape")
                    self.step_stopped = time.time()
                    return
                time.sleep(0.05)
            self.note("no step ran while the installation failed")
        finally:
            os.remove(self.fault)

    def keep_running(self):
        """The master's operator starts the stand again when it stopped."""
        slots, screen = self.table()
        if "( Stop )" in screen:
            if self.stopped_since is None:
                self.stopped_since = time.time()
            elif time.time() - self.stopped_since > 1.0:
                self.master_keys("a")
                self.stopped_since = None
        else:
            self.stopped_since = None

    def hold_reads(self):
        """A reader of results.db that holds a read transaction for seconds
        at a time, as a report or a database browser in the office may."""
        path = os.path.join(self.work, "results.db")
        rng = random.Random(self.seed + 1)
        while self.reading.is_set():
            if not os.path.exists(path):
                time.sleep(0.5)
                continue
            try:
                db = sqlite3.connect("file:%s?mode=ro" % path, uri=True, isolation_level=None, timeout=10)
                db.execute("BEGIN")
                db.execute("SELECT count(*) FROM points").fetchone()
                self.reads_held += 1
                until = time.time() + rng.uniform(3, 10)
                while self.reading.is_set() and time.time() < until:
                    time.sleep(0.2)
                db.execute("COMMIT")
                db.close()
            except sqlite3.Error as e:
                self.note("reader: %s" % e)
                time.sleep(0.5)

    # ---- the run -------------------------------------------------------------------------------------
    def run(self):
        self.t0 = time.time()
        self.start_simulators()
        self.start_master(BENCHES)
        self.wait(lambda: sum(1 for s in self.table()[0].values() if s) == BENCHES, 60,
                  "the benches did not all register")
        self.master_keys("a")
        self.stopped_since = None
        self.reading.set()
        reader = threading.Thread(target=self.hold_reads, daemon=True)
        reader.start()
        end_actions = time.time() + self.args.seconds
        next_action = time.time() + 5
        while time.time() < end_actions:
            windows = self.tmux.windows()
            self.tick_benches(True, windows)
            self.keep_running()
            if time.time() >= next_action:
                self.act(windows)
                next_action = time.time() + self.rng.uniform(2, 6)
            time.sleep(0.3)
        # Wind down: every run ends, every bench goes back to its menu.
        self.note("actions end")
        deadline = time.time() + DRAIN_BOUND_S
        while True:
            windows = self.tmux.windows()
            self.tick_benches(False, windows)
            self.keep_running()
            if all(b["state"] in ("menu",) and b["run_start"] is None for b in self.bench.values()):
                break
            if time.time() > deadline:
                raise Failure("benches still running %d s after the actions ended: %s" % (
                    DRAIN_BOUND_S, {n: b["state"] for n, b in self.bench.items() if b["run_start"] is not None}))
            time.sleep(0.3)
        self.reading.clear()
        reader.join()
        self.check_installation()
        self.end_stand()
        self.next_stand()
        self.check_records()

    def check_records(self):
        """What the benches showed is what the records hold."""
        out = os.path.join(self.work, "points.csv")
        r = subprocess.run([self.args.qs, "report", "--csv", out], cwd=self.work, capture_output=True, text=True,
                           timeout=60)
        if r.returncode != 0:
            raise Failure("qs report failed: %s" % (r.stderr or r.stdout))
        with open(out, encoding="utf-8-sig", newline="") as f:
            rows = list(csv.DictReader(io.StringIO(f.read()), delimiter=";"))
        listing = subprocess.run([self.args.qs, "report", "--last", "0"], cwd=self.work, capture_output=True,
                                 text=True, timeout=60).stdout
        if " идёт " in listing:
            raise Failure("runs left open in the records:\n%s" % listing)
        lost = listing.count(" потеряна ")
        self.records_lost = lost
        if lost < self.killed_in_run:
            raise Failure("%d benches were killed in a run, %d runs are marked lost" % (self.killed_in_run, lost))
        number = lambda text: float(text.replace(",", "."))
        shown = {}
        seen_points = set()
        for row in rows:
            key = (row["Прогон"], row["Точка"])
            if key in seen_points:
                raise Failure("point %s of run %s is recorded twice" % (row["Точка"], row["Прогон"]))
            seen_points.add(key)
            values = [row[c] for c in ("Среднее", "Канал 1", "Канал 2", "Канал 3")]
            text = ["%*.3f" % (w, number(v)) if v else " " * (w - 3) + "нет" for v, w in zip(values, (10, 9, 9, 9))]
            limit = row["Допуск, %"]
            fresh = all(values)
            expected = ("не измерено" if not fresh else "" if not limit else
                        "годен" if all(abs(number(v)) <= number(limit) for v in values[1:]) else "не годен")
            if row["Итог точки"] != expected:
                raise Failure("point %s of run %s is recorded %r, its values and limit make it %r"
                              % (row["Точка"], row["Прогон"], row["Итог точки"], expected))
            line = ("%2d %7.2f %7.3f %6.2f %-5s %s %s %s %s %s" % (
                int(row["Точка"]), number(row["U, В"]), number(row["I, А"]), number(row["PF"]), row["Фазы"],
                text[0], text[1], text[2], text[3], expected)).rstrip()
            shown.setdefault(int(row["Стенд"]), set()).add(line)
        for n, line in sorted(self.seen_rows):
            if line not in shown.get(n, set()):
                raise Failure("bench %d showed a row that is not in the records: %r" % (n, line))
            self.records_checked += 1
        self.check_readings()

    def check_readings(self):
        """A measured point keeps each of its readings, and its values are
        their mean and spread."""
        db = sqlite3.connect("file:%s?mode=ro" % os.path.join(self.work, "results.db"), uri=True, timeout=10)
        try:
            points = db.execute("SELECT run_id, seq, channel1, channel2, channel3, spread1, spread2, spread3 "
                                "FROM points").fetchall()
            for run, seq, *values in points:
                readings = db.execute("SELECT channel1, channel2, channel3 FROM readings WHERE run_id = ? AND seq = ? "
                                      "ORDER BY reading", (run, seq)).fetchall()
                for n in range(3):
                    mean, spread = values[n], values[3 + n]
                    if mean is None:
                        continue
                    taken = [r[n] for r in readings]
                    if len(taken) != READINGS or None in taken:
                        raise Failure("point %d of run %d has the value %r from the readings %r"
                                      % (seq, run, mean, taken))
                    if abs(sum(taken) / len(taken) - mean) > 1e-9 or spread is None or \
                            abs(max(taken) - min(taken) - spread) > 1e-9:
                        raise Failure("point %d of run %d: mean %r and spread %r of the readings %r"
                                      % (seq, run, mean, spread, taken))
                    self.readings_checked += 1
        finally:
            db.close()

    def check_installation(self):
        """Pulse errors are measured only at points of the programme, never
        while the installation is moved to another point, and in the
        programme's order: benches that run in lockstep share each
        measurement and a bench that catches up measures on its own, so at
        every moment each point has been measured no more often than the
        point before it."""
        counts = {p[0]: 0 for p in PROGRAMME}
        measured = 0
        pulse = False
        for index, line in enumerate(self.read_events(), 1):
            f = line.split()
            if f[0] in ("pulse-off", "reset"):
                pulse = False
            if f[0] == "set" and pulse:
                raise Failure("the installation was moved to another point while it measured pulse errors"
                              " (installation event %d)" % index)
            if f[0] != "pulse-on":
                continue
            pulse = True
            point = next((p for p in PROGRAMME if PHASE_BYTES[p[7]] == int(f[1], 16)
                          and abs(p[1] - float(f[2])) < 0.01 and abs(p[3] - float(f[4])) < 0.001
                          and abs(p[4] - float(f[5])) < 0.01 and abs(p[5] - float(f[6])) < 0.01), None)
            if point is None:
                raise Failure("pulse errors measured at a point of no programme: %s" % line)
            number = point[0]
            counts[number] += 1
            if number > 1 and counts[number] > counts[number - 1]:
                raise Failure("pulse errors measured at point %d more often than at point %d (installation event %d)"
                              % (number, number - 1, index))
            measured += 1
        if measured == 0:
            raise Failure("pulse errors were never measured")
        self.sets = measured

    def end_stand(self):
        for n, b in self.bench.items():
            b["expected_gone"] = True
            self.tmux.keys(self.bench_target(n), "Escape")
        self.wait(lambda: not any(name.startswith("QS_S") for name in self.tmux.windows()), 30,
                  "benches did not end on Esc")
        self.wait(lambda: len(self.table()[0]) == BENCHES and all(s is None for s in self.table()[0].values()),
                  10, "the master kept slots of benches that ended")
        # An Esc within a second of one that stopped a step is still that
        # step's: the operator ends the master after it.
        time.sleep(max(0.0, self.step_stopped + 1.5 - time.time()))
        self.master_keys("Escape")
        self.wait(lambda: os.path.exists(self.master_exit), 30, "the master did not end on Esc")
        with open(self.master_exit) as f:
            status = f.read().strip()
        if status != "0":
            raise Failure("the master ended with status %s" % status)
        with open(self.zu_keys, "rb") as f:
            keys = f.read()
        if not keys.endswith(b">"):
            raise Failure("the installation was not reset at the end")
        self.tmux.kill_server()

    def next_stand(self):
        self.tmux = Tmux(self.tmux.socket + "-next")  # a server of its own: the last one may still be going away
        self.start_master(1, session="next")
        self.wait(lambda: self.table()[0].get(1) == "State", 30, "the next stand's bench did not register")
        _, screen = self.table()
        if "уже запущена" in screen:
            raise Failure("the next master found the last one")
        self.wait(lambda: "<Esc> - Выход." in (self.tmux.screen("next:QS_S1") or ""), 20,
                  "the next stand's bench did not show its menu")
        self.tmux.keys("next:QS_S1", "Escape")
        self.wait(lambda: "QS_S1" not in self.tmux.windows(), 20, "the next stand's bench did not end")
        self.master_keys("Escape")
        self.wait(lambda: os.path.exists(self.master_exit), 20, "the next master did not end")

    def cleanup(self):
        self.reading.clear()
        self.tmux.kill_server()
        Tmux(self.tmux.socket.replace("-next", "")).kill_server()
        for p in self.procs:
            p.terminate()
        for p in self.procs:
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
        if not self.args.keep:
            shutil.rmtree(self.work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("qs")
    ap.add_argument("devsim")
    ap.add_argument("zusim")
    ap.add_argument("--seconds", type=float, default=40, help="how long the operator acts (default 40)")
    ap.add_argument("--seed", type=int, default=None, help="seed of the operator's actions (default: random)")
    ap.add_argument("--keep", action="store_true", help="keep the scratch folder")
    ap.add_argument("--verbose", action="store_true", help="say what happens as it happens")
    args = ap.parse_args()
    if args.seed is None:
        args.seed = random.SystemRandom().randrange(1 << 31)
    args.qs, args.devsim, args.zusim = (os.path.abspath(p) for p in (args.qs, args.devsim, args.zusim))
    print("stand stress: seed %d, %g s of operator actions" % (args.seed, args.seconds), flush=True)
    # Ended from outside (a time-out, Ctrl+C, a closed pipe): the stand is
    # still wound down.
    def stop(sig, _frame):
        raise Failure("stopped by signal %d" % sig)
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGPIPE):
        signal.signal(sig, stop)
    stand = Stand(args)
    try:
        stand.run()
    except Exception as e:  # a fault of the harness itself winds the stand down too
        print("FAIL (seed %d): %s" % (args.seed, e))
        print("---- what happened ----")
        print("\n".join(stand.log[-60:]))
        for name in sorted(stand.tmux.windows()):
            print("---- window %s ----" % name)
            print(stand.tmux.screen("stand:" + name) or stand.tmux.screen("next:" + name) or "")
        print("---- installation (last events) ----")
        print("\n".join(stand.read_events()[-30:]))
        stand.args.keep = True
        print("scratch folder kept: %s" % stand.work)
        stand.cleanup()
        return 1
    stand.cleanup()
    print("ok: %d rows checked (%d values that did not come), %d runs ended, pulse errors measured at %d points,"
          " %d rows found in the records, %d channel values checked against their readings, %d runs lost"
          " (%d benches killed in a run), %d read transactions held"
          % (stand.rows_checked, stand.rows_missing, stand.runs_ended, stand.sets, stand.records_checked,
             stand.readings_checked, stand.records_lost, stand.killed_in_run, stand.reads_held))
    print("operator actions: %s" % ", ".join("%s %d" % kv for kv in sorted(stand.actions.items())))
    return 0


if __name__ == "__main__":
    sys.exit(main())
