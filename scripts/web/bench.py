#!/usr/bin/python3
"""One measured run of the web page in Debian's Chromium, for kelvo-bench (bench/main.cpp,
./bench.sh --web): serves PAGE_DIR on the loopback address, opens the page in a fresh
profile, presses the start control and prints what kelvo-bench reads:

    @MS<TAB>END<TAB>TEXT   every piece of the page's console: MS milliseconds from the
                           press of the start control in the page's own clock, END "r" for
                           a piece ended by a carriage return (a frame-rate report), else "n"
    =NAME<TAB>VALUE        a figure

  bench.py [--renderer gl|swiftshader] PAGE_DIR start
      to the first animation frame after the mapped-window line: first_frame_ms, load_ms
      (the page's address to an enabled start control), renderer, browser
  bench.py [--renderer gl|swiftshader] PAGE_DIR frames HARBOUR_FROM_S SECONDS
      on through SECONDS of the harbour, which begins HARBOUR_FROM_S after the mapped-window
      line: the processor time of all the browser's processes over those seconds (cpu_ms,
      cpu_window_ms) and, in their middle, the module's memory (module_bytes), the page's
      JavaScript heap (js_heap_used, js_heap_total), the resident and proportional memory
      of the browser's processes (rss_bytes, pss_bytes, processes), the canvas's size

--renderer gl (the default) is ANGLE over the system's OpenGL (Mesa's llvmpipe under
scripts/headless, as the Linux program draws there), in a browser window of the design
size which the page's full-screen request gives the canvas, but for the bar Chromium keeps
above a page under automation (56 pixels under the harness's Xvfb; neither
--start-fullscreen nor --kiosk removes it): the canvas figure says what was drawn;
swiftshader is Chromium's own software WebGL, headless. Run with /usr/bin/python3 inside
scripts/headless."""
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browsers import Chromium, Served, fact, logline  # noqa: E402

MAPPED = logline("kMappedWindowLine")
REPORT = re.compile(r" *\d+ fps")
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")

# The console's pieces with the page's clock, and the press of the start control, kept on
# the page: a listener on the window in the capture phase runs before the control's own.
KEEP_TIMES = """
  window.kelvoTimed = [];
  for (const kind of ["log", "info", "warn", "error"]) {
    const write = console[kind].bind(console);
    console[kind] = (...words) => { window.kelvoTimed.push([performance.now(), words.join(" ")]); write(...words); };
  }
  window.kelvoPressed = null;
  window.kelvoFirstFrame = null;
  window.addEventListener("click", () => { if (window.kelvoPressed === null) window.kelvoPressed = performance.now(); },
                          {capture: true});
  Module.kelvoMapped = () => requestAnimationFrame(() => { window.kelvoFirstFrame = performance.now(); });"""

RENDERER = """
  const gl = document.createElement("canvas").getContext("webgl2");
  if (!gl) return "no WebGL 2";
  const info = gl.getExtension("WEBGL_debug_renderer_info");
  return info ? gl.getParameter(info.UNMASKED_RENDERER_WEBGL) : gl.getParameter(gl.RENDERER);"""


def figure(name, value):
    print(f"={name}\t{value}", flush=True)


def wait(predicate, seconds, what):
    until = time.time() + seconds
    while time.time() < until:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise SystemExit(f"bench: {what} within {seconds} s")


