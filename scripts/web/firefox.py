"""Drives the web page in Debian's Firefox ESR under the harness's Xvfb and sound server (see
scripts/web-test, which runs it inside scripts/headless): PAGE_DIR OUT. Debian packages no
geckodriver, so the browser is driven through its own remote protocol, Marionette (JSON
commands over a loopback socket, the protocol geckodriver itself speaks). Exits 0 when every
check holds, 1 with the failed checks, 2 when the browser cannot be driven at all."""
import base64
import io
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from PIL import Image, ImageChops  # Debian's python3-pil

PAGE, OUT = sys.argv[1:3]
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ELEMENT = "element-6066-11e4-a52e-4f735466cecf"  # the WebDriver key of an element reference
ESCAPE = "\ue00c"


def logline(name):
    """A line of platform/web/loglines.txt, the one source of the web backend's lines."""
    with open(os.path.join(ROOT, "platform", "web", "loglines.txt")) as lines:
        for line in lines:
            if line.startswith(name + "="):
                return line.rstrip("\n").split("=", 1)[1]
    raise SystemExit(f"web-test: {name} is not in platform/web/loglines.txt")


MAPPED = logline("kMappedWindowLine")
failures = []


def check(ok, words):
    print(("ok   " if ok else "FAIL ") + "firefox: " + words, flush=True)
    if not ok:
        failures.append(words)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Marionette:
    """A Marionette connection: each message is its length in decimal, a colon and JSON; a
    command is [0, id, name, parameters], its answer [1, id, error, result]."""

    def __init__(self, port, seconds):
        until = time.time() + seconds
        while True:
            try:
                self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
                break
            except OSError:
                if time.time() > until:
                    raise
                time.sleep(0.5)
        self.sock.settimeout(300)
        self.buffer = b""
        self.next_id = 0
        self.receive()  # the server's greeting

    def receive(self):
        while b":" not in self.buffer:
            self.buffer += self.read()
        length, rest = self.buffer.split(b":", 1)
        while len(rest) < int(length):
            rest += self.read()
        self.buffer = rest[int(length):]
        return json.loads(rest[:int(length)])

    def read(self):
        data = self.sock.recv(1 << 20)
        if not data:
            raise ConnectionError("Marionette closed the connection")
        return data

    def __call__(self, name, **parameters):
        self.next_id += 1
        message = json.dumps([0, self.next_id, name, parameters]).encode()
        self.sock.sendall(str(len(message)).encode() + b":" + message)
        while True:
            answer = self.receive()
            if answer[0] == 1 and answer[1] == self.next_id:
                break
        if answer[2]:
            raise RuntimeError(f"{name}: {answer[2]}")
        result = answer[3]
        return result.get("value", result) if isinstance(result, dict) else result

    def script(self, text):
        return self("WebDriver:ExecuteScript", script=text, args=[])

    def element(self, selector):
        return self("WebDriver:FindElement", using="css selector", value=selector)[ELEMENT]

    def screenshot(self, path):
        with open(path, "wb") as f:
            f.write(base64.b64decode(self("WebDriver:TakeScreenshot", full=False, hash=False)))
        return Image.open(path).convert("RGB")


port = free_port()
marionette_port = free_port()
work = tempfile.mkdtemp(prefix="kelvo-web-firefox.")
served = os.path.join(work, "served")
profile = os.path.join(work, "profile")
shutil.copytree(PAGE, os.path.join(served, "page"))
os.makedirs(profile)
# A profile that asks nothing of the network and lets the page start its sound.
with open(os.path.join(profile, "user.js"), "w") as prefs:
    for name, value in (("marionette.port", marionette_port), ("media.autoplay.default", 0),
                        ("media.autoplay.blocking_policy", 0), ("browser.shell.checkDefaultBrowser", False),
                        ("app.update.disabledForTesting", True), ("browser.startup.page", 0),
                        ("datareporting.policy.dataSubmissionEnabled", False), ("toolkit.telemetry.enabled", False),
                        ("browser.startup.homepage_override.mstone", "ignore"), ("network.proxy.type", 0),
                        ("browser.safebrowsing.malware.enabled", False), ("browser.safebrowsing.phishing.enabled", False),
                        ("extensions.update.enabled", False), ("browser.aboutwelcome.enabled", False),
                        ("full-screen-api.warning.timeout", 0), ("webgl.force-enabled", True)):
        prefs.write(f"user_pref({json.dumps(name)}, {json.dumps(value)});\n")
