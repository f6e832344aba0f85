"""The web page's proof in real browsers (see scripts/web-test, which runs this inside
scripts/headless): PAGE_DIR OUT HOST_BUILD BROWSER... (chromium, firefox). The same checks in
each browser:

- the canvas covers the viewport once the program has mapped its window;
- in the harbour, the sky band (above the sun's path, where nothing moves) of a screenshot has
  the same rows' mean colours as the Linux program's film frame at the same show time;
- the greeting scrolls (two screenshots a second apart differ in its band);
- the song's frames handed to Web Audio are, from the first one and for the first seconds,
  exactly the song's samples in the song's order (the page's test tap; int16 / 32768 at the
  song's own rate, so the comparison is exact);
- Escape ends the run with "ended: status 0" on the page;
- a store with a damaged picture (put into a copy of the module with kelvo-res) ends with the
  line and the status the Linux program ends with for the same damage;
- a WebGL whose textures are at most 4096 wide gets the packed 4096 x 4096 atlas with one
  warning, uploads nothing larger, and the greeting still scrolls to an end with status 0.

The song, the Linux program's damaged run and the film frame come from HOST_BUILD (kelvo,
kelvo-res, the film's library). Consoles, screenshots and figures are left in OUT. Exits 0
when every check holds in every browser, else 1."""
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import signal
import wave

from PIL import Image, ImageChops

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browsers  # noqa: E402

PAGE, OUT, HOST = (os.path.abspath(p) for p in sys.argv[1:4])
NAMES = sys.argv[4:] or ["chromium", "firefox"]
KELVO_RES = os.path.join(HOST, "kelvo-res")
MAPPED = browsers.logline("kMappedWindowLine")
ATLAS = "[uFont] GenerateTextureAtlasBMP: Atlas-Texture dimensions: "
# The seconds of the song the tap keeps and compares; the show time of the harbour's shots.
TAP_SECONDS = 6
SHOT_SECONDS = 8
failures = []


def check(who, ok, words):
    print(("ok   " if ok else "FAIL ") + f"{who}: {words}", flush=True)
    if not ok:
        failures.append(f"{who}: {words}")


def run(command, **options):
    return subprocess.run(command, check=True, **options)


# A TERM (from scripts/headless or the user) ends the script through its clean-up.
signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

# ---------------------------------------------------------------------------------------
# What the Linux program gives to compare with, made once.
work = tempfile.mkdtemp(prefix="kelvo-web-scenario.")
served = os.path.join(work, "served")
shutil.copytree(PAGE, os.path.join(served, "page"))


def song_frames():
    """The song's samples as little-endian int16, interleaved, and its rate and channels."""
    path = os.path.join(work, "song.wav")
    run([KELVO_RES, "extract", os.path.join(HOST, "kelvo"), browsers.fact("kSongResource"), path])
    with wave.open(path) as song:
        if song.getsampwidth() != 2:
            raise SystemExit("scenario: the song is not 16-bit PCM")
        return song.readframes(song.getnframes()), song.getframerate(), song.getnchannels()


def damage():
    """The first picture cut to its first 100 bytes (a BMP header and no pixels), put into
    copies of the module and of the Linux program with kelvo-res; returns the Linux
    program's last line and exit status for it."""
    listing = subprocess.run([KELVO_RES, "list", os.path.join(HOST, "kelvo")], check=True, capture_output=True,
                             text=True).stdout.split()
    picture = next(word for word in listing if word.startswith(browsers.fact("kPictureResourcePrefix")))
    whole, cut = os.path.join(work, "picture.bmp"), os.path.join(work, "damaged.bmp")
    run([KELVO_RES, "extract", os.path.join(HOST, "kelvo"), picture, whole])
    with open(whole, "rb") as f, open(cut, "wb") as g:
        g.write(f.read(100))
    shutil.copytree(PAGE, os.path.join(served, "damaged"), ignore=shutil.ignore_patterns("tessic.wasm"))
    run([KELVO_RES, "edit", os.path.join(PAGE, "tessic.wasm"), os.path.join(served, "damaged", "tessic.wasm"),
         "--set", f"{picture}={cut}"])
    linux = os.path.join(work, "kelvo-damaged")
    run([KELVO_RES, "edit", os.path.join(HOST, "kelvo"), linux, "--set", f"{picture}={cut}"])
    ended = subprocess.run([linux], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120, cwd=work)
    lines = [line for line in ended.stdout.splitlines() if line.strip()]
    with open(os.path.join(OUT, "linux-damaged.txt"), "w") as f:
        f.write(ended.stdout + f"status {ended.returncode}\n")
    return picture, (lines[-1] if lines else ""), ended.returncode


