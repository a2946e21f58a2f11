#!/usr/bin/env python3
"""The protocol as a laboratory prints it: headless Chromium prints the HTML
to PDF on A4; there is one page per run, and no text of a table or a chart
reaches past the right margin of 1.5 cm (word boxes from pdftotext -bbox)."""
import re
import subprocess
import sys
import tempfile

A4_WIDTH_PT = 595.0
MARGIN_PT = 1.5 / 2.54 * 72


def check(chromium, html_path):
    with tempfile.TemporaryDirectory() as work:
        pdf = work + "/protocol.pdf"
        subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-pdf-header-footer",
                        "--user-data-dir=" + work + "/profile", "--print-to-pdf=" + pdf, "file://" + html_path],
                       check=True, capture_output=True, timeout=120)
        info = subprocess.run(["pdfinfo", pdf], check=True, capture_output=True, text=True).stdout
        pages = int(re.search(r"^Pages:\s+(\d+)", info, re.M).group(1))
        width = float(re.search(r"^Page size:\s+([\d.]+) x", info, re.M).group(1))
        runs = open(html_path, encoding="utf-8").read().count("<section>")
        if abs(width - A4_WIDTH_PT) > 2:
            sys.exit("the page is %.1f pt wide, not A4" % width)
        if pages != runs:
            sys.exit("%d runs printed on %d pages" % (runs, pages))
        boxes = subprocess.run(["pdftotext", "-bbox", pdf, "-"], check=True, capture_output=True,
                               text=True).stdout
        right = width - MARGIN_PT + 1.0
        words = 0
        for m in re.finditer(r'<word xMin="([\d.]+)" yMin="[\d.]+" xMax="([\d.]+)"[^>]*>([^<]*)</word>', boxes):
            words += 1
            if float(m.group(2)) > right or float(m.group(1)) < MARGIN_PT - 1.0:
                sys.exit("'%s' stands outside the margins (x %.1f-%.1f pt, page %.1f pt)"
                         % (m.group(3), float(m.group(1)), float(m.group(2)), width))
        print("ok: %s: %d pages, %d words within the margins" % (html_path.split("/")[-1], pages, words))


if __name__ == "__main__":
    for path in sys.argv[2:]:
        check(sys.argv[1], path)