def descendants(root):
    """The process ids under root (not root itself), from /proc's parent links."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                parent = int(stat.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        children.setdefault(parent, []).append(int(entry))
    found, todo = [], [root]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def cpu_ms(pids):
    """User and system time of the processes (their ended children's not counted), in ms."""
    total = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except (OSError, IndexError, ValueError):
            pass
    return total * 1000 / CLOCK_TICKS


def memory(pids):
    """The sums of Rss and Pss (bytes) of the processes, and how many were read."""
    rss = pss = read = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/smaps_rollup") as rollup:
                for line in rollup:
                    if line.startswith("Rss:"):
                        rss += int(line.split()[1]) * 1024
                    elif line.startswith("Pss:"):
                        pss += int(line.split()[1]) * 1024
            read += 1
        except OSError:
            pass
    return rss, pss, read


def main(arguments):
    renderer = "gl"
    if arguments[:1] == ["--renderer"]:
        renderer, arguments = arguments[1], arguments[2:]
    if len(arguments) not in (2, 4) or arguments[1] not in ("start", "frames") or (arguments[1] == "frames") != (
            len(arguments) == 4) or renderer not in ("gl", "swiftshader"):
        raise SystemExit(__doc__)
    page, what = arguments[0], arguments[1]
    width, height = int(fact("kDesignWidthPixels")), int(fact("kDesignHeightPixels"))
    if renderer == "gl":
        options = {"headless": False, "flags": ["--use-angle=gl", "--ignore-gpu-blocklist", "--start-fullscreen"]}
    else:
        options = {}
    with Served(page) as served, Chromium(width=width, height=height, **options) as browser:
        figure("browser", browser.driver.capabilities.get("browserName", "chromium") + " " +
               browser.driver.capabilities.get("browserVersion", ""))
        opened = time.time()
        browser.open(served.url("index.html"))
        browser.script(KEEP_TIMES)
        wait(lambda: browser.script("return !document.getElementById('start').disabled;"), 120,
             "the start control is not enabled")
        figure("load_ms", round((time.time() - opened) * 1000, 1))
        figure("renderer", browser.script(RENDERER))
        pids = descendants(browser.driver.service.process.pid)
        browser.click("#start")
        wait(lambda: browser.script("return window.kelvoFirstFrame !== null;"), 180, "no first frame")
        pressed, first = browser.script("return [window.kelvoPressed, window.kelvoFirstFrame];")
        figure("first_frame_ms", round(first - pressed, 1))
        if what == "frames":
            mapped = next(at for at, text in browser.script("return window.kelvoTimed;") if MAPPED in text)
            harbour_from, seconds = float(arguments[2]), float(arguments[3])
            # The page's clock at the mapped-window line, in this process's clock.
            mapped_here = time.time() - (browser.script("return performance.now();") - mapped) / 1000
            time.sleep(max(0.0, mapped_here + harbour_from - time.time()))
            pids = descendants(browser.driver.service.process.pid)
            begun, cpu_begun = time.time(), cpu_ms(pids)
            time.sleep(seconds / 2)
            rss, pss, read = memory(pids)
            module, used, total, canvas = browser.script("""
              const heap = performance.memory || {};
              const c = document.getElementById("canvas");
              return [HEAP8.length, heap.usedJSHeapSize || 0, heap.totalJSHeapSize || 0, c.width + "x" + c.height];""")
            time.sleep(max(0.0, begun + seconds - time.time()))
            figure("cpu_ms", round(cpu_ms(pids) - cpu_begun, 1))
            figure("cpu_window_ms", round((time.time() - begun) * 1000, 1))
            figure("module_bytes", module)
            figure("js_heap_used", used)
            figure("js_heap_total", total)
            figure("rss_bytes", rss)
            figure("pss_bytes", pss)
            figure("processes", read)
            figure("canvas", canvas)
            time.sleep(1.5)  # the report of the window's last second
        # The console keeps no carriage return: a frame-rate report, which the program ends
        # with one, is a console line of its own in the report's form.
        for at, text in browser.script("return window.kelvoTimed;"):
            for piece in text.replace("\r\n", "\n").split("\n"):
                parts = piece.split("\r")
                for i, part in enumerate(parts):
                    ended = "r" if i < len(parts) - 1 or REPORT.fullmatch(part) else "n"
                    if part or ended == "r":
                        print(f"@{at - pressed:.1f}\t{ended}\t{part}", flush=True)


if __name__ == "__main__":
    main(sys.argv[1:])
