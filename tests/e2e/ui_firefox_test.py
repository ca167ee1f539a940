#!/usr/bin/env python3
"""callpanel ui's page in Firefox ESR. Debian 12 has no WebDriver for Firefox, so the page is
taken as a headless screenshot (Firefox takes it once the page has loaded, and the page has
loaded only with the site drawn) inside the private test network with stand-in panels, and the
picture is judged: its size; the page's own look, not an error text or a blank; one green cell
per panel answering, which only the page's script draws, from the state it asks for with the
cookie that the address with the key set; the two panels in conflict lit as a site fault in
those rows. The terminal shows no request refused.
    ui_firefox_test.py CALLPANEL STANDIN [SCREENSHOT]
Run inside tools/testnet.sh --panels 2. Skipped (77) when not root or firefox-esr is missing.
Only the Python standard library: the PNG is inflated and unfiltered here."""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import urllib.request
import zlib

sys.dont_write_bytecode = True  # the import below leaves no cache in the source tree
from ui_browser_test import Scratch, end_run, fail, show_logs, wait_for  # noqa: E402

WIDTH, HEIGHT = 1280, 800
RULE = (0x2A, 0x6F, 0x97)    # the line under the page's header
ONLINE = (0xC9, 0xEC, 0xC4)  # the heard cell of a panel answering
FAULT = (0xFD, 0xE8, 0xE8)   # the cells of a panel in a site fault

# A profile that starts no talk of its own: no proxy, no portal or connection probe, no reports.
PREFS = {
    "network.proxy.type": 0,
    "network.trr.mode": 5,
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
    "browser.shell.checkDefaultBrowser": False,
    "datareporting.policy.dataSubmissionEnabled": False,
    "toolkit.telemetry.enabled": False,
    "app.update.enabled": False,
}