def film_frame():
    """The Linux program's film frame at SHOT_SECONDS of show time (the design size), from
    the 10-second film the host build's tests made of this very program when there is one,
    else from a film made here."""
    film = os.path.join(HOST, "film-tests", "first.mp4")
    if not (os.path.exists(film) and os.path.getmtime(film) > os.path.getmtime(os.path.join(HOST, "kelvo"))):
        film = os.path.join(work, "harbour.mp4")
        with open(os.path.join(OUT, "linux-film.txt"), "w") as log:
            run([os.path.join(browsers.ROOT, "scripts", "film"), "--seconds", str(SHOT_SECONDS + 1), "--build", HOST,
                 film], stdout=log, stderr=log)
    frame = os.path.join(OUT, "linux-harbour.png")
    run(["ffmpeg", "-loglevel", "error", "-y", "-ss", str(SHOT_SECONDS), "-i", film, "-frames:v", "1", frame])
    return Image.open(frame).convert("RGB")


DESIGN_WIDTH = int(browsers.fact("kDesignWidthPixels"))
DESIGN_HEIGHT = int(browsers.fact("kDesignHeightPixels"))


def sky_rows(image):
    """The mean colour of each row of the sky band: the top fifth of the picture, left of
    where the sun swings (it spans the design width's 72 % to 95 %, rotated by up to ten
    degrees about its pivot), in bands of 8 rows; the picture is stretched to the design
    size first (the design space fills the canvas whatever its shape)."""
    width, height = DESIGN_WIDTH * 3 // 5, DESIGN_HEIGHT // 5
    band = image.resize((DESIGN_WIDTH, DESIGN_HEIGHT), Image.BILINEAR).crop((0, 0, width, height))
    return [band.crop((0, y, width, y + 8)).resize((1, 1), Image.BOX).getpixel((0, 0)) for y in range(0, height - 7, 8)]


SONG, RATE, CHANNELS = song_frames()
PICTURE, LINUX_LINE, LINUX_STATUS = damage()
FILM_SKY = sky_rows(film_frame())

# The tap keeps the song's first TAP_SECONDS as int16, counts the frames and calls, and
# counts the floats that are not exactly int16 / 32768.
TAP = """
  const want = %d;
  window.kelvoTap = {want: want, frames: 0, total: 0, calls: 0, inexact: 0, channels: 0, data: null};
  Module.kelvoAudioTap = (channels) => {
    const t = window.kelvoTap;
    t.calls += 1;
    if (!t.data) { t.channels = channels.length; t.data = new Int16Array(want * channels.length); }
    const n = channels[0].length;
    const take = Math.min(n, want - t.frames);
    for (let i = 0; i < take; ++i)
      for (let c = 0; c < t.channels; ++c) {
        const v = channels[c][i] * 32768;
        if (v !== Math.round(v) || v < -32768 || v > 32767) t.inexact += 1;
        t.data[(t.frames + i) * t.channels + c] = v;
      }
    t.frames += take;
    t.total += n;
  };""" % (RATE * TAP_SECONDS)
TAKE_TAP = """
  const t = window.kelvoTap;
  const bytes = t.data ? new Uint8Array(t.data.buffer, 0, t.frames * t.channels * 2) : new Uint8Array(0);
  let text = "";
  for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return {frames: t.frames, total: t.total, calls: t.calls, inexact: t.inexact, channels: t.channels,
          rate: Module.kelvoAudio ? Module.kelvoAudio.context.sampleRate : 0, data: btoa(text)};"""
# A WebGL whose textures are at most 4096 wide: its answer to MAX_TEXTURE_SIZE, set before
# the program makes its context; every upload's size is recorded.
LIMIT_4096 = """
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
  }"""


def in_page(browser, js):
    """Runs js as the page's own script (a script element), so that the functions it leaves
    behind belong to the page: a driver's script may run apart from the page (Marionette's
    does), and the page calling into it for every sample would stall the page."""
    browser.script("const s = document.createElement('script'); s.textContent = %s; document.head.appendChild(s);"
                   % json.dumps(js))


def first_difference(heard, song):
    """The first frame at which the heard samples leave the song's, or None."""
    size = 2 * CHANNELS
    for at in range(0, len(heard), size * 4096):
        if heard[at:at + size * 4096] != song[at:at + size * 4096]:
            for frame in range(at, min(len(heard), at + size * 4096), size):
                if heard[frame:frame + size] != song[frame:frame + size]:
                    return frame // size
    return None


