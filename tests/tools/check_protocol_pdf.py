#!/usr/bin/env python3
"""The protocol as a laboratory prints it: headless Chromium prints the HTML
to PDF on A4; each run's protocol starts on a page of its own and takes at
most two, every page carries its number ("Лист k из n"), no text of a table
or a chart reaches past the margins of 1.5 cm (word boxes from pdftotext
-bbox; the page number stands in the bottom margin), and no table cell's
text breaks inside a word: every word of every cell is one word on the
page."""
import os
import re
import subprocess
import sys
import tempfile
from html.parser import HTMLParser

A4_WIDTH_PT = 595.0
A4_HEIGHT_PT = 842.0
MARGIN_PT = 1.5 / 2.54 * 72


class Cells(HTMLParser):
    """The words of the protocol's table cells (not of its charts)."""

    def __init__(self):
        super().__init__()
        self.depth = 0      # inside a td or th
        self.svg = 0
        self.text = ""      # the cell's text so far, across its inline elements
        self.words = []

    def handle_starttag(self, tag, attrs):
        if tag in ("td", "th"):
            self.depth += 1
            self.text = ""
        if tag == "svg":
            self.svg += 1

    def handle_endtag(self, tag):
        if tag in ("td", "th"):
            self.depth -= 1
            self.words.extend(self.text.split())
            self.text = ""
        if tag == "svg":
            self.svg -= 1

    def handle_data(self, data):
        if self.depth > 0 and self.svg == 0:
            self.text += data


def check(chromium, html_path):
    with tempfile.TemporaryDirectory() as work:
        pdf = work + "/protocol.pdf"
        subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-pdf-header-footer",
                        "--disable-background-networking", "--disable-component-update", "--no-first-run",
                        "--user-data-dir=" + work + "/profile", "--print-to-pdf=" + pdf, "file://" + os.path.abspath(html_path)],
                       check=True, capture_output=True, timeout=120)
        info = subprocess.run(["pdfinfo", pdf], check=True, capture_output=True, text=True).stdout
        pages = int(re.search(r"^Pages:\s+(\d+)", info, re.M).group(1))
        width = float(re.search(r"^Page size:\s+([\d.]+) x", info, re.M).group(1))
        html = open(html_path, encoding="utf-8").read()
        runs = html.count("<section>")
        if abs(width - A4_WIDTH_PT) > 2:
            sys.exit("the page is %.1f pt wide, not A4" % width)
        if not runs <= pages <= 2 * runs:
            sys.exit("%d runs printed on %d pages" % (runs, pages))
        # Each page's number, in its bottom margin.
        for page in range(1, pages + 1):
            text = subprocess.run(["pdftotext", "-f", str(page), "-l", str(page), "-layout", pdf, "-"], check=True,
                                  capture_output=True, text=True).stdout
            if ("Лист %d из %d" % (page, pages)) not in text:
                sys.exit("page %d does not say 'Лист %d из %d'" % (page, page, pages))
        boxes = subprocess.run(["pdftotext", "-bbox", pdf, "-"], check=True, capture_output=True,
                               text=True).stdout
        right = width - MARGIN_PT + 1.0
        bottom = A4_HEIGHT_PT - MARGIN_PT
        words = set()
        count = 0
        for m in re.finditer(r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)"[^>]*>([^<]*)</word>', boxes):
            count += 1
            text = m.group(4).replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", '"').replace("&amp;", "&")
            words.add(text)
            if float(m.group(2)) > bottom:
                continue  # the page's number
            if float(m.group(3)) > right or float(m.group(1)) < MARGIN_PT - 1.0:
                sys.exit("'%s' stands outside the margins (x %.1f-%.1f pt, page %.1f pt)"
                         % (text, float(m.group(1)), float(m.group(3)), width))
        cells = Cells()
        cells.feed(html)
        broken = sorted({w for w in cells.words if w not in words})
        if broken:
            sys.exit("table cells broken inside a word: %s" % ", ".join(broken[:10]))
        print("ok: %s: %d pages, %d words within the margins, %d words of cells whole"
              % (html_path.split("/")[-1], pages, count, len(cells.words)))


if __name__ == "__main__":
    for path in sys.argv[2:]:
        check(sys.argv[1], path)
