#!/usr/bin/env python3
"""callpanel ui driven in headless Chromium through chromedriver (WebDriver), inside the private
test network with stand-in panels: the page opens by the printed address, lists the site, shows
a panel powered meanwhile without a reload, sorts IP addresses as numbers, checks the site
against the folder's plan and writes the report into a new tab; a batch change shown as its dry
run, applied and undone; a schedule uploaded and assigned to new panels powered two at once
(none taken until the person says which came first) and then alone, the page reloaded, Stop,
the loss and lateness shown while it runs; the address plan drawn as panels come and go; panels
switched off shown as gone; a panel changed from elsewhere shows its new value, and a page whose
stream was cut while the site changed shows the true list once back, both without a reload; the
view-only page offers no action.
    ui_browser_test.py CALLPANEL STANDIN [SCREENSHOT_FOLDER]
Run inside tools/testnet.sh --panels 3. With UI_LAUNCHER=wine, CALLPANEL is callpanel.exe run
under the wine prefix the caller made (tests/e2e/ui_wine_test.sh); wine passes no Ctrl+C by
signal, so the program is ended otherwise there. Only the Python standard library: WebDriver is JSON over
HTTP."""
import base64
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

ELEMENT = "element-6066-11e4-a52e-4f735466cecf"


def fail(text):
    print("FAIL: " + text, file=sys.stderr)
    sys.exit(1)


def wait_for(seconds, what, test):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = test()
        if value:
            return value
        time.sleep(0.1)
    fail(what)


class Scratch:
    """A run's folder and the processes it started, each writing into a file of the folder."""

    def __init__(self):
        self.work = tempfile.mkdtemp()
        self.started = []

    def spawn(self, args, out, err=subprocess.STDOUT):
        process = subprocess.Popen(args, stdout=open(os.path.join(self.work, out), "w"),
                                   stderr=err)
        self.started.append(process)
        return process

    def read(self, name):
        with open(os.path.join(self.work, name), errors="replace") as f:
            return f.read()


def show_logs(work, names):
    """The tails of a failed run's logs, for the test's output."""
    for name in names:
        path = os.path.join(work, name)
        if os.path.exists(path):
            with open(path, errors="replace") as log:
                print("--- " + name + "\n" + log.read()[-3000:], file=sys.stderr)


def end_run(started, work):
    """Ends the processes a run started, by their own handles, and removes its folder."""
    for process in started:
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
    shutil.rmtree(work, ignore_errors=True)


class Driver:
    def __init__(self, port):
        self.base = "http://127.0.0.1:%d" % port
        self.session = None

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        prefix = "" if self.session is None else "/session/" + self.session
        request = urllib.request.Request(self.base + prefix + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=60) as answer:
                return json.load(answer)["value"]
        except urllib.error.HTTPError as e:
            fail("WebDriver %s %s: %s" % (method, path, e.read()[:500]))

    def start(self, profile):
        options = {"binary": shutil.which("chromium") or "/usr/bin/chromium",
                   "args": ["--headless=new", "--no-sandbox", "--disable-gpu",
                            "--disable-background-networking", "--disable-component-update",
                            "--disable-sync", "--no-first-run", "--no-default-browser-check",
                            "--window-size=1400,1000", "--user-data-dir=" + profile]}
        value = self.call("POST", "/session", {"capabilities": {"alwaysMatch": {
            "browserName": "chrome", "goog:chromeOptions": options}}})
        self.session = value["sessionId"]

    def js(self, script, *args):
        return self.call("POST", "/execute/sync", {"script": script, "args": list(args)})

    def find(self, css):
        element = self.call("POST", "/element", {"using": "css selector", "value": css})
        if ELEMENT not in element:
            fail("no element %s: %s" % (css, element))
        return element[ELEMENT]

    def click(self, css):
        # A part of the page redrawn between the find and the click is found again.
        for attempt in range(5):
            element = self.find(css)
            request = urllib.request.Request(
                "%s/session/%s/element/%s/click" % (self.base, self.session, element),
                data=b"{}", method="POST", headers={"Content-Type": "application/json"})
            try:
                with urllib.request.urlopen(request, timeout=60):
                    return
            except urllib.error.HTTPError as e:
                answer = e.read()
                if b"stale element" not in answer or attempt == 4:
                    fail("WebDriver click %s: %s" % (css, answer[:500]))
            time.sleep(0.2)

    def type(self, css, text):
        self.call("POST", "/element/%s/value" % self.find(css), {"text": text})

    def screenshot(self, path):
        with open(path, "wb") as out:
            out.write(base64.b64decode(self.call("GET", "/screenshot")))


