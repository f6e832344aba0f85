"""What the scripts that drive the web page in real browsers share: a folder served on the
loopback address, the shared facts and the web backend's log lines, and one small Browser
interface with two implementations, Debian's Chromium (Selenium with Debian's chromedriver,
headless, SwiftShader's WebGL by default) and Debian's Firefox ESR (its own Marionette
protocol: Debian packages no geckodriver; it needs a display, so its callers run inside
scripts/headless). Run with Debian's /usr/bin/python3 (python3-selenium, python3-pil).

    with Served(folder) as served, launch("chromium", out) as browser:
        browser.open(served.url("page/index.html"))
        stamp = browser.click("#start")
        lines = browser.console()      # [(seconds since the epoch, text), ...], drained

Every process started here is stopped by its own handle in close()/quit()."""
import base64
import io
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from PIL import Image  # Debian's python3-pil

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def _named_line(path, name):
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            if line.startswith(name + "="):
                return line.rstrip("\n").split("=", 1)[1]
    raise SystemExit(f"browsers: no {name} in {path}")


def fact(name):
    """A shared fact of base/facts.txt (NAME=VALUE lines), as a string."""
    return _named_line(os.path.join(ROOT, "base", "facts.txt"), name)


def logline(name, system="web"):
    """A log line of platform/<system>/loglines.txt, the one source of a backend's lines."""
    return _named_line(os.path.join(ROOT, "platform", system, "loglines.txt"), name)


