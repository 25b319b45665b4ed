#!/usr/bin/env python3
"""Writes the page of the shipped samples and of a small site through the real tarnwell-cli,
then checks both: well-formed HTML with unique ids, nothing fetched from anywhere, a hostile
port name shown as text, the ports worst first as summary.json has them, the count line, each
port's link and section. With --browser, opens the site page in headless Chromium: the table
sorts on a click, and the console stays silent.

usage: check_html.py CLI SAMPLES WORKDIR [--browser [--screenshot PNG]]
"""
import html.parser
import json
import os
import re
import shutil
import struct
import subprocess
import sys

HOSTILE = '<script>alert("x")&\''
VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}
failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


class Page(html.parser.HTMLParser):
    """The elements of a page, checked as they are read: every element closed in order, ids
    unique, no reference out of the page."""

    def __init__(self, name):
        super().__init__(convert_charrefs=True)
        self.name, self.stack, self.ids, self.doctype = name, [], {}, False
        self.text, self.scripts, self.elements = [], [], []  # elements: (tag, attributes)

    def handle_decl(self, decl):
        self.doctype = self.doctype or decl.lower() == "doctype html"

    def handle_startendtag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            if attrs["id"] in self.ids:
                fail(f"{self.name}: id {attrs['id']} twice")
            self.ids[attrs["id"]] = tag
        for key in ("href", "src", "xlink:href", "action", "srcset", "poster", "data"):
            if not attrs.get(key, "#").startswith("#"):
                fail(f"{self.name}: <{tag} {key}={attrs[key]!r}> leaves the page")
        if re.search(r"url\((?!#)", attrs.get("style", "") + attrs.get("fill", "") + attrs.get("stroke", "")):
            fail(f"{self.name}: <{tag}> refers to a url outside the page")
        if tag in ("link", "iframe", "img", "object", "embed", "base"):
            fail(f"{self.name}: <{tag}> has no place in a self-contained page")
        self.elements.append((tag, attrs))

    def handle_starttag(self, tag, attrs):
        self.handle_startendtag(tag, attrs)
        if tag not in VOID:
            self.stack.append(tag)

    def handle_endtag(self, tag):
        if not self.stack or self.stack[-1] != tag:
            fail(f"{self.name}: </{tag}> closes <{self.stack[-1] if self.stack else 'nothing'}> "
                 f"at line {self.getpos()[0]}")
        else:
            self.stack.pop()

    def handle_data(self, data):
        if self.stack and self.stack[-1] == "script":
            self.scripts.append(data)
        if self.stack and self.stack[-1] == "style" and re.search(r"@import|url\((?!#)", data):
            fail(f"{self.name}: the style sheet fetches something")
        self.text.append(data)


def read_page(path):
    raw = open(path, "rb").read()
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        fail(f"{path}: not UTF-8: {e}")
        text = raw.decode("utf-8", "replace")
    if '<meta charset="utf-8">' not in text:
        fail(f"{path}: does not say it is UTF-8")
    page = Page(os.path.basename(path))
    page.feed(text)
    page.close()
    if page.stack:
        fail(f"{path}: left open: {page.stack}")
    if not page.doctype:
        fail(f"{path}: no <!DOCTYPE html>")
    return page, text


BARE = dict(os.environ, TARNWELL_CHARTS_MODULE="/nonexistent.so")  # no picture module


def run(args, expect, env=None):
    done = subprocess.run(args, capture_output=True, text=True, timeout=300, env=env)
    if expect is not None and done.returncode != expect:
        fail(f"{' '.join(args)}: exit {done.returncode}, not {expect}: {done.stderr}")
    return done


def scaled(data, gain, backwards=False):
    """16-bit samples times gain, saturated."""
    values = struct.unpack(f"<{len(data) // 2}h", data)
    return struct.pack(f"<{len(values)}h", *(max(-32768, min(32767, round(v * gain)))
                                           for v in (reversed(values) if backwards else values)))


def make_site(samples, site):
    shutil.rmtree(site, ignore_errors=True)
    os.makedirs(site)
    tx = open(os.path.join(samples, "tx.pcm"), "rb").read()
    rx = open(os.path.join(samples, "rx.pcm"), "rb").read()
    # loud: +9 dB, ERL 3 dB. noecho: Rx reversed and 12 dB down: no echo, yet the ERL gate
    # passes and the pass runs, so the residual line has figures that rest on nothing.
    for name, pair in {"good": (tx, rx), HOSTILE: (tx, rx), "swapped": (rx, tx), "short": (tx[:10], rx[:10]),
                       "loud": (tx, scaled(rx, 2.8184)), "noecho": (tx, scaled(rx, 0.25, True))}.items():
        for side, data in zip(("tx", "rx"), pair):
            with open(os.path.join(site, f"{name}_{side}.pcm"), "wb") as f:
                f.write(data)