class Session:
    """One browser, its console kept, for the runs below."""

    def __init__(self, browser, served_at):
        self.browser = browser
        self.served_at = served_at
        self.console = []  # (time, line) of the current run
        self.who = browser.name

    def drain(self):
        self.console.extend(self.browser.console())

    def lines(self):
        return [line for _, line in self.console]

    def wait_for(self, predicate, seconds):
        until = time.time() + seconds
        while time.time() < until:
            self.drain()
            if predicate():
                return True
            time.sleep(0.25)
        return False

    def load(self, folder, name):
        """Opens the page of a served folder and waits for its start control."""
        self.console = []
        self.run_name = name
        self.browser.open(self.served_at.url(f"{folder}/index.html"))
        return self.wait_for(lambda: self.browser.script("return !document.getElementById('start').disabled;"), 180)

    def save(self):
        self.drain()
        with open(os.path.join(OUT, f"{self.who}-console-{self.run_name}.txt"), "w") as f:
            f.write("\n".join(self.lines()) + "\n")

    def status(self):
        return self.browser.text("#status")

    def shots(self, name):
        """Two screenshots a second apart; whether the greeting's band (the bottom quarter)
        changed between them."""
        a = self.browser.screenshot(os.path.join(OUT, f"{self.who}-{name}-1.png"))
        self.wait_for(lambda: False, 1)
        b = self.browser.screenshot(os.path.join(OUT, f"{self.who}-{name}-2.png"))
        w, h = a.size
        return a, ImageChops.difference(a.crop((0, h * 3 // 4, w, h)), b.crop((0, h * 3 // 4, w, h))).getbbox() is not None

    def show_seconds(self):
        return self.browser.script("return window.kelvoTap ? window.kelvoTap.total : 0;") / RATE


def main_run(s, figures):
    who = s.who
    check(who, s.load("page", "main"), "the start control is enabled once the module is loaded")
    in_page(s.browser, TAP)
    clicked = s.browser.click("#start")
    check(who, s.wait_for(lambda: MAPPED in s.lines(), 180), "the console says: " + MAPPED)
    mapped = next(stamp for stamp, line in s.console if line == MAPPED) if MAPPED in s.lines() else time.time()
    figures["start_to_mapped_s"] = round(mapped - clicked, 2)
    size = s.browser.script("""
      const c = document.getElementById('canvas');
      return [c.clientWidth, c.clientHeight, window.innerWidth, window.innerHeight, c.width, c.height];""")
    check(who, size[0] == size[2] and size[1] == size[3] and size[4] > 0, f"the canvas covers the viewport {size}")
    figures["renderer"] = s.browser.script("""
      const gl = document.createElement('canvas').getContext('webgl');
      return gl ? gl.getParameter(gl.RENDERER) + ' / max texture ' + gl.getParameter(gl.MAX_TEXTURE_SIZE) : null;""")
    largest = s.browser.script("""
      const gl = document.createElement('canvas').getContext('webgl'); return gl.getParameter(gl.MAX_TEXTURE_SIZE);""")

    # The harbour at SHOT_SECONDS of show time: the song's frames handed to Web Audio are the
    # show's clock (the shot lags them by a pass at most; the sky does not move).
    s.wait_for(lambda: s.show_seconds() >= SHOT_SECONDS, 120)
    figures["shot_show_s"] = round(s.show_seconds(), 2)
    shot, scrolls = s.shots("harbour")
    check(who, scrolls, "the greeting's band changes within a second (it scrolls)")
    # H.264's 4:2:0 colour and rounding move a flat band's mean by a few levels; a wrong
    # picture, a missing blend or a shifted gradient moves whole rows by tens.
    web_sky = sky_rows(shot)
    worst = max(abs(a - b) for row, film in zip(web_sky, FILM_SKY) for a, b in zip(row, film))
    figures["sky_worst_level_difference"] = worst
    check(who, worst <= 8, f"the sky's rows match the Linux film frame's within 8 levels (worst {worst})")

    want = 8192 if largest >= 8192 else 4096
    check(who, any(line.startswith(f"{ATLAS}{want}x{want}") for line in s.lines()),
          f"the font's atlas is {want}x{want} where WebGL takes {largest}")

    tap = s.browser.script(TAKE_TAP)
    heard = base64.b64decode(tap.pop("data"))
    figures["tap"] = tap
    check(who, tap["rate"] == RATE and tap["channels"] == CHANNELS and tap["inexact"] == 0,
          f"Web Audio runs at the song's rate {RATE} with its {CHANNELS} channels, every sample int16 / 32768 {tap}")
    wrong = first_difference(heard, SONG)
    check(who, tap["frames"] == RATE * TAP_SECONDS and wrong is None,
          f"the first {TAP_SECONDS} s handed to Web Audio are the song's from its first sample, in order"
          + ("" if wrong is None else f" (they leave it at frame {wrong})"))

    reports = [line for line in s.lines() if line.endswith(" fps")]
    figures["fps_reports"] = reports[-5:]
    check(who, len(reports) > 0, "the console carries the frame-rate reports")
    figures["wasm_memory_bytes"] = s.browser.script("return typeof HEAP8 !== 'undefined' ? HEAP8.length : null;")
    figures["js_heap_bytes"] = s.browser.script("return performance.memory ? performance.memory.usedJSHeapSize : null;")

    s.browser.send_escape()
    check(who, s.wait_for(lambda: "ended: status 0" in s.status(), 30), "Escape ends the run: " + repr(s.status()))
    s.save()


def disk_run(s):
    """Opened from a disk, where the browser refuses to fetch the module, the page offers no
    start and shows the one line the package's text gives to serve its folder."""
    with open(os.path.join(browsers.ROOT, "release", "web", "tessic.txt"), encoding="utf-8") as text:
        serve = [line.strip() for line in text if line.startswith("    ") and "http.server" in line]
    s.browser.open("file://" + os.path.join(served, "page", "index.html"))
    shown = s.status()
    start_shown = s.browser.script("return document.getElementById('start').offsetParent !== null;")
    check(s.who, len(serve) == 1 and serve[0] in shown and "http://127.0.0.1:8000/" in shown and not start_shown,
          f"opened from a disk, the page says how to serve its folder: {shown!r}")


def damaged_run(s):
    who = s.who
    s.load("damaged", "damaged")
    s.browser.click("#start")
    s.wait_for(lambda: "ended: status" in s.status(), 180)
    shown = s.status()
    linux = f"{LINUX_LINE}\nended: status {LINUX_STATUS}"
    check(who, LINUX_STATUS != 0 and LINUX_LINE != "" and shown == linux,
          f"a damaged {PICTURE} shows the Linux program's line and status {linux!r}: {shown!r}")
    s.save()


def limited_run(s, figures):
    who = s.who + " limited to 4096"
    s.load("page", "4096")
    in_page(s.browser, LIMIT_4096)
    in_page(s.browser, TAP)
    s.browser.click("#start")
    check(who, s.wait_for(lambda: MAPPED in s.lines(), 180), "the console says: " + MAPPED)
    s.wait_for(lambda: s.show_seconds() >= SHOT_SECONDS, 120)
    _, scrolls = s.shots("harbour-4096")
    check(who, scrolls, "the greeting's band changes within a second (it scrolls)")
    check(who, any(line.startswith(ATLAS + "4096x4096") for line in s.lines()), "the atlas is packed into 4096x4096")
    warnings = [line for line in s.lines() if line.startswith("[uFont] WARNING: ")]
    check(who, len(warnings) == 1, f"one warning of the font's {warnings}")
    largest = s.browser.script("return window.kelvoLargestTexture;")
    figures["largest_texture_limited"] = largest
    check(who, 0 < largest <= 4096, f"no texture larger is uploaded (largest {largest})")
    s.browser.send_escape()
    check(who, s.wait_for(lambda: "ended: status 0" in s.status(), 30), "Escape ends the run: " + repr(s.status()))
    s.save()


try:
    with browsers.Served(served) as served_at:
        for name in NAMES:
            figures = {}
            options = {"log_path": os.path.join(OUT, "firefox-stderr.txt")} if name == "firefox" else {}
            try:
                with browsers.launch(name, **options) as browser:
                    session = Session(browser, served_at)
                    for step in (lambda: disk_run(session), lambda: main_run(session, figures), lambda: damaged_run(session),
                                 lambda: limited_run(session, figures)):
                        try:
                            step()
                        except Exception as error:  # a step that cannot go on; the next one still runs
                            check(name, False, f"the run stopped: {error!r}")
            except Exception as error:
                check(name, False, f"the browser cannot be driven: {error!r}")
            with open(os.path.join(OUT, f"{name}-figures.json"), "w") as f:
                json.dump(figures, f, indent=1)
            print(f"{name}: " + json.dumps(figures), flush=True)
finally:
    shutil.rmtree(work, ignore_errors=True)
sys.exit(1 if failures else 0)