def main():
    if len(sys.argv) < 3:
        fail("usage: ui_browser_test.py CALLPANEL STANDIN [SCREENSHOT_FOLDER]")
    cli, standin = sys.argv[1], sys.argv[2]
    shots = sys.argv[3] if len(sys.argv) > 3 else None
    if os.geteuid() != 0:
        print("SKIP: needs root for the private test network", file=sys.stderr)
        sys.exit(77)
    if not os.environ.get("TESTNET_TOOL_NS"):
        fail("not inside tools/testnet.sh")
    here = subprocess.run(["ip", "netns", "identify", str(os.getpid())], capture_output=True,
                          text=True).stdout.strip()
    if here != os.environ["TESTNET_TOOL_NS"]:
        fail("not in the test network's tool namespace")
    if not shutil.which("chromedriver"):
        fail("chromedriver is missing (scripts/setup.sh test)")
    panel_ns = os.environ["TESTNET_PANEL_NS"].split()
    tool_ip = os.environ["TESTNET_TOOL_IP"]
    scratch = Scratch()
    work, started, read = scratch.work, scratch.started, scratch.read

    def spawn(args, out):
        # callpanel's own messages go apart from the page's address it prints.
        return scratch.spawn(args, out, subprocess.STDOUT if out != "ui.out" else
                             open(os.path.join(work, "ui.err"), "w"))

    try:
        os.environ["XDG_STATE_HOME"] = os.path.join(work, "state")
        site = os.path.join(work, "Block A")
        os.mkdir(site)
        # Two panels whose IPs sort differently as text and as numbers.
        first = spawn(["ip", "netns", "exec", panel_ns[0], standin, "--exit-after", "600", "--ip",
                       "10.83.0.100", "--mac", "00:50:2A:07:01:00"], "standin0.out")
        wait_for(20, "stand-in 0 did not start", lambda: "ready" in read("standin0.out"))
        with open(os.path.join(site, "plan.csv"), "w") as plan:
            plan.write("mac,ip,# location\n00:50:2A:07:01:00,10.83.0.100,Entrance\n")
        launcher = os.environ.get("UI_LAUNCHER", "").split()
        ui = spawn(launcher + [cli, "ui", site, "--no-browser", "--listen", tool_ip + ":18432"], "ui.out")
        url = wait_for(90, "ui printed no address", lambda: re.search(
            r"^callpanel: open (http://127\.0\.0\.1:\d+/\?key=[0-9a-f]{32})$", read("ui.out"),
            re.M))[1]
        view_url = wait_for(5, "no view-only address", lambda: re.search(
            r"^callpanel: view-only page for a phone: (http://\S+)$", read("ui.out"), re.M))[1]

        driver_port = 9517
        spawn(["chromedriver", "--port=%d" % driver_port], "chromedriver.out")
        wait_for(20, "chromedriver did not start", lambda: "successfully" in read(
            "chromedriver.out"))
        driver = Driver(driver_port)
        driver.start(os.path.join(work, "profile"))

        driver.call("POST", "/url", {"url": url})
        rows = "return [...document.querySelectorAll('#panels tbody tr')].map(r => r.dataset.mac)"
        wait_for(20, "the first panel is not listed",
                 lambda: driver.js(rows) == ["00:50:2A:07:01:00"])
        if "key=" in driver.js("return location.href"):
            fail("the key stays in the address bar")
        # The report's address plan of the panels present, drawn from the live site.
        picture = ("return [...document.querySelectorAll('#address-grids rect[data-kind]')]"
                   ".map(r => r.closest('.grid').dataset.block.replace('0/24', '') + "
                   "r.dataset.last).sort()")
        wait_for(20, "the address plan lacks the panel",
                 lambda: driver.js(picture) == ["10.83.0.100"])

        # A panel powered while the page is open shows without a reload.
        marker = driver.js("window.notReloaded = 1; return 1")
        spawn(["ip", "netns", "exec", panel_ns[1], standin, "--exit-after", "600", "--ip",
               "10.83.0.9", "--mac", "00:50:2A:07:00:09"], "standin1.out")
        wait_for(20, "the new panel did not appear",
                 lambda: len(driver.js(rows)) == 2)
        if driver.js("return window.notReloaded") != marker:
            fail("the page was reloaded")
        wait_for(20, "the address plan lacks the new panel",
                 lambda: driver.js(picture) == ["10.83.0.100", "10.83.0.9"])
        # IP addresses sort as numbers: 10.83.0.9 before 10.83.0.100 (the page's first order).
        if driver.js(rows) != ["00:50:2A:07:00:09", "00:50:2A:07:01:00"]:
            fail("IP order: %s" % driver.js(rows))
        driver.click('#panels thead button[data-sort="ip"]')
        if driver.js(rows) != ["00:50:2A:07:01:00", "00:50:2A:07:00:09"]:
            fail("IP order descending: %s" % driver.js(rows))
        driver.js("document.getElementById('filter').value = '07:00:09';"
                  "document.getElementById('filter').dispatchEvent(new Event('input'))")
        if driver.js(rows) != ["00:50:2A:07:00:09"]:
            fail("filter: %s" % driver.js(rows))
        driver.js("document.getElementById('filter').value = '';"
                  "document.getElementById('filter').dispatchEvent(new Event('input'))")
        if shots:
            driver.screenshot(os.path.join(shots, "ui-site.png"))

        # Check against the folder's only plan: one row as planned, one panel extra.
        wait_for(10, "the plan is not offered",
                 lambda: driver.js("return document.getElementById('check-plan').value")
                 == "plan.csv")
        driver.click("#check-run")
        results = ("return [...document.querySelectorAll('#check-results tbody tr')]"
                   ".map(r => r.cells[0].textContent + ' ' + r.cells[1].textContent)")
        wait_for(30, "no check result", lambda: driver.js(results))
        if sorted(driver.js(results)) != ["00:50:2A:07:00:09 extra",
                                          "00:50:2A:07:01:00 as planned"]:
            fail("check: %s" % driver.js(results))
        if shots:
            driver.js("document.getElementById('check').scrollIntoView()")
            driver.screenshot(os.path.join(shots, "ui-check.png"))

        # The report is written into the folder and opens in a tab of its own.
        driver.click("#report-run")
        wait_for(30, "no report in the folder",
                 lambda: [n for n in os.listdir(site) if n.startswith("report-")])
        handles = wait_for(20, "no tab for the report",
                           lambda: len(driver.call("GET", "/window/handles")) == 2 and
                           driver.call("GET", "/window/handles"))
        main = driver.call("GET", "/window")
        driver.call("POST", "/window", {"handle": [h for h in handles if h != main][0]})
        wait_for(20, "the report tab shows no report", lambda: "00:50:2A:07:00:09" in driver.js(
            "return document.body ? document.body.innerText : ''"))
        driver.call("DELETE", "/window")
        driver.call("POST", "/window", {"handle": main})
        log = driver.js("return document.getElementById('log').innerText")
        for said in ("check plan.csv: 1 as planned, 0 differs, 0 missing, 1 extra", "report: report-"):
            if said not in log or said not in read("ui.err"):
                fail("not in the page's log and on the terminal: " + said)

        # Batch change: both panels, IPs counting up from 10.83.2.1 and unlocking time 7; the
        # mask is not ticked and stays.
        ips = ("return [...document.querySelectorAll('#panels tbody tr.online')]"
               ".map(r => r.dataset.mac + ' ' + r.dataset.ip).sort()")
        driver.click('#panels thead button[data-sort="ip"]')  # ascending again: the order given
        driver.click("#select-all")
        driver.click("#batch-ip-on")
        driver.type("#batch-ip", "10.83.2.1")
        driver.click("#batch-unlock-on")
        driver.type("#batch-unlock", "7")
        driver.click("#batch-mask-on")
        driver.click("#batch-mask-on")
        driver.click("#batch-run")
        changes = ("return [...document.querySelectorAll('#apply-results tbody tr')]"
                   ".map(r => [...r.cells].map(c => c.textContent).join(' '))")
        wait_for(30, "no dry run", lambda: len(driver.js(changes)) == 4)
        expected = sorted(["00:50:2A:07:00:09 to write ip 10.83.0.9 10.83.2.1",
                           "00:50:2A:07:00:09 to write unlock 5 7",
                           "00:50:2A:07:01:00 to write ip 10.83.0.100 10.83.2.2",
                           "00:50:2A:07:01:00 to write unlock 5 7"])
        if sorted(driver.js(changes)) != expected:
            fail("dry run: %s" % driver.js(changes))
        if [n for n in os.listdir(site) if n.startswith("undo-")]:
            fail("the dry run saved an undo plan")
        if shots:
            driver.js("document.getElementById('batch').scrollIntoView()")
            driver.screenshot(os.path.join(shots, "ui-batch.png"))
        driver.click("#apply-run")
        wait_for(60, "the batch change was not verified", lambda: sorted(driver.js(changes)) == [
            "00:50:2A:07:00:09 verified   ", "00:50:2A:07:01:00 verified   "])
        undo = [n for n in os.listdir(site) if n.startswith("undo-")]
        if len(undo) != 1:
            fail("undo plans in the folder: %s" % os.listdir(site))
        wait_for(20, "the new IPs are not listed", lambda: driver.js(ips) == [
            "00:50:2A:07:00:09 10.83.2.1", "00:50:2A:07:01:00 10.83.2.2"])

        # Undo: the newest undo plan, shown as its dry run, written after the confirmation.
        driver.click("#undo-run")
        wait_for(30, "no undo dry run", lambda: len(driver.js(changes)) == 4 and
                 all(" to write " in c for c in driver.js(changes)))
        driver.click("#apply-run")
        driver.call("POST", "/alert/accept", {})
        wait_for(60, "the undo was not verified", lambda: sorted(driver.js(changes)) == [
            "00:50:2A:07:00:09 verified   ", "00:50:2A:07:01:00 verified   "])
        wait_for(20, "the old IPs are not back", lambda: driver.js(ips) == [
            "00:50:2A:07:00:09 10.83.0.9", "00:50:2A:07:01:00 10.83.0.100"])
        # The undo plans listed newest first (the undo's own, then the batch change's), the
        # newest ticked; the other ticked by the keyboard keeps the focus.
        ticks = ("return [...document.querySelectorAll('#undo-plans input')]"
                 ".map(b => b.checked + (b === document.activeElement ? ' focused' : ''))")
        wait_for(10, "not the newest of two ticked", lambda: driver.js(ticks) == ["true", "false"])
        driver.type("#undo-plans li:nth-child(2) input", " ")
        wait_for(10, "not ticked by the keyboard", lambda: driver.js(ticks) == ["true", "true focused"])

        # A schedule uploaded and assigned: two new panels at once take nothing until the person
        # says which was powered first, which takes row 1, and the other row 2; a third powered
        # alone takes row 3; Stop ends it with row 4 left.
        with open(os.path.join(work, "schedule.csv"), "w") as schedule:
            schedule.write("# location,type,address,facility,ip,mask,gateway,server,unlock\n")
            for n in (1, 2, 3, 4):
                schedule.write("Flat %d,flat,0%d01000011,0,10.83.1.%d,255.255.0.0,10.83.0.1,"
                               "10.83.0.254,7\n" % (n, n, n))
        driver.type("#schedule-upload", os.path.join(work, "schedule.csv"))
        wait_for(10, "the upload is not in the folder",
                 lambda: os.path.exists(os.path.join(site, "schedule.csv")))
        wait_for(10, "the schedule is not offered", lambda: driver.js(
            "return document.getElementById('assign-schedule').value") == "schedule.csv")
        factory = ["--alike", "--ip", "192.168.1.100", "--identity", "H00000000010"]
        together = spawn(["ip", "netns", "exec", panel_ns[1], standin, "--exit-after", "600",
                          "--panels", "2", "--mac", "00:50:2A:01:00:01"] + factory,
                         "standin-together.out")
        wait_for(20, "factory stand-ins did not start", lambda: "ready" in read(
            "standin-together.out"))
        driver.click("#assign-run")
        states = ("return [...document.querySelectorAll('#assign-rows tbody tr')]"
                  ".map(r => r.cells[4].textContent + ' ' + r.cells[5].textContent)")
        wait_for(30, "panels at once not shown", lambda: "00:50:2A:01:00:01, 00:50:2A:01:00:02" in
                 driver.js("return document.getElementById('assign-together').textContent"))
        # The loss and lateness as they are measured, while the assign runs, in the words the
        # terminal shows.
        wait_for(20, "no loss and lateness while the assign runs", lambda: re.search(
            r"^about \d+ % of replies lost, up to \d+ ms late$",
            driver.js("return document.getElementById('assign-heard').textContent")))
        if "assign: about " not in read("ui.err"):
            fail("the loss and lateness measured are not on the terminal")
        time.sleep(1)  # rounds that could wrongly take one of them
        if driver.js(states) != [" waiting"] * 4 or "write for" in read("standin-together.out"):
            fail("panels at once were assigned: %s" % driver.js(states))
        if shots:
            driver.js("document.getElementById('schedule').scrollIntoView()")
            driver.screenshot(os.path.join(shots, "ui-together.png"))
        driver.click('#assign-together button[data-take="00:50:2A:01:00:02"]')
        wait_for(60, "the panel said first did not take row 1, the other row 2",
                 lambda: driver.js(states) == ["00:50:2A:01:00:02 verified",
                                               "00:50:2A:01:00:01 verified", " waiting",
                                               " waiting"])
        spawn(["ip", "netns", "exec", panel_ns[2], standin, "--exit-after", "600",
               "--mac", "00:50:2A:01:00:11"] + factory, "standin-alone.out")
        wait_for(60, "row 3 was not assigned", lambda: driver.js(states)[2:] == [
            "00:50:2A:01:00:11 verified", " waiting"])
        if shots:
            driver.js("document.getElementById('schedule').scrollIntoView()")
            driver.screenshot(os.path.join(shots, "ui-assign.png"))
        # Closing or reloading the tab ends nothing: the page shows the work as it stands, by
        # the cookie alone (the key has left the address).
        driver.call("POST", "/refresh", {})
        wait_for(20, "the reloaded page lacks the rows", lambda: driver.js(states) == [
            "00:50:2A:01:00:02 verified", "00:50:2A:01:00:01 verified",
            "00:50:2A:01:00:11 verified", " waiting"])
        driver.click("#assign-stop")
        wait_for(30, "Stop did not end the assign", lambda: "assign stopped" in read("ui.err"))
        with open(os.path.join(site, "schedule-as-built.csv")) as built:
            macs = [line.split(",")[0] for line in built.read().splitlines()[1:]]
        if macs != ["00:50:2A:01:00:02", "00:50:2A:01:00:01", "00:50:2A:01:00:11", ""]:
            fail("as-built plan: %s" % macs)
        # Panels switched off show as gone, without a reload.
        together.terminate()
        together.wait(10)
        gone = ("return [...document.querySelectorAll('#panels tbody tr.gone')]"
                ".map(r => r.dataset.mac).sort()")
        wait_for(30, "the panels switched off do not show as gone",
                 lambda: driver.js(gone) == ["00:50:2A:01:00:01", "00:50:2A:01:00:02"])
        wait_for(20, "the address plan keeps the panels switched off", lambda: driver.js(
            picture) == ["10.83.0.100", "10.83.0.9", "10.83.1.3"])

        # A panel changed from elsewhere (a second stand-in takes its place with another unlocking
        # time) shows its new value in its own row, without a reload.
        def row_of(mac):
            return driver.js("return [...document.querySelectorAll('#panels tbody tr')]"
                             ".filter(r => r.dataset.mac === arguments[0])"
                             ".map(r => r.className.split(' ')[0] + ' ' + r.cells[8].textContent)", mac)
        marker = driver.js("window.notReloaded = 2; return 2")
        first.terminate()
        first.wait(10)
        second = spawn(["ip", "netns", "exec", panel_ns[0], standin, "--exit-after", "600", "--ip",
                        "10.83.0.100", "--mac", "00:50:2A:07:01:00", "--unlock", "9"],
                       "standin0-changed.out")
        wait_for(20, "the changed panel does not show its new value",
                 lambda: row_of("00:50:2A:07:01:00") == ["online 9"])
        # A page cut off (its connections to callpanel closed, new ones refused) while a panel
        # appears and another goes: once the way is open again its stream resumes from the last
        # event it had, and the list is the site's. Only in the tool namespace (checked above).
        port = re.search(r":(\d+)/", url)[1]

        def cut(closed):
            if closed:
                subprocess.run(["nft", "-f", "-"], check=True, text=True, input=(
                    "table inet uicut {\n chain input {\n type filter hook input priority 0;\n"
                    " tcp dport %s tcp flags & (syn | ack) == syn reject with tcp reset\n }\n}\n"
                    % port))
                subprocess.run(["ss", "-K", "dst", "127.0.0.1", "dport", "=", ":" + port],
                               check=True, capture_output=True)
            else:
                subprocess.run(["nft", "delete", "table", "inet", "uicut"], check=True)
        cut(True)
        wait_for(20, "the page kept its stream", lambda: driver.js("return stream.readyState") != 1)
        second.terminate()
        second.wait(10)
        spawn(["ip", "netns", "exec", panel_ns[0], standin, "--exit-after", "600", "--ip",
               "10.83.0.33", "--mac", "00:50:2A:07:00:33"], "standin0-new.out")
        # The site as callpanel holds it, asked of the view-only listener: the page's is shut.
        state_url = view_url.replace("/?key=", "/api/state?key=")

        def heard():
            panels = json.load(urllib.request.urlopen(state_url, timeout=10))["site"]["panels"]
            return {p["mac"]: p["online"] for p in panels}
        wait_for(30, "callpanel did not hear the change", lambda: heard().get(
            "00:50:2A:07:00:33") and heard().get("00:50:2A:07:01:00") is False)
        if row_of("00:50:2A:07:00:33") or row_of("00:50:2A:07:01:00") != ["online 9"]:
            fail("the page changed while offline")
        cut(False)
        wait_for(30, "the page back online does not show the site as it is", lambda: (
            row_of("00:50:2A:07:00:33"), row_of("00:50:2A:07:01:00")) == (["online 5"], ["gone 9"]))
        if driver.js("return window.notReloaded") != marker:
            fail("the page was reloaded")

        # The view-only page: the site live, no action.
        driver.call("POST", "/url", {"url": view_url})
        wait_for(20, "view-only: no panels", lambda: len(driver.js(rows)) >= 2)
        if driver.js("return getComputedStyle(document.getElementById('check-form')).display") != "none":
            fail("the view-only page offers the check")
        if sorted(driver.js(results)) != ["00:50:2A:07:00:09 extra",
                                          "00:50:2A:07:01:00 as planned"]:
            fail("the view-only page lacks the check: %s" % driver.js(results))
        if driver.js(states)[:3] != ["00:50:2A:01:00:02 verified", "00:50:2A:01:00:01 verified",
                                     "00:50:2A:01:00:11 verified"]:
            fail("the view-only page lacks the schedule's rows: %s" % driver.js(states))
        if shots:
            driver.call("POST", "/window/rect", {"width": 420, "height": 800})
            driver.screenshot(os.path.join(shots, "ui-phone.png"))
        driver.call("DELETE", "")
        if not launcher:
            ui.send_signal(signal.SIGINT)
            if ui.wait(30) != 130:
                fail("Ctrl+C: exit %d" % ui.returncode)
        print("PASS")
    except SystemExit:
        show_logs(work, ("ui.out", "ui.err", "chromedriver.out"))
        raise
    finally:
        end_run(started, work)


if __name__ == "__main__":
    main()
