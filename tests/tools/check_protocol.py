#!/usr/bin/env python3
"""The report's HTML protocol parses (every element closed where it was
opened) and names every point of its runs: each run's table holds the point
numbers that the CSV of the same database gives for that run."""
import csv
import io
import re
import sys
from html.parser import HTMLParser

VOID = {"meta", "br", "link", "img", "hr", "input"}


class Protocol(HTMLParser):
    def __init__(self):
        super().__init__()
        self.stack, self.errors = [], []
        self.runs = {}          # run number -> point numbers of its table
        self.run = None
        self.cell = None
        self.text = ""
        self.points_table = False  # inside a run's table of points

    def handle_starttag(self, tag, attrs):
        if tag not in VOID:
            self.stack.append(tag)
        if tag == "table":
            self.points_table = ("class", "points") in attrs
        if tag == "td" and "table" in self.stack and self.run is not None:
            self.cell = (self.cell or 0) + 1
        if tag == "tr":
            self.cell = 0
        self.text = ""

    def handle_endtag(self, tag):
        if not self.stack or self.stack[-1] != tag:
            self.errors.append("</%s> closes %s" % (tag, self.stack[-1:] or "nothing"))
        else:
            self.stack.pop()
        if tag == "h1" and "№" in self.text:
            self.run = int(re.search(r"№\s*(\d+)", self.text).group(1))
            self.runs[self.run] = []
        if tag == "td" and self.cell == 1 and self.points_table and self.text.strip().isdigit():
            self.runs[self.run].append(int(self.text))

    def handle_data(self, data):
        self.text += data


def main(html_path, csv_path):
    p = Protocol()
    with open(html_path, encoding="utf-8") as f:
        p.feed(f.read())
    p.close()
    if p.errors or p.stack:
        sys.exit("the protocol does not parse: %s, left open: %s" % (p.errors, p.stack))
    with open(csv_path, encoding="utf-8-sig", newline="") as f:
        rows = list(csv.reader(io.StringIO(f.read()), delimiter=";"))
    head = rows[0]
    run, point = head.index("Прогон"), head.index("Точка")
    expected = {}
    for r in rows[1:]:
        expected.setdefault(int(r[run]), []).append(int(r[point]))
    for number, points in expected.items():
        if p.runs.get(number) != points:
            sys.exit("run %d: the protocol shows points %s, the records hold %s" % (number, p.runs.get(number), points))
    print("ok: %d runs, %d points" % (len(p.runs), sum(len(v) for v in expected.values())))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