def check_run_page(single):
    """The page of one run: its report rows, one picture per view, no script; a page without the
    picture module too, and a page that cannot be written fails the run."""
    # How many views a run draws: --plots writes each one's CSV, with or without the module.
    run(single + ["--plots", "plots-count"], None, BARE)
    views = len([f for f in os.listdir("plots-count") if f.endswith(".csv")]) if os.path.isdir("plots-count") else 0
    if views < 3:
        fail(f"--plots wrote {views} views' CSV files")
    lost = run(single + ["--html", "no-such-folder/p.html"], 1)
    if "--html: no-such-folder/p.html: cannot be written" not in lost.stderr:
        fail("a page that cannot be written is not reported: " + lost.stderr)
    run(single + ["--html", "run-bare.html"], 0, BARE)  # without the picture module, still a page
    done = run(single + ["--html", "run.html"], 0)
    page, text = read_page("run.html")
    version = run([single[0], "--version"], 0).stdout.split()[-1]
    if f"tarnwell-cli {version}" not in text:
        fail("run.html: no version " + version)
    words = " ".join(" ".join(page.text).split())
    # The report's rows, as the terminal prints them, are in the page.
    rows = [row.groups() for row in (re.match(r"(\S.*?)\s{2,}(\S.*)$", line) for line in done.stdout.splitlines()) if row]
    for label, value in rows:
        if f"{label} {value}" not in words:
            fail(f"run.html: the report row {label!r} does not show {value!r}")
    if len(rows) != 7:
        fail("run.html: the run printed not seven report rows")
    if sum(1 for tag, _ in page.elements if tag == "svg") != views:
        fail(f"run.html: not {views} views")
    if page.scripts:
        fail("run.html: a single run's page needs no script")
    return views


def check_site_page(cli, work):
    path = os.path.join(work, "site.html")
    lost = run([cli, "batch", "site", "--out-dir", "out", "-j", "1", "--html", "no-such-folder/p.html"], 1)
    if "tarnwell-cli batch: --html: no-such-folder/p.html: cannot be written" not in lost.stderr:
        fail("a site page that cannot be written is not reported: " + lost.stderr)
    run([cli, "batch", "site", "--out-dir", "out", "-j", "1", "--html", path], 1)
    summary = json.load(open("out/summary.json"))
    page, text = read_page(path)
    if re.search(r"<script>\s*alert", text, re.I):
        fail("site.html: the hostile port name is markup")
    if not any(HOSTILE in t for t in page.text):
        fail("site.html: the hostile port name is not shown as text")
    count = (f"{summary['ports']} ports: {summary['ok']} OK, {summary['check']} CHECK, "
             f"{summary['notMeasured']} NOT MEASURED, {summary['failed']} FAILED")
    if count not in page.text:
        fail(f"site.html: no count line {count!r}")
    rows = [a for tag, a in page.elements if tag == "tr" and "data-rank" in a]
    links = [a["href"] for tag, a in page.elements if tag == "a"]
    keys = [a["data-key"] for tag, a in page.elements if tag == "td" and "data-key" in a][::10]
    expected = [r["port"] for r in summary["rows"]]
    if keys != expected:
        fail(f"site.html: ports in the order {keys}, summary.json has {expected}")
    if [r["data-rank"] for r in rows] != [str(i) for i in range(len(expected))]:
        fail("site.html: ranks out of order")
    for i, port in enumerate(summary["rows"]):
        anchor = f"port-{i}"
        if f"#{anchor}" not in links or page.ids.get(anchor) != "section":
            fail(f"site.html: {port['port']} has no linked section")
        section = text[text.find(f'id="{anchor}"'):]
        section = section[:section.find("</section>")]
        for finding in port["findings"]:
            if finding["code"] not in section:
                fail(f"site.html: {port['port']}'s section lacks {finding['code']}")
    return path, summary