def free_port():
    """A TCP port free on the loopback address now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Served:
    """A folder served by python3's http.server on 127.0.0.1 at a free port, until close()."""

    def __init__(self, folder):
        self.folder = os.path.abspath(folder)
        self.port = free_port()
        self.process = subprocess.Popen(
            [sys.executable, "-m", "http.server", "--bind", "127.0.0.1", str(self.port), "--directory", self.folder],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The server answers once its socket listens.
        until = time.time() + 20
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if time.time() > until or self.process.poll() is not None:
                    self.close()
                    raise RuntimeError(f"browsers: the server of {self.folder} does not answer")
                time.sleep(0.1)

    def url(self, path=""):
        return f"http://127.0.0.1:{self.port}/{path.lstrip('/')}"

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


class Browser:
    """One browser window of a given size, driven from this process.

    open(url)          loads a page and waits for its load event
    script(js)         runs a function body in the page; its return value comes back
    click(css)         clicks the first element the selector finds; returns time.time()
                       taken just before the click was sent
    send_escape()      presses Escape in the page (to its focused element)
    screenshot(path)   the viewport as a PNG at path; returns it as an RGB PIL image
    console()          the console lines logged since the last call (log, info, warn and
                       error), each (seconds since the epoch when it was logged, text)
    quit()             ends the browser and removes its profile
    """
    name = "browser"

    def open(self, url):
        raise NotImplementedError

    def script(self, js):
        raise NotImplementedError

    def click(self, css):
        raise NotImplementedError

    def send_escape(self):
        raise NotImplementedError

    def screenshot(self, path):
        raise NotImplementedError

    def console(self):
        raise NotImplementedError

    def quit(self):
        raise NotImplementedError

    def text(self, css):
        """The text content of the first element the selector finds ("" when there is none)."""
        return self.script(f"const e = document.querySelector({json.dumps(css)}); return e ? e.textContent : '';")

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.quit()


class Chromium(Browser):
    """Debian's Chromium through Selenium and /usr/bin/chromedriver. Headless with
    SwiftShader's WebGL by default; flags replaces the GL choice (for example
    ["--use-angle=gl"] with headless=False inside scripts/headless for ANGLE over Mesa)."""
    name = "chromium"

    def __init__(self, width=1280, height=720, headless=True, flags=None):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        self.profile = tempfile.mkdtemp(prefix="kelvo-chromium.")
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        gl = flags if flags is not None else ["--use-angle=swiftshader", "--enable-unsafe-swiftshader"]
        for flag in (["--headless=new"] if headless else []) + list(gl) + [
                "--no-sandbox", "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--no-first-run", "--disable-default-apps", "--autoplay-policy=no-user-gesture-required",
                f"--window-size={width},{height}", f"--user-data-dir={self.profile}"]:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        try:
            self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        except Exception:
            shutil.rmtree(self.profile, ignore_errors=True)
            raise

    def open(self, url):
        self.driver.get(url)

    def script(self, js):
        return self.driver.execute_script(js)

    def click(self, css):
        from selenium.webdriver.common.by import By
        element = self.driver.find_element(By.CSS_SELECTOR, css)
        stamp = time.time()
        element.click()
        return stamp

    def send_escape(self):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        ActionChains(self.driver).send_keys(Keys.ESCAPE).perform()

    def screenshot(self, path):
        self.driver.save_screenshot(path)
        return Image.open(path).convert("RGB")

    def console(self):
        lines = []
        for entry in self.driver.get_log("browser"):
            text = entry["message"]
            # A console call's entry is "URL LINE:COLUMN TEXT", its one string argument as
            # a JSON string; other entries (the browser's own) are kept as they are.
            head, _, rest = text.partition(" ")
            place, _, words = rest.partition(" ")
            if ":" in place and words.startswith('"'):
                try:
                    text = json.loads(words)
                except ValueError:
                    pass
            lines.append((entry["timestamp"] / 1000.0, text))
        return lines

    def quit(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)


class _Marionette:
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
        self.sock.settimeout(150)
        self.buffer = b""
        self.next_id = 0
        self._receive()  # the server's greeting

    def _receive(self):
        while b":" not in self.buffer:
            self.buffer += self._read()
        length, rest = self.buffer.split(b":", 1)
        while len(rest) < int(length):
            rest += self._read()
        self.buffer = rest[int(length):]
        return json.loads(rest[:int(length)])

    def _read(self):
        data = self.sock.recv(1 << 20)
        if not data:
            raise ConnectionError("Marionette closed the connection")
        return data

    def __call__(self, name, **parameters):
        self.next_id += 1
        message = json.dumps([0, self.next_id, name, parameters]).encode()
        self.sock.sendall(str(len(message)).encode() + b":" + message)
        while True:
            answer = self._receive()
            if answer[0] == 1 and answer[1] == self.next_id:
                break
        if answer[2]:
            raise RuntimeError(f"{name}: {answer[2]}")
        result = answer[3]
        return result.get("value", result) if isinstance(result, dict) else result

    def close(self):
        self.sock.close()


# The WebDriver key of an element reference, and Escape's key code.
_ELEMENT = "element-6066-11e4-a52e-4f735466cecf"
_ESCAPE = "\ue00c"
# Marionette gives no console: each page's console calls are also kept on the page, with the
# wall-clock time of each, until the driver takes them. Put in place after each load.
_KEEP_CONSOLE = """
  if (!window.kelvoConsole) {
    window.kelvoConsole = [];
    for (const kind of ["log", "info", "warn", "error"]) {
      const write = console[kind].bind(console);
      console[kind] = (...words) => { window.kelvoConsole.push([Date.now() / 1000, words.join(" ")]); write(...words); };
    }
  }"""


class Firefox(Browser):
    """Debian's Firefox ESR driven through Marionette. It needs a display and a sound server:
    run inside scripts/headless (Mesa's WebGL). Its stderr goes to log_path when given."""
    name = "firefox"

    def __init__(self, width=1280, height=720, prefs=None, log_path=None):
        if not os.environ.get("DISPLAY"):
            raise RuntimeError("browsers: Firefox needs a display; run inside scripts/headless")
        self.profile = tempfile.mkdtemp(prefix="kelvo-firefox.")
        marionette_port = free_port()
        # A profile that asks nothing of the network and lets the page start its sound.
        settings = {"marionette.port": marionette_port, "media.autoplay.default": 0,
                    "media.autoplay.blocking_policy": 0, "browser.shell.checkDefaultBrowser": False,
                    "app.update.disabledForTesting": True, "browser.startup.page": 0,
                    "datareporting.policy.dataSubmissionEnabled": False, "toolkit.telemetry.enabled": False,
                    "browser.startup.homepage_override.mstone": "ignore", "network.proxy.type": 0,
                    "browser.safebrowsing.malware.enabled": False, "browser.safebrowsing.phishing.enabled": False,
                    "extensions.update.enabled": False, "browser.aboutwelcome.enabled": False,
                    "full-screen-api.warning.timeout": 0, "webgl.force-enabled": True,
                    # As WebDriver's own Firefox profile has it: no slow-script or hang
                    # prompt, which a driven browser has nobody to answer (the page's start
                    # holds the main thread for seconds on a loaded machine).
                    "dom.max_script_run_time": 0, "dom.max_chrome_script_run_time": 0,
                    "hangmonitor.timeout": 0, "dom.ipc.reportProcessHangs": False}
        settings.update(prefs or {})
        with open(os.path.join(self.profile, "user.js"), "w") as f:
            for key, value in settings.items():
                f.write(f"user_pref({json.dumps(key)}, {json.dumps(value)});\n")
        self.log = open(log_path, "w") if log_path else subprocess.DEVNULL
        self.process = subprocess.Popen(
            ["/usr/bin/firefox-esr", "--marionette", "--no-remote", "--profile", self.profile,
             "-width", str(width), "-height", str(height), "about:blank"],
            stdout=self.log, stderr=subprocess.STDOUT, env=dict(os.environ, MOZ_CRASHREPORTER_DISABLE="1"))
        self.m = None
        try:
            self.m = _Marionette(marionette_port, 90)
            self.m("WebDriver:NewSession", capabilities={})
        except Exception:
            self.quit()
            raise

    def open(self, url):
        self.m("WebDriver:Navigate", url=url)
        self.script(_KEEP_CONSOLE)

    def script(self, js):
        return self.m("WebDriver:ExecuteScript", script=js, args=[])

    def _element(self, css):
        return self.m("WebDriver:FindElement", using="css selector", value=css)[_ELEMENT]

    def click(self, css):
        element = self._element(css)
        stamp = time.time()
        # Marionette answers once the page's event loop has run again: after the program's
        # synchronous start-up on this click.
        self.m("WebDriver:ElementClick", id=element)
        return stamp

    def send_escape(self):
        self.m("WebDriver:PerformActions", actions=[{"type": "key", "id": "keyboard", "actions": [
            {"type": "keyDown", "value": _ESCAPE}, {"type": "keyUp", "value": _ESCAPE}]}])
        self.m("WebDriver:ReleaseActions")

    def screenshot(self, path):
        data = base64.b64decode(self.m("WebDriver:TakeScreenshot", full=False, hash=False))
        with open(path, "wb") as f:
            f.write(data)
        return Image.open(io.BytesIO(data)).convert("RGB")

    def console(self):
        taken = self.script("const lines = window.kelvoConsole || []; window.kelvoConsole = []; return lines;")
        return [(stamp, text) for stamp, text in taken]

    def quit(self):
        try:
            if self.m is not None:
                try:
                    self.m("Marionette:Quit", flags=["eForceQuit"])
                except Exception:
                    pass
                self.m.close()
        finally:
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            if self.log is not subprocess.DEVNULL:
                self.log.close()
            shutil.rmtree(self.profile, ignore_errors=True)


def launch(name, width=1280, height=720, **options):
    """A Browser by name: "chromium" or "firefox"."""
    kinds = {"chromium": Chromium, "firefox": Firefox}
    if name not in kinds:
        raise ValueError(f"browsers: no browser {name!r} (chromium, firefox)")
    return kinds[name](width=width, height=height, **options)
