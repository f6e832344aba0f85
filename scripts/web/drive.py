"""Drives the web page in headless Chromium through Debian's Selenium and chromedriver (see
scripts/web-test): PAGE_DIR OUT. Exits 0 when every check holds, 1 with the failed check."""
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


def fact(name):
    """A shared fact of base/facts.txt (NAME=VALUE lines), as the other scripts read it."""
    facts = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "base", "facts.txt")
    with open(facts, encoding="utf-8") as lines:
        for line in lines:
            if line.startswith(name + "="):
                return line.rstrip("\n").split("=", 1)[1]
    raise SystemExit(f"drive: no fact {name} in {facts}")
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

PAGE, OUT = sys.argv[1:3]
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


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
    print(("ok   " if ok else "FAIL ") + words, flush=True)
    if not ok:
        failures.append(words)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


port = free_port()
# The served folder holds the page (page/) and later a damaged copy of it (damaged/); the
# browser's profile is beside it.
work = tempfile.mkdtemp(prefix="kelvo-web-test.")
served = os.path.join(work, "served")
profile = os.path.join(work, "profile")
shutil.copytree(PAGE, os.path.join(served, "page"))
server = subprocess.Popen([sys.executable, "-m", "http.server", "--bind", "127.0.0.1", str(port), "--directory", served],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
console = []
runs = []  # the console of each run before the last
driver = None
try:
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--no-first-run", "--disable-default-apps", "--autoplay-policy=no-user-gesture-required",
                 "--window-size=1280,720", f"--user-data-dir={profile}"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)

    def drain():
        for entry in driver.get_log("browser"):
            text = entry["message"]
            # "URL LINE:COLUMN \"text\"": the text is a JSON string.
            match = re.match(r'^\S+ \d+:\d+ (".*")$', text, re.S)
            console.append(json.loads(match.group(1)) if match else text)

    def wait_for(predicate, seconds):
        until = time.time() + seconds
        while time.time() < until:
            drain()
            if predicate():
                return True
            time.sleep(0.2)
        return False

    # Opened from a disk, where the browser refuses to fetch the module, the page offers no
    # start and shows the one line the package's text gives to serve its folder.
    with open(os.path.join(ROOT, "release", "web", "tessic.txt"), encoding="utf-8") as text:
        serve = [line.strip() for line in text if line.startswith("    ") and "http.server" in line]
    driver.get("file://" + os.path.join(served, "page", "index.html"))
    shown = driver.find_element(By.ID, "status").text
    check(len(serve) == 1 and serve[0] in shown and "http://127.0.0.1:8000/" in shown
          and not driver.find_element(By.ID, "start").is_displayed(),
          f"opened from a disk, the page says how to serve its folder: {shown!r}")

    driver.get(f"http://127.0.0.1:{port}/page/index.html")
    start = driver.find_element(By.ID, "start")
    check(wait_for(lambda: start.is_enabled(), 60), "the start control is enabled once the module is loaded")
    driver.execute_script("""
      window.kelvoTap = {frames: 0, nonzero: 0};
      Module.kelvoAudioTap = (channels) => {
        const data = channels[0];
        window.kelvoTap.frames += data.length;
        for (let i = 0; i < data.length; ++i) if (data[i] !== 0) { window.kelvoTap.nonzero += 1; }
      };""")
    clicked = time.time()
    start.click()
    check(wait_for(lambda: any(MAPPED in line for line in console), 120), "the console says: " + MAPPED)
    mapped = time.time()
    figures = {"start_to_mapped_s": round(mapped - clicked, 2)}
    size = driver.execute_script("""
      const c = document.getElementById('canvas');
      return [c.clientWidth, c.clientHeight, window.innerWidth, window.innerHeight, c.width, c.height];""")
    check(size[0] == size[2] and size[1] == size[3], f"the canvas covers the viewport {size}")

    # The harbour comes after the sixteen pictures.
    wait_for(lambda: False, 14)
    first = os.path.join(OUT, "harbour-1.png")
    second = os.path.join(OUT, "harbour-2.png")
    driver.save_screenshot(first)
    wait_for(lambda: False, 1)
    driver.save_screenshot(second)
    # The greeting scrolls along the bottom: compare the bottom quarter of the two shots.
    a = Image.open(first).convert("RGB")
    b = Image.open(second).convert("RGB")
    w, h = a.size
    box = (0, h * 3 // 4, w, h)
    changed = ImageChops.difference(a.crop(box), b.crop(box)).getbbox()
    check(changed is not None, "the greeting's band changes within a second (it scrolls)")
    sky = a.crop((0, 0, w, h // 4)).resize((1, 1)).getpixel((0, 0))
    figures["sky_mean_rgb"] = sky
    check(sum(sky) > 60, f"the sky is drawn (mean colour of the top quarter {sky})")

    check(any(line.startswith("[uFont] GenerateTextureAtlasBMP: Atlas-Texture dimensions: 8192x8192") for line in console),
          "the font's atlas is 8192x8192 where WebGL takes it")
    tap = driver.execute_script("return window.kelvoTap;")
    figures["audio_frames_pulled"] = tap["frames"]
    figures["audio_nonzero_samples"] = tap["nonzero"]
    check(tap["nonzero"] > 0, f"Web Audio pulled the song's samples {tap}")

    wait_for(lambda: False, 3)
    reports = [int(m.group(1)) for line in console for m in re.finditer(r"(\d+) fps", line)]
    figures["fps_reports"] = reports
    check(len(reports) > 0, "the console carries the frame-rate reports")
    # The module's memory (what the program holds) and the page's JavaScript heap.
    figures["wasm_memory_bytes"] = driver.execute_script("return typeof HEAP8 !== 'undefined' ? HEAP8.length : null;")
    figures["js_heap_bytes"] = driver.execute_script(
        "return performance.memory ? performance.memory.usedJSHeapSize : null;")

    driver.find_element(By.TAG_NAME, "body").send_keys(Keys.ESCAPE)
    status = driver.find_element(By.ID, "status")
    check(wait_for(lambda: "ended: status 0" in status.text, 20), "Escape ends the run: " + repr(status.text))

    # A damaged store (its first byte changed in a copy of the module): the page shows the
    # line the program ends with and its status, as the Linux program writes them.
    damaged = os.path.join(served, "damaged")
    shutil.copytree(PAGE, damaged)
    with open(os.path.join(damaged, "tessic.wasm"), "r+b") as module:
        data = module.read()
        section = fact("kStoreSectionName").encode()
        at = data.rfind(section) + len(section)
        module.seek(at)
        module.write(bytes([data[at] ^ 0xFF]))
    driver.get(f"http://127.0.0.1:{port}/damaged/index.html")
    wait_for(lambda: driver.find_element(By.ID, "start").is_enabled(), 60)
    drain()
    runs.append(list(console))
    console.clear()
    driver.find_element(By.ID, "start").click()
    ended = wait_for(lambda: "ended: status" in driver.find_element(By.ID, "status").text, 60)
    shown = driver.find_element(By.ID, "status").text
    last = [line for line in console if line.startswith("[")][-1:]
    check(ended and "ended: status 0" not in shown and last and shown.startswith(last[0]),
          f"a damaged store ends the run with its line and status on the page: {shown!r}")
    # A WebGL whose textures are at most 4096 pixels wide, as on phones and some laptops: the
    # font's atlas is packed into 4096 x 4096 with one warning, nothing larger is uploaded
    # (every upload's size is recorded), and the harbour's greeting still scrolls to an end
    # with status 0. The limit is the answer to MAX_TEXTURE_SIZE, set before the program
    # makes its context.
    driver.get(f"http://127.0.0.1:{port}/page/index.html")
    wait_for(lambda: driver.find_element(By.ID, "start").is_enabled(), 60)
    drain()
    runs.append(list(console))
    console.clear()
    driver.execute_script("""
      window.kelvoLargestTexture = 0;
      for (const kind of [WebGLRenderingContext, window.WebGL2RenderingContext]) {
        if (!kind) continue;
        const getParameter = kind.prototype.getParameter;
        kind.prototype.getParameter = function (name) {
          return name === this.MAX_TEXTURE_SIZE ? 4096 : getParameter.call(this, name);
        };
        const texImage2D = kind.prototype.texImage2D;
        kind.prototype.texImage2D = function (...args) {
          if (args.length >= 8) window.kelvoLargestTexture = Math.max(window.kelvoLargestTexture, args[3], args[4]);
          return texImage2D.apply(this, args);
        };
      }""")
    driver.find_element(By.ID, "start").click()
    check(wait_for(lambda: any(MAPPED in line for line in console), 120), "limited to 4096: the console says: " + MAPPED)
    wait_for(lambda: False, 14)
    first = os.path.join(OUT, "harbour-4096-1.png")
    second = os.path.join(OUT, "harbour-4096-2.png")
    driver.save_screenshot(first)
    wait_for(lambda: False, 1)
    driver.save_screenshot(second)
    a = Image.open(first).convert("RGB")
    b = Image.open(second).convert("RGB")
    w, h = a.size
    changed = ImageChops.difference(a.crop((0, h * 3 // 4, w, h)), b.crop((0, h * 3 // 4, w, h))).getbbox()
    check(changed is not None, "limited to 4096: the greeting's band changes within a second (it scrolls)")
    atlas = "[uFont] GenerateTextureAtlasBMP: Atlas-Texture dimensions: "
    check(any(line.startswith(atlas + "4096x4096") for line in console), "limited to 4096: the atlas is packed into 4096x4096")
    warnings = [line for line in console if line.startswith("[uFont] WARNING: ")]
    check(len(warnings) == 1, f"limited to 4096: one warning of the font's {warnings}")
    largest = driver.execute_script("return window.kelvoLargestTexture;")
    figures["largest_texture_limited"] = largest
    check(0 < largest <= 4096, f"limited to 4096: no texture larger is uploaded (largest {largest})")
    driver.find_element(By.TAG_NAME, "body").send_keys(Keys.ESCAPE)
    status = driver.find_element(By.ID, "status")
    check(wait_for(lambda: "ended: status 0" in status.text, 20), "limited to 4096: Escape ends the run: " + repr(status.text))

    with open(os.path.join(OUT, "figures.json"), "w") as f:
        json.dump(figures, f, indent=1)
    print(json.dumps(figures), flush=True)
finally:
    if driver is not None:
        try:
            drain()
        except Exception:
            pass
        driver.quit()
    # The runs' consoles in the order they ran, as far as they got.
    for name, lines in zip(("console.txt", "console-damaged.txt", "console-4096.txt"), runs + [console]):
        with open(os.path.join(OUT, name), "w") as f:
            f.write("\n".join(lines) + "\n")
    server.terminate()
    server.wait()
    shutil.rmtree(work, ignore_errors=True)
sys.exit(1 if failures else 0)