def check_print(path, ports):
    """Two sheets a port: the print style starts a sheet at each section and at its views, and
    keeps each view whole; and Chromium prints it so."""
    text = open(path, encoding="utf-8").read()
    style = text[text.find("@media print"):text.find("</style>")]
    for selector, rule in (("section.port", "break-before: *page"), ("div.views", "break-before: *page"),
                           ("figure.view", "break-inside: *avoid")):
        if not re.search(re.escape(selector) + r"\s*\{[^}]*" + rule, style):
            fail(f"{path}: the print style has no {rule} at {selector}")
    browser = chromium()
    if browser is None:
        return
    pdf = os.path.abspath(path + ".pdf")
    subprocess.run([browser, *browser_args("."), "--no-pdf-header-footer", "--print-to-pdf=" + pdf,
                    "file://" + os.path.abspath(path)], capture_output=True, timeout=120)
    pages = len(re.findall(rb"/Type\s*/Page(?!s)", open(pdf, "rb").read())) if os.path.exists(pdf) else 0
    # The table of ports on the first sheet (the site's few ports fit it), then two a port.
    if pages != 2 * ports + (1 if ports > 1 else 0):
        fail(f"{path}: printed on {pages} sheets for {ports} ports")


def check_compare(cli, summary):
    """The site against itself changes nothing; then good's Rx 6 dB louder, short gone and
    extra new."""
    same = run([cli, "batch", "site", "--out-dir", "out-same", "-j", "1", "--compare", "out"], 1)
    changes = json.load(open("out-same/summary.json"))["compare"]
    if [c["port"] for c in changes] != [r["port"] for r in summary["rows"]]:
        fail("compare: not every port matched by name")
    for c in changes:
        if c["change"] != "compared" or c["resultBefore"] != c["resultAfter"] or c["findingsGone"] or \
                c["findingsNew"] or any(c[k] not in (None, 0) for k in ("erlDelta", "cancellationDelta", "residualDelta")):
            fail(f"compare: the same site changed: {c}")
    for c, r in zip(changes, summary["rows"]):
        unmeasured = r["report"] is None or r["report"]["residual"] == "Not Available" or \
            r["verdicts"]["residual"] is None
        if unmeasured != (c["cancellationDelta"] is None) or unmeasured != (c["residualDelta"] is None):
            fail(f"compare: {r['port']}'s deltas are not null exactly when the report has no residual")
    if "Changes since out:" not in same.stdout:
        fail("compare: no table in the terminal")
    shutil.copytree("site", "site2", dirs_exist_ok=True)
    for side in ("tx", "rx"):
        os.remove(f"site2/short_{side}.pcm")
        shutil.copy(f"site/good_{side}.pcm", f"site2/extra_{side}.pcm")
    with open("site2/good_rx.pcm", "wb") as f:
        f.write(scaled(open("site/good_rx.pcm", "rb").read(), 1.99526))  # 6 dB louder
    run([cli, "batch", "site2", "--out-dir", "out2", "-j", "1", "--compare", "out/summary.json", "--html", "cmp.html"], 1)
    changes = {c["port"]: c for c in json.load(open("out2/summary.json"))["compare"]}
    if changes.get("short", {}).get("change") != "removed" or changes.get("extra", {}).get("change") != "new":
        fail(f"compare: short and extra not marked removed and new: {changes.get('short')} {changes.get('extra')}")
    erl = changes.get("good", {}).get("erlDelta")
    if not isinstance(erl, float) or abs(erl + 6.0) > 0.1:
        fail(f"compare: good's ERL moved by {erl}, not -6 dB")
    csv_lines = open("out2/compare.csv").read().splitlines()
    if len(csv_lines) != 1 + len(changes) or not any(line.startswith("short,removed,") for line in csv_lines):
        fail("compare: compare.csv does not hold every port")
    page, text = read_page("cmp.html")
    if "Before and after: since out/summary.json" not in page.text or text.count("<td>removed</td>") != 1:
        fail("compare: the page has no before and after")


PROBE_HEAD = """<script>window.__errors = [];
window.addEventListener('error', function (e) { window.__errors.push(String(e.message)); });
console.error = function () { window.__errors.push(Array.prototype.join.call(arguments, ' ')); };
</script>"""