def unfilter(kind, line, prior, step):
    """One PNG scanline's bytes undone from their filter (type 0 to 4)."""
    if kind == 0:
        return line
    if kind == 2:
        return bytearray((a + b) & 255 for a, b in zip(line, prior))
    for i in range(len(line)):
        left = line[i - step] if i >= step else 0
        if kind == 1:
            line[i] = (line[i] + left) & 255
        elif kind == 3:
            line[i] = (line[i] + (left + prior[i]) // 2) & 255
        else:
            corner = prior[i - step] if i >= step else 0
            p = left + prior[i] - corner
            pa, pb, pc = abs(p - left), abs(p - prior[i]), abs(p - corner)
            line[i] = (line[i] + (left if pa <= pb and pa <= pc else
                                  prior[i] if pb <= pc else corner)) & 255
    return line


def read_png(path):
    """(width, height, rows): each row the set of its pixels' RGB colours."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail("not a PNG: %s" % path)
    at, packed, head = 8, b"", None
    while at + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IHDR":
            head = struct.unpack(">IIBBBBB", data[at + 8:at + 21])
        elif kind == b"IDAT":
            packed += data[at + 8:at + 8 + length]
        at += 12 + length
    width, height, depth, colour, _, _, interlace = head
    if depth != 8 or colour not in (2, 6) or interlace:
        fail("a PNG this test does not read: depth %d, colour type %d" % (depth, colour))
    step = 4 if colour == 6 else 3
    raw, stride = zlib.decompress(packed), width * step + 1
    rows, prior = [], bytearray(width * step)
    for y in range(height):
        line = unfilter(raw[y * stride], bytearray(raw[y * stride + 1:(y + 1) * stride]),
                        prior, step)
        rows.append({bytes(line[x:x + 3]) for x in range(0, len(line), step)})
        prior = line
    return width, height, rows


def bands(rows, colour):
    """The runs of image rows in which `colour` shows, as [first, last]."""
    runs, key = [], bytes(colour)
    for y, row in enumerate(rows):
        if key in row:
            if runs and runs[-1][1] == y - 1:
                runs[-1][1] = y
            else:
                runs.append([y, y])
    return runs


def screenshot(url, work, out):
    """The page at `url` as Firefox draws it, headless, with a profile and home of its own."""
    profile, home = os.path.join(work, "profile"), os.path.join(work, "home")
    os.makedirs(profile)
    os.makedirs(home)
    with open(os.path.join(profile, "user.js"), "w") as f:
        for name, value in PREFS.items():
            f.write("user_pref(%s, %s);\n" % (json.dumps(name), json.dumps(value)))
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(HOME=home, MOZ_CRASHREPORTER_DISABLE="1", XDG_CACHE_HOME=os.path.join(home, "c"))
    with open(os.path.join(work, "firefox.out"), "w") as log:
        code = subprocess.run(["firefox-esr", "--headless", "-no-remote", "-profile", profile,
                               "--screenshot", out, "--window-size=%d,%d" % (WIDTH, HEIGHT), url],
                              env=env, stdout=log, stderr=subprocess.STDOUT, timeout=240).returncode
    if code != 0 or not os.path.exists(out):
        fail("firefox-esr exit %d, no screenshot" % code)


def main():
    if len(sys.argv) < 3:
        fail("usage: ui_firefox_test.py CALLPANEL STANDIN [SCREENSHOT]")
    cli, standin = sys.argv[1], sys.argv[2]
    if os.geteuid() != 0:
        print("SKIP: needs root for the private test network", file=sys.stderr)
        sys.exit(77)
    if not shutil.which("firefox-esr"):
        print("SKIP: firefox-esr is missing (scripts/setup.sh test)", file=sys.stderr)
        sys.exit(77)
    if not os.environ.get("TESTNET_TOOL_NS"):
        fail("not inside tools/testnet.sh")
    panel_ns = os.environ["TESTNET_PANEL_NS"].split()
    scratch = Scratch()
    work, started, spawn, read = scratch.work, scratch.started, scratch.spawn, scratch.read

    try:
        os.environ["XDG_STATE_HOME"] = os.path.join(work, "state")
        site = os.path.join(work, "Block A")
        os.mkdir(site)
        # One panel, and two alike (one IP and one call address between them): site faults.
        spawn(["ip", "netns", "exec", panel_ns[0], standin, "--exit-after", "600"], "s0.out")
        spawn(["ip", "netns", "exec", panel_ns[1], standin, "--exit-after", "600", "--alike",
               "--panels", "2"], "s1.out")
        spawn([cli, "ui", site, "--no-browser"], "ui.out", open(os.path.join(work, "ui.err"), "w"))
        url = wait_for(90, "ui printed no address", lambda: re.search(
            r"^callpanel: open (http://127\.0\.0\.1:\d+/\?key=[0-9a-f]{32})$", read("ui.out"),
            re.M))[1]

        def heard():
            with urllib.request.urlopen(url.replace("/?key=", "/api/state?key="), timeout=30) as r:
                state = json.load(r)["site"]
            return (sum(p["online"] for p in state["panels"]) == 3 and
                    sum(len(f["macs"]) > 1 for f in state["faults"]) > 0)
        wait_for(60, "callpanel did not hear three panels and their fault", heard)

        shot = sys.argv[3] if len(sys.argv) > 3 else os.path.join(work, "firefox.png")
        screenshot(url, work, shot)
        width, height, rows = read_png(shot)
        if (width, height) != (WIDTH, HEIGHT):
            fail("screenshot %dx%d, not %dx%d" % (width, height, WIDTH, HEIGHT))
        if not bands(rows, RULE):
            fail("the screenshot is not the page (no header rule)")
        online, faults = bands(rows, ONLINE), bands(rows, FAULT)
        if len(online) != 3:
            fail("panels shown online in Firefox: %d, not 3 (%s)" % (len(online), online))
        if faults != online[1:]:
            fail("the two panels in conflict are not lit: %s in rows %s" % (faults, online))
        if "refused" in read("ui.err"):
            fail("the server refused a request of Firefox")
        print("PASS")
    except SystemExit:
        show_logs(work, ("ui.out", "ui.err", "firefox.out"))
        raise
    finally:
        end_run(started, work)


if __name__ == "__main__":
    main()
