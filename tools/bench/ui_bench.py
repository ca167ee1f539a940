#!/usr/bin/env python3
"""Benchmark rows of callpanel ui, measured in headless Chromium (chromedriver) inside the
private test network, on demand (not part of the tests):
    sudo tools/testnet.sh --panels 3 -- tools/bench/ui_bench.py build/cli/callpanel \\
        build/tools/callpanel-standin
- the page's first full list with 2,000 panels: from opening the page to its last row shown
  (the site already heard by callpanel), five loads, median and worst;
- a panel's change to the page: ten panels powered a second apart, from the moment callpanel
  heard each (the time the live stream gives) to its row shown, median and worst."""
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "e2e"))
import ui_browser_test as t  # noqa: E402  (the WebDriver client of the page's test)

PANELS = 2000


def main():
    cli, standin = sys.argv[1], sys.argv[2]
    panel_ns = os.environ["TESTNET_PANEL_NS"].split()
    work = tempfile.mkdtemp()
    started = []

    def spawn(args, out):
        p = subprocess.Popen(args, stdout=open(os.path.join(work, out), "w"),
                             stderr=subprocess.STDOUT)
        started.append(p)
        return p

    def read(name):
        with open(os.path.join(work, name), errors="replace") as f:
            return f.read()

    try:
        os.mkdir(os.path.join(work, "site"))
        # A stand-in emulates at most 1,000 panels, so two of them are started.
        for k in (0, 1):
            spawn(["ip", "netns", "exec", panel_ns[k], standin, "--exit-after", "900", "--panels",
                   str(PANELS // 2), "--base-ip", "10.83.%d.1" % (10 + 10 * k), "--subnet",
                   "255.255.0.0"], "standin%d.out" % k)
            t.wait_for(60, "stand-in %d did not start" % k,
                       lambda: "ready" in read("standin%d.out" % k))
        spawn([cli, "ui", os.path.join(work, "site"), "--no-browser"], "ui.out")
        url = t.wait_for(30, "no address", lambda: re.search(
            r"^callpanel: open (http://\S+)$", read("ui.out"), re.M))[1]
        start = time.monotonic()
        state = url.replace("/?key=", "/api/state?key=")
        t.wait_for(120, "callpanel did not hear every panel", lambda: urllib.request.urlopen(
            state).read().count(b'"online":true') == PANELS)
        heard_all = time.monotonic() - start
        spawn(["chromedriver", "--port=9518"], "chromedriver.out")
        t.wait_for(20, "no chromedriver", lambda: "successfully" in read("chromedriver.out"))
        driver = t.Driver(9518)
        driver.start(os.path.join(work, "profile"))
        rows = "return document.querySelectorAll('#panels tbody tr').length"
        loads = []
        for _ in range(5):
            driver.call("POST", "/url", {"url": "about:blank"})
            begin = time.monotonic()
            driver.call("POST", "/url", {"url": url})
            t.wait_for(120, "not every row shown", lambda: driver.js(rows) == PANELS)
            loads.append((time.monotonic() - begin) * 1000)
        # Each new panel: when callpanel heard it (the stream's first event with it) and when
        # its row was first in the page, both on this computer's clock.
        driver.js("""
            window.heardAt = {}; window.shownAt = {}; window.cameAt = {};
            const stream = new EventSource('/api/events');
            const came = (p) => {
              if (p.mac.startsWith('00:50:2A:0A') && !(p.mac in heardAt)) {
                heardAt[p.mac] = p.heard;
                cameAt[p.mac] = Date.now();
              }
            };
            // The state whole first, then only what changed: a new panel is a row added.
            stream.addEventListener('snapshot', (e) => JSON.parse(e.data).state.site.panels.forEach(came));
            stream.addEventListener('delta', (e) => {
              for (const op of JSON.parse(e.data).ops)
                if (op.path === '/site/panels/-') came(op.value);
            });
            new MutationObserver(() => {
              for (const r of document.querySelectorAll('#panels tbody tr[data-mac^="00:50:2A:0A"]'))
                if (!(r.dataset.mac in shownAt)) shownAt[r.dataset.mac] = Date.now();
            }).observe(document.querySelector('#panels tbody'), { childList: true });
            return 1""")
        spawn(["ip", "netns", "exec", panel_ns[2], standin, "--exit-after", "900", "--panels",
               "10", "--appear-every", "1", "--base-ip", "10.83.40.1", "--subnet", "255.255.0.0",
               "--mac", "00:50:2A:0A:00:01"], "standin2.out")
        t.wait_for(60, "the ten panels were not shown",
                   lambda: driver.js("return Object.keys(shownAt).length") == 10)
        heard = driver.js("return heardAt")
        shown = driver.js("return shownAt")
        came = driver.js("return cameAt")
        changes = [shown[m] - heard[m] for m in shown if m in heard]
        streamed = [came[m] - heard[m] for m in came]
        # Each row says which code it measured (a + after the commit: with changes not yet
        # committed), the day and the load, as run_bench.sh's rows do.
        root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
        commit = subprocess.run(["git", "-C", root, "rev-parse", "--short", "HEAD"],
                                capture_output=True, text=True).stdout.strip() or "no commit"
        if subprocess.run(["git", "-C", root, "diff", "--quiet", "HEAD", "--", ".",
                           ":!tools/bench/results.md"]).returncode != 0:
            commit += "+"
        with open("/proc/loadavg") as f:
            measured = "%s, %s; load %s" % (commit, time.strftime("%Y-%m-%d"), f.read().split()[0])
        print("| measure | result | measured |")
        print("|---|---|---|")
        print("| callpanel ui, %d panels: all heard by callpanel | %.0f ms after it started | %s |"
              % (PANELS, heard_all * 1000, measured))
        print("| callpanel ui, page's first full list, %d panels | last row shown %.0f ms after "
              "the page was opened (median of 5; worst %.0f ms) | %s |"
              % (PANELS, statistics.median(loads), max(loads), measured))
        print("| callpanel ui, a panel's change to the page (%d panels powered a second apart, "
              "%d on the site) | row shown %.0f ms after callpanel heard it (median; worst %.0f "
              "ms; in the page's hands %.0f ms after, median); searches every 250 ms | %s |"
              % (len(changes), PANELS, statistics.median(changes), max(changes),
                 statistics.median(streamed), measured))
        driver.call("DELETE", "")
    finally:
        for p in started:
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()


if __name__ == "__main__":
    main()