# Sorts the table by ERL (twice), Port and Result, each order read back by the ports' keys.
PROBE_END = """<script>window.addEventListener('load', function () {
  var table = document.getElementById('ports'), buttons = table.tHead.querySelectorAll('button');
  function order() { return Array.from(table.tBodies[0].rows, function (r) { return r.cells[0].getAttribute('data-key'); }); }
  function click(name) { buttons.forEach(function (b) { if (b.textContent === name) { b.click(); } }); return order(); }
  var out = {buttons: buttons.length, initial: order(), erlUp: click('ERL'), erlDown: click('ERL'), port: click('Port'),
             result: click('Result'), errors: window.__errors,
             svgs: document.querySelectorAll('figure.view svg').length};
  var pre = document.createElement('pre');
  pre.id = 'probe';
  pre.textContent = JSON.stringify(out);
  document.body.appendChild(pre);
});</script>"""


def chromium():
    return shutil.which("chromium") or shutil.which("chromium-browser")


def browser_args(work):
    # Offline: any request the page made would fail and show on the console.
    return ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--hide-scrollbars",
            "--user-data-dir=" + os.path.abspath(os.path.join(work, "chromium-profile")), "--proxy-server=127.0.0.1:9",
            "--host-resolver-rules=MAP * ~NOTFOUND", "--enable-logging=stderr", "--v=0"]


def check_in_browser(page_path, summary, work, screenshot, views):
    browser = chromium()
    if browser is None:
        fail("chromium not found: scripts/install-deps.sh --test installs it")
        return
    text = open(page_path, encoding="utf-8").read()
    probe = os.path.join(work, "probe.html")
    with open(probe, "w", encoding="utf-8") as f:
        f.write(text.replace("<head>", "<head>" + PROBE_HEAD, 1).replace("</body>", PROBE_END + "</body>", 1))
    done = subprocess.run([browser, *browser_args(work), "--virtual-time-budget=10000", "--dump-dom",
                           "file://" + os.path.abspath(probe)], capture_output=True, text=True, timeout=120)
    console = [line for line in done.stderr.splitlines() if ":CONSOLE(" in line]
    if console:
        fail("the console said: " + " | ".join(console))
    found = re.search(r'<pre id="probe">(.*?)</pre>', done.stdout, re.S)
    if not found:
        fail("the page did not render (no probe): " + done.stderr[-2000:])
        return
    out = json.loads(html.unescape(found.group(1)))
    if out["errors"]:
        fail(f"script errors: {out['errors']}")
    rows, names = summary["rows"], [r["port"] for r in summary["rows"]]
    if out["buttons"] != 10 or out["initial"] != names or out["result"] != names:
        fail(f"worst first before and after sorting by Result: {out['initial']}, {out['result']}")
    # A click sorts by ERL, ports without one last, ties in worst-first order; a second
    # click reverses the measured ones.
    measured = [(r["results"]["erl"], i) for i, r in enumerate(rows) if r["report"] is not None]
    unmeasured = [names[i] for i, r in enumerate(rows) if r["report"] is None]
    up = [names[i] for _, i in sorted(measured)] + unmeasured
    down = [names[i] for _, i in sorted(measured, key=lambda m: (-m[0], m[1]))] + unmeasured
    if out["erlUp"] != up or out["erlDown"] != down:
        fail(f"ERL order {out['erlUp']} / {out['erlDown']}, expected {up} / {down}")
    if out["port"] != sorted(names):
        fail(f"port order {out['port']}")
    if out["svgs"] != views * len(rows):
        fail(f"{out['svgs']} views drawn for {len(rows)} ports")
    if screenshot:
        subprocess.run([browser, *browser_args(work), "--window-size=1280,900", "--screenshot=" + screenshot,
                        "file://" + os.path.abspath(page_path)], capture_output=True, timeout=120)


def main():
    args = sys.argv[1:]
    if len(args) < 3:
        print(__doc__)
        return 2
    cli, samples, work = (os.path.abspath(a) for a in args[:3])
    screenshot = os.path.abspath(args[args.index("--screenshot") + 1]) if "--screenshot" in args else None
    os.makedirs(work, exist_ok=True)
    # From the work folder, so that the site page names its folders as a user would type them.
    os.chdir(work)
    work = "."
    make_site(samples, "site")
    views = check_run_page([cli, "--tx", os.path.join(samples, "tx.pcm"), "--rx", os.path.join(samples, "rx.pcm"),
                            "--out", "run.pcm"])
    page_path, summary = check_site_page(cli, work)
    check_print(page_path, len(summary["rows"]))
    check_print("run.html", 1)
    check_compare(cli, summary)
    if "--browser" in args:
        check_in_browser(page_path, summary, work, screenshot, views)
    print(f"{len(failures)} failures" if failures else "the pages hold")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