server = subprocess.Popen([sys.executable, "-m", "http.server", "--bind", "127.0.0.1", str(port), "--directory", served],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
browser_log = open(os.path.join(OUT, "firefox-stderr.txt"), "w")
browser = subprocess.Popen(["/usr/bin/firefox-esr", "--marionette", "--no-remote", "--profile", profile,
                            "-width", "1280", "-height", "720", "about:blank"],
                           stdout=browser_log, stderr=subprocess.STDOUT, env=dict(os.environ, MOZ_CRASHREPORTER_DISABLE="1"))
console = []
status = 1
try:
    try:
        m = Marionette(marionette_port, 60)
        m("WebDriver:NewSession", capabilities={})
    except Exception as error:  # the browser never answered: nothing was checked
        print(f"FAIL firefox: the browser cannot be driven: {error}", flush=True)
        status = 2
        raise SystemExit(2)

    def drain():
        console.extend(m.script("const lines = window.kelvoConsole || []; window.kelvoConsole = []; return lines;"))

    def wait_for(predicate, seconds):
        until = time.time() + seconds
        while time.time() < until:
            drain()
            if predicate():
                return True
            time.sleep(0.3)
        return False

    m("WebDriver:Navigate", url=f"http://127.0.0.1:{port}/page/index.html")
    check(wait_for(lambda: m.script("return !document.getElementById('start').disabled;"), 120),
          "the start control is enabled once the module is loaded")
    # The console's lines are kept on the page for the driver (Marionette gives no console);
    # the tap counts the samples Web Audio pulled.
    m.script("""
      window.kelvoConsole = [];
      for (const kind of ["log", "error"]) {
        const write = console[kind].bind(console);
        console[kind] = (...words) => { window.kelvoConsole.push(words.join(" ")); write(...words); };
      }
      window.kelvoTap = {frames: 0, nonzero: 0};
      Module.kelvoAudioTap = (channels) => {
        const data = channels[0];
        window.kelvoTap.frames += data.length;
        for (let i = 0; i < data.length; ++i) if (data[i] !== 0) { window.kelvoTap.nonzero += 1; }
      };""")
    clicked = time.time()
    m("WebDriver:ElementClick", id=m.element("#start"))
    check(wait_for(lambda: any(MAPPED in line for line in console), 180), "the console says: " + MAPPED)
    figures = {"start_to_mapped_s": round(time.time() - clicked, 2)}
    size = m.script("""
      const c = document.getElementById('canvas');
      return [c.clientWidth, c.clientHeight, window.innerWidth, window.innerHeight, c.width, c.height];""")
    check(size[0] == size[2] and size[1] == size[3], f"the canvas covers the viewport {size}")
    figures["renderer"] = m.script("""
      const gl = document.createElement('canvas').getContext('webgl');
      return gl ? gl.getParameter(gl.RENDERER) + ' / max texture ' + gl.getParameter(gl.MAX_TEXTURE_SIZE) : null;""")

    wait_for(lambda: False, 14)
    a = m.screenshot(os.path.join(OUT, "firefox-harbour-1.png"))
    wait_for(lambda: False, 1)
    b = m.screenshot(os.path.join(OUT, "firefox-harbour-2.png"))
    w, h = a.size
    changed = ImageChops.difference(a.crop((0, h * 3 // 4, w, h)), b.crop((0, h * 3 // 4, w, h))).getbbox()
    check(changed is not None, "the greeting's band changes within a second (it scrolls)")
    sky = a.crop((0, 0, w, h // 4)).resize((1, 1)).getpixel((0, 0))
    figures["sky_mean_rgb"] = sky
    check(sum(sky) > 60, f"the sky is drawn (mean colour of the top quarter {sky})")

    tap = m.script("return window.kelvoTap;")
    figures["audio_frames_pulled"] = tap["frames"]
    figures["audio_nonzero_samples"] = tap["nonzero"]
    check(tap["nonzero"] > 0, f"Web Audio pulled the song's samples {tap}")
    reports = [int(x.group(1)) for line in console for x in re.finditer(r"(\d+) fps", line)]
    figures["fps_reports"] = reports
    check(len(reports) > 0, "the console carries the frame-rate reports")

    m("WebDriver:ElementSendKeys", id=m.element("body"), text=ESCAPE)
    check(wait_for(lambda: "ended: status 0" in m.script("return document.getElementById('status').textContent;"), 30),
          "Escape ends the run: " + repr(m.script("return document.getElementById('status').textContent;")))
    with open(os.path.join(OUT, "firefox-figures.json"), "w") as f:
        json.dump(figures, f, indent=1)
    print("firefox: " + json.dumps(figures), flush=True)
    status = 1 if failures else 0
finally:
    try:
        m("Marionette:Quit", flags=["eForceQuit"])
    except Exception:
        pass
    try:
        browser.wait(15)
    except subprocess.TimeoutExpired:
        browser.kill()
        browser.wait()
    browser_log.close()
    with open(os.path.join(OUT, "firefox-console.txt"), "w") as f:
        f.write("\n".join(console) + "\n")
    server.terminate()
    server.wait()
    shutil.rmtree(work, ignore_errors=True)
sys.exit(status)
