#!/usr/bin/python3
"""make test-web: the page (make web's site) in Debian's Chromium, headless, driven by selenium.

The site is served on 127.0.0.1 by a server in a thread of this script. With ?test in the address
the page runs no frames by itself and window.quenrikTest runs exactly the frames asked for; the
pictures read back (the frame buffer, and the canvas) must equal the program's own after as many
frames with the same buttons (web_program_picture, from the native build), and the log panel must
hold the program's own words. The keys go through the driver as a user's would. Without ?test
the page paces itself: the frames a second over a few seconds are printed, as are the site's
size, the time to the first picture and the core's speed beside the native core's; none of
those figures fails the test unless it is absurd.

The sound: the samples the page takes from the module must equal the native core's
(libretro_bench --audio) for the same frames, and what the page plays is heard through
AnalyserNodes hung beside every node connected to the speakers by a script that runs before the
page's own: a level with the sound cartridge's music, silence when paused, muted or hidden.
"""
import argparse
import base64
import functools
import gzip
import http.server
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

WIDTH, HEIGHT = 256, 240
PICTURE_BYTES = WIDTH * HEIGHT * 2
A, B, SELECT, START, UP, DOWN, LEFT, RIGHT = (1 << i for i in range(8))
# The page's demo: the build of the demo at the console's pace with the page's keys in its text,
# which the site serves as demo.nes.
DEMO = "demo-web"


def pattern(frames, first=0):
    """Buttons that change every 8 frames, as the golden-checksum test holds them."""
    return [((((f // 8) + 1) * 2654435761) % 2**32) >> 24 for f in range(first, first + frames)]


class Failures:
    def __init__(self):
        self.failed = []
        self.checks = 0

    def check(self, condition, name, detail=""):
        self.checks += 1
        if condition:
            print("ok     " + name)
        else:
            print("FAILED " + name + (": " + detail if detail else ""))
            self.failed.append(name)
        return condition


class Program:
    """The program's picture and words after a number of frames (quenrik_picture, the RetroArch
    tests' tool)."""

    BUTTONS = ("a", "b", "select", "start", "up", "down", "left", "right")

    def __init__(self, native):
        self.native = native
        self.tool = os.path.join(native, "tests", "libretro", "quenrik_picture")
        self.roms = os.path.join(native, "roms")
        self.scratch = tempfile.mkdtemp(prefix="quenrik-web-")

    def rom(self, name):
        return os.path.join(self.roms, name + ".nes")

    def run(self, cartridge, buttons, fast=False, reset_at=None):
        """buttons: the pad's buttons for each frame (bit i: BUTTONS[i]); the picture comes back
        as 256x240 RGB565 pixels, little-endian."""
        prefix = os.path.join(self.scratch, "picture-")
        command = [self.tool, self.rom(cartridge), prefix]
        if fast:
            command.append("-f")
        if reset_at is not None:
            command += ["-r", str(reset_at)]
        held = 0
        for frame, mask in enumerate(list(buttons) + [0]):
            if (mask or 0) != held:
                held = mask or 0
                command.append("%d:%s" % (frame, "+".join(n for i, n in enumerate(self.BUTTONS) if held >> i & 1)))
        command.append(str(len(buttons)))
        result = subprocess.run(command, stdout=subprocess.PIPE, check=True, env=dict(os.environ, SDL_VIDEODRIVER="dummy"))
        with open(prefix + str(len(buttons)) + ".ppm", "rb") as f:
            rgb = f.read()[len(b"P6\n256 240\n255\n"):]
        # Each channel was widened from the surface's pixel by repeating its top bits.
        picture = bytearray()
        for i in range(0, len(rgb), 3):
            v = (rgb[i] >> 3) << 11 | (rgb[i + 1] >> 2) << 5 | rgb[i + 2] >> 3
            picture += bytes((v & 0xFF, v >> 8))
        words = [line for line in result.stdout.decode().split("\n") if line.strip() != ""]
        return bytes(picture), words


def first_difference(page, program):
    for i in range(0, min(len(page), len(program)), 2):
        if page[i:i + 2] != program[i:i + 2]:
            pixel = i // 2
            return "first at x=%d y=%d: page %04x, program %04x" % (
                pixel % WIDTH, pixel // WIDTH, int.from_bytes(page[i:i + 2], "little"),
                int.from_bytes(program[i:i + 2], "little"))
    return "sizes %d and %d" % (len(page), len(program))


def canvas_difference(rgba, program):
    """The canvas, 320x240 RGBA, against the program's picture: each channel's top bits, the
    black columns at each side."""
    wrong = 0
    first = None
    for y in range(HEIGHT):
        for x in range(320):
            at = (y * 320 + x) * 4
            r, g, b, a = rgba[at:at + 4]
            if 32 <= x < 288:
                v = int.from_bytes(program[(y * WIDTH + x - 32) * 2:(y * WIDTH + x - 32) * 2 + 2], "little")
                good = (r >> 3, g >> 2, b >> 3, a) == (v >> 11, (v >> 5) & 63, v & 31, 255)
            else:
                good = (r, g, b, a) == (0, 0, 0, 255)
            if not good:
                wrong += 1
                first = first or "x=%d y=%d rgba %d,%d,%d,%d" % (x, y, r, g, b, a)
    return None if wrong == 0 else "%d pixels differ, first at %s" % (wrong, first)


class Page:
    def __init__(self, driver, url, serving, site):
        self.driver = driver
        self.url = url
        self.serving = serving  # the server's delays and missing files, by file name
        self.site = site

    def js(self, script, *arguments):
        return self.driver.execute_script(script, *arguments)

    def js_async(self, script, *arguments):
        return self.driver.execute_async_script("const done = arguments[arguments.length - 1];" + script, *arguments)

    def open(self, test=True, started=True):
        self.driver.get(self.url + ("?test" if test else ""))
        if started:
            self.wait("return !!(window.quenrik && window.quenrik.cartridge)", "the page started")

    def wait(self, script, what, seconds=10, *arguments):
        end = time.time() + seconds
        while time.time() < end:
            value = self.js(script, *arguments)
            if value:
                return value
            time.sleep(0.02)
        raise AssertionError("timed out waiting until " + what + "; status: " + str(self.status()))

    def status(self):
        return self.js("return window.quenrik && window.quenrik.status")

    def banner(self):
        return self.js("return window.quenrik.banner")

    def wait_status(self, text):
        return self.wait("return window.quenrik.status.includes(arguments[0]) && window.quenrik.status", "the status says " + repr(text), 10, text)

    def frames(self, buttons):
        return self.js("return quenrikTest.runFrames(arguments[0])", list(buttons))

    def picture(self):
        text = self.js("return quenrikTest.picture()")
        return base64.b64decode(text) if text else b""

    def canvas(self):
        return base64.b64decode(self.js("return quenrikTest.canvas()"))

    def load(self, program, cartridge):
        with open(program.rom(cartridge), "rb") as f:
            text = base64.b64encode(f.read()).decode()
        return self.js("return quenrikTest.loadCartridge(arguments[0], arguments[1])", cartridge + ".nes", text)

    def click(self, element_id):
        self.driver.find_element(By.ID, element_id).click()

    def choose_slot(self, number):
        self.driver.find_element(By.CSS_SELECTOR, '#slots button[data-slot="%d"]' % number).click()

    def choose_file(self, path):
        self.driver.find_element(By.ID, "file").send_keys(os.path.abspath(path))

    def drop_file(self, name, data=None, size=0):
        """Drops data, or size zero bytes made in the page."""
        self.js("""
            const bytes = arguments[1] === null ? new Uint8Array(arguments[2])
                                                : Uint8Array.from(atob(arguments[1]), (c) => c.charCodeAt(0));
            const transfer = new DataTransfer();
            transfer.items.add(new File([bytes], arguments[0]));
            document.getElementById('screen').dispatchEvent(
                new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));""",
                name, None if data is None else base64.b64encode(data).decode(), size)

    def log_since(self, note):
        """The core's lines in the log panel after the last page note that starts with note."""
        lines = self.js("return Array.from(document.querySelectorAll('#log div')).map((d) => d.textContent)")
        start = max(i for i, line in enumerate(lines) if line.startswith("» " + note))
        return [line for line in lines[start + 1:] if not line.startswith("» ")]


def same_picture(failures, page, program, name, cartridge, buttons, fast=False, reset_at=None, canvas=False):
    expected, words = program.run(cartridge, buttons, fast, reset_at)
    got = page.picture()
    ok = failures.check(got == expected, name, "" if got == expected else first_difference(got, expected))
    if canvas:
        difference = canvas_difference(page.canvas(), expected)
        failures.check(difference is None, name + ", on the canvas", difference or "")
    return ok, expected, words


def check_pictures(failures, page, program):
    page.open()
    cases = [("demo", pattern(90), False), ("demo", pattern(90), True), (DEMO, pattern(90), False),
             ("bench_game", pattern(120), False),
             ("bench_game", pattern(120), True), ("bench_sprites", [0] * 120, False), ("screen", [0] * 5, False),
             ("joypad", pattern(40), False)]
    for cartridge, buttons, fast in cases:
        if fast != page.js("return document.getElementById('fast').checked"):
            page.click("fast")
        page.load(program, cartridge)
        page.frames(buttons)
        name = "%s, %d frames%s" % (cartridge, len(buttons), ", fast mode" if fast else "")
        _, _, words = same_picture(failures, page, program, name + ": the program's picture", cartridge, buttons,
                                   fast, canvas=True)
        # The program's -f answers "Fast mode enabled" before the loader's report: the page's
        # switch is no command line, and the core says nothing of it.
        if fast:
            words = words[1:] if words[:1] == ["Fast mode enabled"] else ["(no line for -f)"] + words
        log = page.log_since(cartridge + ".nes")
        failures.check(log == words, name + ": the log panel has the program's words", "%r against %r" % (log, words))
    if page.js("return document.getElementById('fast').checked"):
        page.click("fast")


def check_start(failures, page, program):
    """A cartridge dropped while the module is still on its way is taken once it is ready, in the
    demo's place; without demo.nes the page waits for a cartridge."""
    with open(program.rom("screen"), "rb") as f:
        screen = f.read()
    page.serving["delays"]["quenrik.wasm"] = 1.5
    page.open(started=False)
    page.drop_file("screen.nes", screen)
    page.serving["delays"].clear()
    page.wait("return window.quenrik.cartridge", "a cartridge")
    name = page.js("return window.quenrik.cartridge.name")
    failures.check(name == "screen.nes", "a cartridge dropped before the module was ready is taken", name)
    page.frames([None] * 5)
    same_picture(failures, page, program, "the early cartridge from its first frame: its picture", "screen", [0] * 5)

    page.serving["missing"].add("demo.nes")
    page.open(started=False)
    page.wait("return window.quenrik.ready", "the module")
    time.sleep(0.2)
    status = page.status()
    failures.check(status == "Open a cartridge, or drop one on the page." and page.js("return window.quenrik.cartridge") is None,
                   "without demo.nes the page waits for a cartridge", status)
    page.choose_file(program.rom("screen"))
    page.wait_status("Playing screen.nes.")
    page.frames([None] * 5)
    same_picture(failures, page, program, "without demo.nes a chosen cartridge plays", "screen", [0] * 5)
    page.serving["missing"].clear()
    console_errors(failures, page.driver, "but the missing demo's", "demo.nes - Failed to load resource")


def check_keys(failures, page, program):
    page.open()
    page.load(program, DEMO)
    script = [0] * 6
    page.frames([None] * 6)
    keys = [("x", A, "A"), ("z", B, "B"), ("a", SELECT, "Select"), ("s", START, "Start"),
            (Keys.ARROW_UP, UP, "Up"), (Keys.ARROW_LEFT, LEFT, "Left"), (Keys.ARROW_DOWN, DOWN, "Down"),
            (Keys.ARROW_RIGHT, RIGHT, "Right")]
    for key, button, name in keys:
        ActionChains(page.driver).key_down(key).perform()
        held = 24 if button >= UP else 3
        page.frames([None] * held)
        script += [button] * held
        ok, expected, _ = same_picture(failures, page, program, "key %s held %d frames: the program's picture" % (name, held),
                                       DEMO, script)
        if button in (A, B, SELECT, START, LEFT):
            unheld, _ = program.run(DEMO, script[:-held] + [0] * held)
            failures.check(expected != unheld, "key %s shows on the picture" % name)
        ActionChains(page.driver).key_up(key).perform()
    page.frames([None] * 3)
    script += [0] * 3
    same_picture(failures, page, program, "keys released: the program's picture", DEMO, script, canvas=True)

    # Two gamepads as the Gamepad API would show them, both playing: one in the standard mapping
    # with A (the right face button), one without it whose Start (9) and stick are read but whose
    # button 12 is no Up.
    pads = """navigator.getGamepads = () => [
        { connected: true, mapping: '', axes: [-1, 0.2], buttons: Array.from({ length: 13 }, (_, i) => ({ pressed: i === 9 || i === 12 })) },
        null, { connected: true, mapping: 'standard', axes: [0, 0], buttons: Array.from({ length: 17 }, (_, i) => ({ pressed: arguments[0].includes(i) })) }];"""
    page.js(pads, [1])
    page.frames([None] * 4)
    script += [A | START | LEFT] * 4
    _, expected, _ = same_picture(failures, page, program, "two gamepads' A, Start and stick left: the program's picture",
                                  DEMO, script)
    failures.check(expected != program.run(DEMO, script[:-4] + [0] * 4)[0], "the gamepad shows on the picture")
    page.js("navigator.getGamepads = () => [];")
    page.frames([None] * 2)
    script += [0] * 2
    same_picture(failures, page, program, "the gamepad gone: the program's picture", DEMO, script)
    # The shoulder buttons save (right) and load (left) the state, the triggers reset (left) and pause (right).
    page.js(pads, [7])
    page.frames([None])
    page.js(pads, [])
    page.frames([None])
    failures.check(page.js("return window.quenrik.paused"), "the right trigger pauses")
    page.js(pads, [7])
    page.frames([None])
    failures.check(not page.js("return window.quenrik.paused"), "and pressed again resumes")
    page.js(pads, [5])
    page.frames([None])
    page.wait_status("State saved in slot")
    page.js(pads, [4])
    page.frames([None])
    page.wait_status("loaded.")
    page.js(pads, [6])
    page.frames([None])
    failures.check(page.js("return document.querySelector('#log div:last-child').textContent") == "» reset",
                   "the left trigger resets")
    page.js("navigator.getGamepads = () => [];")

    # R resets, as the program's R key: taken before the next frame.
    page.load(program, "reset")
    page.frames([None] * 20)
    ActionChains(page.driver).send_keys("r").perform()
    page.frames([None] * 20)
    _, expected, _ = same_picture(failures, page, program, "key R: the program's picture after its reset", "reset",
                                  [0] * 40, reset_at=20)
    failures.check(expected != program.run("reset", [0] * 40)[0], "key R shows on the picture")


def check_files(failures, page, program):
    page.open()
    page.choose_file(program.rom("screen"))
    page.wait_status("Playing screen.nes.")
    page.frames([None] * 5)
    same_picture(failures, page, program, "screen.nes chosen in the file picker: its picture", "screen", [0] * 5)
    with open(program.rom("bench_sprites"), "rb") as f:
        page.drop_file("sprites.nes", f.read())
    page.wait_status("Playing sprites.nes.")
    page.frames([None] * 30)
    same_picture(failures, page, program, "a cartridge dropped on the page: its picture", "bench_sprites", [0] * 30)

    # Refused files: the loader's words on the page, and the game goes on as if nothing happened.
    page.load(program, DEMO)
    page.frames(pattern(30))
    text = os.path.join(program.scratch, "notes.txt")
    with open(text, "w") as f:
        f.write("not a cartridge\n")
    page.choose_file(text)
    status = page.wait_status("not loaded")
    failures.check("notes.txt not loaded: This archive is not a valid ROM file or is corrupted" in status
                   and DEMO + ".nes goes on" in status, "a text file is refused with the loader's words", status)
    big = bytearray(b"NES\x1a\x03\x01" + bytes(10) + bytes(3 * 16384 + 8192))
    page.drop_file("big.nes", bytes(big))
    status = page.wait_status("big.nes not loaded")
    failures.check("This ROM has 3 16KB PRG banks and 1 8KB CHR banks, but only 2 of each fit (no bank switching): "
                   "not loaded" in status, "a cartridge too big is refused with the loader's words", status)
    # Far more than any cartridge: refused before the module's memory takes any of it.
    memory = page.js("return quenrikTest.memory()")
    page.drop_file("huge.nes", size=64 << 20)
    status = page.wait_status("huge.nes not loaded")
    grown = page.js("return quenrikTest.memory()") - memory
    failures.check(grown == 0 and "larger than any cartridge" in status,
                   "a 64 MB file is refused without growing the module's memory", "%d bytes more; %s" % (grown, status))
    page.drop_file("empty.nes", b"")
    status = page.wait_status("empty.nes not loaded")
    failures.check("This archive is not a valid ROM file" in status, "an empty file is refused", status)
    failures.check(page.js("return window.quenrik.cartridge.name") == DEMO + ".nes", "the demo is still the game")
    page.frames(pattern(30, 30))
    same_picture(failures, page, program, "after the refused files the demo went on untouched", DEMO, pattern(60))


def check_states(failures, page, program):
    page.open()
    page.load(program, DEMO)
    page.frames(pattern(40))
    page.choose_slot(1)
    page.click("save")
    page.wait_status("State saved in slot 1.")
    good = base64.b64decode(page.driver.execute_async_script(
        "const done = arguments[arguments.length - 1]; quenrikTest.readSlot(1).then(done, (e) => done(''));"))
    # The header and hash, the image, the machine's fields, the sound unit's 176 bytes.
    failures.check(len(good) == 16 + 0x14000 + 54 + 176, "the saved state is a whole state", "%d bytes" % len(good))

    # Broken states in slots 2-4: each refused with its reason, the game untouched.
    pc_out_of_range = bytearray(good)
    pc_out_of_range[16 + 0x14000 + 5:16 + 0x14000 + 9] = (0x10000).to_bytes(4, "little")
    not_ours = bytearray(good)
    not_ours[0:4] = b"XXXX"
    broken = [(2, b"garbage", "the state has the wrong size"), (3, bytes(not_ours), "this is not a quenrik state"),
              (4, bytes(pc_out_of_range), "the program counter is not a 16-bit address")]
    for number, data, reason in broken:
        page.driver.execute_async_script(
            "const done = arguments[arguments.length - 1]; quenrikTest.writeSlot(arguments[0], Array.from(atob(arguments[1]),"
            " (c) => c.charCodeAt(0))).then(() => done(), () => done());", number, base64.b64encode(data).decode())
        page.choose_slot(number)
        page.click("load")
        status = page.wait_status("Slot %d:" % number)
        failures.check("state not loaded: " + reason in status and "the game goes on" in status,
                       "a broken state in slot %d is refused: %s" % (number, reason), status)
    page.frames(pattern(20, 40))
    same_picture(failures, page, program, "after the broken states the demo went on untouched", DEMO, pattern(60))

    # The state of slot 1 after a reload of the page, loaded while paused: its picture at once
    # (the frame that follows the state), and the game goes on from the state itself.
    page.open()
    page.choose_slot(1)
    page.wait("return document.getElementById('slot-info').textContent.includes('saved')", "slot 1 shows its state")
    page.click("pause")
    page.click("load")
    page.wait_status("State of slot 1 loaded (paused).")
    difference = canvas_difference(page.canvas(), program.run(DEMO, pattern(40) + [0])[0])
    failures.check(difference is None, "a state loaded while paused is drawn at once", difference or "")
    page.click("pause")
    page.frames(pattern(50, 40))
    same_picture(failures, page, program, "slot 1's state after a reload, 50 frames on", DEMO, pattern(90),
                 canvas=True)

    # A transaction that fails (a key added twice) says why.
    error = page.js_async("quenrikTest.storage('readwrite', (s) => s.add(1, 'twice') && s.add(2, 'twice'))"
                          ".then(() => done('stored'), (e) => done(String(e && e.message)));")
    failures.check("Key already exists" in error, "a failed transaction gives its error", error)
    # The browser closes the storage's connection (site data cleared): the page opens it again.
    page.driver.execute_cdp_cmd("Storage.clearDataForOrigin", {"origin": page.url.rstrip("/"), "storageTypes": "indexeddb"})
    page.choose_slot(2)
    page.click("save")
    status = page.wait("return /slot 2|stored/.test(window.quenrik.status) && window.quenrik.status", "the save's end")
    failures.check(status == "State saved in slot 2.", "a save after the browser closed the storage", status)


# Before the page's own scripts: an AnalyserNode beside every node connected to the speakers, and
# the changes of the tab's visibility and of those nodes' contexts' states, in order.
TAP = """(() => {
  const connect = AudioNode.prototype.connect, taps = [], events = [];
  document.addEventListener("visibilitychange", () => events.push(document.visibilityState));
  AudioNode.prototype.connect = function (target, ...rest) {
    const result = connect.call(this, target, ...rest);
    if (target instanceof AudioDestinationNode) {
      this.context.addEventListener("statechange", (event) => events.push(event.target.state));
      taps.push(this.context.createAnalyser());
      connect.call(this, taps[taps.length - 1]);
    }
    return result;
  };
  window.quenrikTaps = { taps, events, peak: () => Math.max(0, ...taps.map((tap) => {
    const data = new Float32Array(tap.fftSize);
    tap.getFloatTimeDomainData(data);
    return data.reduce((peak, v) => Math.max(peak, Math.abs(v)), 0);
  })) };
})();"""
FIGURES = []     # lines the groups add to the figures printed at the end
HEARD = 0.004    # a peak above this is sound (full scale is 1), below SILENT silence
SILENT = 0.0005
TARGET = 0.07    # the page's queue, in seconds (page.js)


def sound_level(failures, page, name, heard, seconds=1.0):
    """The highest level the taps saw over some seconds (each holds the last 2,048 samples)."""
    level, end = 0, time.time() + seconds
    while time.time() < end:
        level = max(level, page.js("return quenrikTaps.peak()"))
        time.sleep(0.03)
    return failures.check(level > HEARD if heard else level < SILENT,
                          name + (": heard, peak %.3f" % level if heard else ": silence"), "peak %.5f" % level)


def native_sound(program, frames):
    """The native core's samples of sound.nes's first frames (none pressed), and its rate."""
    path = os.path.join(program.scratch, "sound.raw")
    result = subprocess.run([os.path.join(program.native, "bench", "libretro_bench"), os.path.join(program.native, "quenrik_libretro.so"),
                             program.rom("sound"), str(frames), "0", "--audio", path], capture_output=True, check=True)
    with open(path, "rb") as f:
        return f.read(), int(re.search(r"audio ([0-9]+) Hz", result.stderr.decode()).group(1))


def check_sound_samples(failures, page, program):
    """The samples the page takes frame by frame are the native core's; what the page does not
    take the module keeps in a buffer of fixed room, counting what it drops."""
    expected, rate = native_sound(program, 300)
    ten = (len(native_sound(program, 310)[0]) - len(expected)) // 4
    page.open()
    page.load(program, "sound")
    page.js("quenrikTest.recordSound()")
    for _ in range(300):
        page.frames([0])
    got = base64.b64decode(page.js("return quenrikTest.sound()"))
    at = next((i // 4 for i in range(0, min(len(got), len(expected)), 2) if got[i:i + 2] != expected[i:i + 2]), None)
    failures.check(got == expected, "sound.nes, 300 frames: the page's %d stereo samples are the native core's" % (len(got) // 4),
                   "native %d, first difference at %s" % (len(expected) // 4, at))
    levels = struct.unpack("<%dh" % (len(got) // 2), got)
    failures.check(max(levels) - min(levels) > 1000, "sound.nes is heard in the samples", "from %d to %d" % (min(levels), max(levels)))
    failures.check(page.js("return window.quenrik.sound.coreRate") == rate, "the page reads the core's rate, %d Hz" % rate)
    failures.check(page.js("return quenrikTest.soundHeld()") == [0, 0], "taken every frame, no sample is lost")
    page.js("quenrikTest.bench(10, false)")
    held = page.js("return quenrikTest.soundHeld()")
    failures.check(held == [4096, ten - 4096], "10 frames not taken: the module keeps 4,096 sample frames, counts the rest dropped",
                   "%r of %d" % (held, ten))


def check_sound_speakers(failures, page, program):
    """The sound cartridge through the page's audio nodes, as it reaches the speakers."""
    tap = page.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": TAP})["identifier"]
    sound = lambda: page.js("return window.quenrik.sound")
    try:
        page.open(test=False)
        page.js("localStorage.clear()")
        page.open(test=False)
        page.choose_file(program.rom("sound"))
        page.wait_status("Playing sound.nes.")
        time.sleep(0.3)
        info = page.js("return document.getElementById('sound-info').textContent")
        failures.check(sound()["context"] is None and page.js("return quenrikTaps.taps.length") == 0 and
                       info == "sound starts at a click or a key", "no sound before a gesture, and the page says why", info)
        page.click("screen")
        page.wait("return window.quenrik.sound.stats && window.quenrik.sound.stats.state === 'playing'", "the sound plays")
        now = sound()
        failures.check(now["context"] == "running" and now["rate"] == now["coreRate"] and page.js("return quenrikTaps.taps.length") == 1,
                       "a click starts the sound, at the core's rate", str(now))
        sound_level(failures, page, "sound.nes after a click", True, 1.5)
        stats = sound()["stats"]
        FIGURES.append("sound in Chromium, its first %.1f s: queue %.0f ms (%.0f ms on average), %d dropped, %d repeated, %d starved" %
                       (stats["played"] / now["rate"], stats["fill"] * 1000, stats["average"] * 1000, stats["dropped"],
                        stats["repeated"], stats["starved"]))

        page.click("pause")
        time.sleep(0.3)
        sound_level(failures, page, "paused", False, 0.5)
        now = sound()
        failures.check(now["context"] == "suspended" and now["stats"]["state"] == "waiting" and now["stats"]["starved"] == stats["starved"],
                       "paused: the queue flushed (not run dry), the context suspended", str(now))
        page.click("pause")
        sound_level(failures, page, "resumed", True, 1.5)
        page.click("mute")
        time.sleep(0.2)
        sound_level(failures, page, "muted", False)
        ActionChains(page.driver).send_keys("m").perform()
        sound_level(failures, page, "M unmutes", True, 1.5)

        # The volume reached with Tab takes the arrows: down to nothing, then up to 60.
        page.js("document.getElementById('mute').focus()")
        ActionChains(page.driver).send_keys(Keys.TAB).send_keys(*[Keys.ARROW_LEFT] * 20).perform()
        time.sleep(0.2)
        failures.check([page.js("return document.activeElement.id"), sound()["volume"], page.js("return window.quenrik.buttons")] ==
                       ["volume", 0, 0], "the volume reached with Tab, turned down with the arrows, which the game did not get")
        sound_level(failures, page, "the volume at 0", False)
        ActionChains(page.driver).send_keys(*[Keys.ARROW_RIGHT] * 12).perform()
        page.click("mute")
        # Kept across a reload; there a key starts the sound as a click does.
        page.open(test=False)
        kept = page.js("return [document.getElementById('volume').value, document.getElementById('mute').getAttribute('aria-pressed'),"
                       " window.quenrik.sound.volume, window.quenrik.sound.muted]")
        failures.check(kept == ["60", "true", 60, True], "volume and mute are kept after a reload", str(kept))
        ActionChains(page.driver).send_keys("x").perform()
        page.wait("return window.quenrik.sound.context === 'running'", "a key starts the sound")
        sound_level(failures, page, "still muted after the reload", False, 0.5)
        page.click("mute")
        page.choose_file(program.rom("sound"))
        page.wait_status("Playing sound.nes.")
        sound_level(failures, page, "unmuted after the reload, at volume 60", True, 1.5)

        # A hidden tab: the context suspended until the tab is seen again.
        shown, seen = page.driver.current_window_handle, page.js("return quenrikTaps.events.length")
        page.driver.switch_to.new_window("tab")
        time.sleep(1.5)
        page.driver.close()
        page.driver.switch_to.window(shown)
        page.wait("return window.quenrik.sound.context === 'running'", "the sound back")
        events = page.js("return quenrikTaps.events.slice(arguments[0])", seen)
        failures.check(events == ["hidden", "suspended", "visible", "running"], "a hidden tab: the context suspended until it is seen",
                       " ".join(events))
        sound_level(failures, page, "the tab seen again", True, 1.5)
        page.choose_file(program.rom("countdown"))
        page.wait("return window.quenrik.status.startsWith('Stopped')", "the machine stops")
        time.sleep(0.3)
        failures.check(sound()["context"] == "suspended", "a stopped machine: the context suspended")
    finally:
        page.driver.execute_cdp_cmd("Page.removeScriptToEvaluateOnNewDocument", {"identifier": tap})


# The worklet (sound.js) in the page's thread on simulated clocks, for a minute: the page's display
# every 1/60 s of its clock running the frames due as the page does, the audio taking 128 samples
# at a time. The signal is a ramp of 1 a sample (each sample played tells which one it is) or a
# 440 Hz tone; figures are taken after 20 s.
SIMULATION = """
const [source, cases, target] = arguments;
let Processor = null;
globalThis.AudioWorkletProcessor = class { constructor() { this.port = { postMessage() {} }; } };
globalThis.registerProcessor = (name, processor) => { Processor = processor; };
(0, eval)(source);
const FRAME = 655171 / 39375000;
return cases.map(([rate, output, clock, ramp, stopAt]) => {
  globalThis.sampleRate = output;
  const p = new Processor({ processorOptions: { rate, target } });
  const value = ramp ? (i) => (i % 30000) - 15000 : (i) => Math.round(8192 * Math.sin(2 * Math.PI * 440 * i / rate));
  const r = { low: 1, high: 0, sum: 0, steep: 0, crossings: 0, odd: 0, closest: 1e9, tail: 0 };
  let next = 0, owed = 0, carry = 0, k = 0, last = 0, corrected = -1e9, start = null, flushed = null, t = 0;
  for (; t < 60 * output; t += 128) {
    for (; next <= t / output; next += 1 / 60) {
      if (stopAt !== null && next >= stopAt) {
        if (flushed === null) p.receive({ flush: true });
        flushed = flushed === null ? t : flushed;
        continue;
      }
      for (owed += clock / 60; owed >= FRAME; owed -= FRAME) {
        carry += rate * 655171;
        const samples = new Int16Array(2 * Math.floor(carry / 39375000));
        carry %= 39375000;
        for (let i = 0; i < samples.length; i += 2) samples[i] = samples[i + 1] = value(k++);
        p.receive({ samples });
      }
    }
    if (t >= 20 * output && start === null) start = Object.assign({}, p.stats);
    const left = new Float32Array(128);
    p.process([], [[left, new Float32Array(128)]]);
    left.forEach((v, i) => {
      r.steep = Math.max(r.steep, Math.abs(v - last));
      r.crossings += last < 0 && v >= 0;
      const step = Math.round((v - last) * 32768);
      if (ramp && start !== null && p.envelope === 1 && step > -10000 && step !== 1) {
        r.odd += step !== 0 && step !== 2;
        r.closest = Math.min(r.closest, t + i - corrected);
        corrected = t + i;
      }
      r.tail += flushed !== null && t + i > flushed + 0.006 * output + 128 && v !== 0;
      last = v;
    });
    if (start !== null) [r.low, r.high, r.sum] = [Math.min(r.low, p.fill()), Math.max(r.high, p.fill()), r.sum + p.fill()];
  }
  for (const key in p.stats) r[key] = p.stats[key] - start[key];
  r.average = r.sum / ((t - 20 * output) / 128);
  return r;
});
"""


def check_sound_worklet(failures, page, program):
    """The worklet on simulated clocks: the queue keeps its target by single samples dropped or
    repeated, never more than one in 200; a drift beyond that, a page that stops and another rate
    go without clicks."""
    page.open()
    with open(os.path.join(page.site, "sound.js")) as f:
        source = f.read()
    # name: the core's rate, the audio's, the page's clock against the audio's, a ramp (or a tone), the page's stop
    cases = {"same clocks": [48000, 48000, 1, True, None], "the page 0.3% fast": [48000, 48000, 1.003, True, None],
             "the page 0.3% slow": [48000, 48000, 0.997, True, None], "the page 1% fast": [48000, 48000, 1.01, False, None],
             "the page 1% slow": [48000, 48000, 0.99, False, None], "paused at 30 s": [48000, 48000, 1, False, 30],
             "48 kHz played at 44.1 kHz": [48000, 44100, 1, False, None]}
    results = page.js(SIMULATION, source, list(cases.values()), TARGET)
    for (name, (rate, output, clock, ramp, stop)), r in zip(cases.items(), results):
        net = (r["dropped"] - r["repeated"]) / r["played"]
        FIGURES.append("sound on simulated clocks, %s: queue %.0f ms on average (%.0f-%.0f); %d dropped, %d repeated (%+.2f%%), "
                       "%d starved, %d skipped" % (name, r["average"] * 1000, r["low"] * 1000, r["high"] * 1000, r["dropped"],
                                                   r["repeated"], net * 100, r["starved"], r["skipped"]))
        # The tone's steepest step from one sample to the next, with a sample left out: a click is far above.
        smooth = r["steep"] < 0.25 * 2 * 3.1416 * 440 / output * 2.2
        detail = str({key: round(value, 4) for key, value in r.items()})
        name = "the worklet, " + name
        if ramp:
            failures.check(abs(r["average"] - TARGET) < 0.02 and r["starved"] == r["skipped"] == 0, name + ": the queue keeps its target "
                           "(%.0f ms)" % (r["average"] * 1000), detail)
            failures.check(abs(net - (clock - 1)) < 0.0003 and r["odd"] == 0 and r["closest"] >= 200 and min(r["dropped"], r["repeated"]) == 0,
                           name + (": the drift taken up by single samples, at least 200 apart" if clock != 1 else ": hardly a sample corrected"),
                           detail)
        elif clock != 1:
            failures.check(r["skipped" if clock > 1 else "starved"] > 0 and r["high"] < 5 * TARGET and smooth and
                           max(r["dropped"], r["repeated"]) <= r["played"] / 200 + 1,
                           name + ": beyond one sample in 200 the queue %s, faded, no click" % ("skips" if clock > 1 else "runs dry"), detail)
        elif stop is not None:
            failures.check(r["tail"] == 0 and smooth, name + ": faded out within 6 ms of the flush, no click", detail)
        else:
            failures.check(abs(r["crossings"] / 60 - 440) < 1 and smooth and r["starved"] == 0,
                           name + ": the tone's pitch kept, no click", detail)


def check_stop(failures, page, program):
    page.open()
    page.load(program, "countdown")
    page.frames([None] * 10)
    _, words = program.run("countdown", [0] * 10)
    banner = page.banner() or ""
    failures.check("This OPCODE (0x2) is not implemented yet or is invalid." in banner,
                   "an unknown opcode: its message over the picture", banner)
    log = page.log_since("countdown.nes")
    failures.check(log == words, "an unknown opcode: the log panel has the program's words", "%r against %r" % (log, words))
    page.click("reset")
    failures.check(page.banner() is None, "reset takes the message away")
    page.frames([None])
    failures.check(page.banner() is None, "after the reset the machine runs again")
    page.frames([None] * 10)
    failures.check(page.banner() is not None, "and stops again at its unknown opcode")

    # This time through the keys: F2 saves, F4 loads.
    page.load(program, "countdown")
    page.frames([None])
    page.choose_slot(1)
    ActionChains(page.driver).send_keys(Keys.F2).perform()
    page.wait_status("State saved in slot 1.")
    page.frames([None] * 10)
    failures.check(page.banner() is not None, "the machine stopped again")
    ActionChains(page.driver).send_keys(Keys.F4).perform()
    page.wait_status("State of slot 1 loaded.")
    failures.check(page.banner() is None, "a state load takes the message away")
    page.frames([None])
    same_picture(failures, page, program, "after the state load the machine runs on", "countdown", [0] * 2)

    # A cartridge that stops at its first instruction: black under the message, as the core
    # sends no picture and the program's window shows none, not the previous game's.
    stops = os.path.join(program.scratch, "stops")
    with open(stops + ".nes", "wb") as f:
        f.write(b"NES\x1a\x01\x01" + bytes(10) + b"\x02" * 0x3FFA + b"\x00\x80" * 3 + bytes(8192))
    page.load(program, "bench_sprites")
    page.frames([None] * 30)
    page.load(program, stops)
    page.frames([None] * 2)
    failures.check("This OPCODE (0x2)" in (page.banner() or ""), "a cartridge that stops at once shows why", str(page.banner()))
    difference = canvas_difference(page.canvas(), bytes(PICTURE_BYTES))
    failures.check(difference is None, "a cartridge that stops at once: its own black picture", difference or "")


def check_pacing(failures, page, program, screenshots):
    """The page on its own clock, with the demo it starts with. Returns the figures to print."""
    with open(os.path.join(page.site, "demo.nes"), "rb") as served, open(program.rom(DEMO), "rb") as built:
        failures.check(served.read() == built.read(), "the site's demo.nes is the native build's %s.nes" % DEMO)
    page.open(test=False)
    page.wait("return window.quenrik.firstPictureMs !== null", "the first picture")
    first_picture = page.js("return window.quenrik.firstPictureMs")
    f0, t0 = page.js("return [window.quenrik.frames, performance.now()]")
    time.sleep(3)
    f1, t1 = page.js("return [window.quenrik.frames, performance.now()]")
    rate = (f1 - f0) * 1000 / (t1 - t0)
    failures.check(1 <= rate <= 1000, "paced by the clock: %.1f frames a second over %.1f s" % (rate, (t1 - t0) / 1000))

    if screenshots:
        ActionChains(page.driver).key_down("x").perform()
        time.sleep(0.3)
        page.driver.save_screenshot(os.path.join(screenshots, "web-demo.png"))
        ActionChains(page.driver).key_up("x").perform()

    page.click("pause")
    time.sleep(0.1)
    paused = page.js("return window.quenrik.frames")
    time.sleep(0.5)
    failures.check(page.js("return window.quenrik.frames") == paused and "Paused" in page.status(),
                   "paused: no frames")
    speed = page.js("return document.getElementById('speed').textContent")
    failures.check(speed == "paused", "paused: the readout says so", speed)
    page.click("pause")
    time.sleep(0.5)
    failures.check(page.js("return window.quenrik.frames") > paused, "resumed: frames again")

    text = os.path.join(program.scratch, "photo.jpg")
    with open(text, "wb") as f:
        f.write(b"\xff\xd8\xff\xe0 not a cartridge")
    page.choose_file(text)
    page.wait_status("photo.jpg not loaded")
    before = page.js("return window.quenrik.frames")
    time.sleep(0.5)
    failures.check(page.js("return window.quenrik.frames") > before, "after a refused file the game plays on")
    if screenshots:
        page.driver.save_screenshot(os.path.join(screenshots, "web-refused.png"))

    page.choose_file(program.rom("countdown"))
    page.wait("return window.quenrik.status.startsWith('Stopped')", "the machine stops")
    time.sleep(1.2)
    speed = page.js("return document.getElementById('speed').textContent")
    failures.check(speed == "stopped", "stopped: the readout says so", speed)
    return rate, first_picture


def check_controls(failures, page, program):
    """Every control is reached with Tab; a control clicked with the mouse keeps no focus, so that
    Space and Enter do not work it again."""
    page.open()
    page.js("document.activeElement.blur()")
    reached = []
    for _ in range(14):
        ActionChains(page.driver).send_keys(Keys.TAB).perform()
        reached.append(page.js("const e = document.activeElement; return e.id || 'slot ' + e.dataset.slot"))
    wanted = ["pause", "reset", "fast", "file", "mute", "volume", "slot 1", "slot 2", "slot 3", "slot 4", "save", "load"]
    failures.check(all(name in reached for name in wanted), "every control is reached with Tab", " ".join(reached))
    state = "return [window.quenrik.paused, document.getElementById('fast').checked, window.quenrik.sound.muted]"
    for control in ["pause", "fast", "mute"]:
        for key, name in [(Keys.SPACE, "Space"), (Keys.ENTER, "Enter")]:
            page.click(control)
            before = page.js(state)
            ActionChains(page.driver).send_keys(key).perform()
            after = page.js(state)
            failures.check(before == after, "%s after a click on %s leaves it alone" % (name, control), "%r, %r" % (before, after))
    ActionChains(page.driver).key_down("x").key_down(Keys.ARROW_UP).perform()
    held = page.js("return window.quenrik.buttons")
    ActionChains(page.driver).key_up("x").key_up(Keys.ARROW_UP).perform()
    failures.check(held == A | UP, "and the game keys then reach the game", str(held))
    # The volume clicked with the mouse leaves the arrows to the game too.
    page.click("volume")
    volume = page.js("return window.quenrik.sound.volume")
    ActionChains(page.driver).key_down(Keys.ARROW_LEFT).perform()
    held = page.js("return window.quenrik.buttons")
    ActionChains(page.driver).key_up(Keys.ARROW_LEFT).perform()
    failures.check(held == LEFT and page.js("return window.quenrik.sound.volume") == volume,
                   "after a click on the volume the arrows reach the game", "%s, volume %s" % (held, volume))


def touch(page, kind, *points):
    """A touch event through the DevTools protocol: the points that are down (x, y), by id."""
    page.driver.execute_cdp_cmd("Input.dispatchTouchEvent", {
        "type": kind, "touchPoints": [{"x": x, "y": y, "id": i} for i, (x, y) in points]})


def centre(page, selector):
    r = page.js("const r = document.querySelector(arguments[0]).getBoundingClientRect();"
                "return [r.left + r.width / 2, r.top + r.height / 2]", selector)
    return r[0], r[1]


PHONES = [("portrait", 390, 844), ("landscape", 844, 390)]


SCREENSHOTS = None  # where check_phone saves the page on a phone, if asked (--screenshots)


def phone(page, width, height, scale=2):
    page.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                {"width": width, "height": height, "deviceScaleFactor": scale, "mobile": True})
    page.driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 5})


def desktop(page):
    page.driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": False})
    page.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


def check_phone(failures, page, program):
    """A phone's screen, touch on: the on-screen pad reaches the game as the program's buttons do,
    several fingers at once, a thumb sliding on the cross; the picture fills the screen's width
    (portrait) or height (landscape), and the page neither scrolls nor zooms."""
    try:
        for orientation, width, height in PHONES:
            phone(page, width, height)
            page.open()
            name = "%s %dx%d" % (orientation, width, height)
            shown = page.js("return [window.quenrik.touchShown].concat(['#cross', '#pad-buttons [data-button=\"0\"]',"
                            " '#pad-buttons [data-button=\"1\"]', '#pad-buttons [data-button=\"2\"]', '#pad-buttons [data-button=\"3\"]']"
                            ".map((s) => { const r = document.querySelector(s).getBoundingClientRect();"
                            " return r.width >= 30 && r.height >= 30 && r.left >= 0 && r.right <= innerWidth && r.bottom <= innerHeight"
                            " || [r.left, r.top, r.width, r.height, innerWidth, innerHeight].map(Math.round).join(); }))")
            failures.check(all(v is True for v in shown), name + ": the on-screen pad is shown, every button on the screen", str(shown))
            box = page.js("const r = document.getElementById('screen-box').getBoundingClientRect(); return [r.left, r.top, r.width, r.height]")
            fills = box[2] == width if orientation == "portrait" else box[3] == height
            failures.check(fills and abs(box[2] / box[3] - 256 * 8 / 7 / 240) < 0.01 and box[1] == 0,
                           name + ": the picture fills the screen's %s at the console's pixel aspect" %
                           ("width" if orientation == "portrait" else "height"), str(box))

            page.load(program, DEMO)
            script = [0] * 6
            page.frames([None] * 6)
            start, a = centre(page, '[data-button="3"]'), centre(page, '[data-button="0"]')
            c = centre(page, "#cross")
            arm = page.js("return document.getElementById('cross').getBoundingClientRect().width") / 3
            right, down, left = (c[0] + arm, c[1]), (c[0], c[1] + arm), (c[0] - arm, c[1])
            steps = [("Start", [(0, start)], START, 3), ("the cross's right", [(0, right)], RIGHT, 24),
                     ("the thumb slid to down", [(0, down)], DOWN, 24),
                     ("left and A together", [(0, left), (1, a)], LEFT | A, 24)]
            for i, (what, points, buttons, frames) in enumerate(steps):
                touch(page, "touchStart" if i in (0, 1) else "touchMove", *points)
                got = page.js("return window.quenrik.buttons")
                failures.check(got == buttons, "%s: a touch on %s holds %s" % (name, what, buttons), str(got))
                page.frames([None] * frames)
                script += [buttons] * frames
                ok, expected, _ = same_picture(failures, page, program, "%s: %s, the program's picture" % (name, what), DEMO, script)
                if i in (0, 3):
                    failures.check(expected != program.run(DEMO, script[:-frames] + [0] * frames)[0], name + ": %s shows on the picture" % what)
                if i == 3:
                    lit = page.js("return Array.from(document.querySelectorAll('#play .held')).map((e) => e.dataset.button).sort().join()")
                    failures.check(lit == "0,6", name + ": the held buttons light up", lit)
                if i in (0, 3):
                    touch(page, "touchEnd")
                    page.frames([None] * 2)
                    script += [0] * 2
            failures.check(page.js("return window.quenrik.buttons") == 0 and not page.js("return document.querySelector('#play .held')"),
                           name + ": every finger lifted, nothing held")
            # A swipe over the pad and the picture: no scroll, no zoom.
            touch(page, "touchStart", (0, c))
            touch(page, "touchMove", (0, (c[0], 5)))
            touch(page, "touchEnd")
            touch(page, "touchStart", (0, centre(page, "#screen-box")))
            touch(page, "touchMove", (0, (10, 10)))
            touch(page, "touchEnd")
            time.sleep(0.3)
            moved = page.js("return [scrollX, scrollY, visualViewport.scale]")
            failures.check(moved == [0, 0, 1], name + ": swipes over the pad and the picture neither scroll nor zoom", str(moved))
            failures.check(page.js("return window.quenrik.sound.context") is not None, name + ": the first touch started the sound")
        if SCREENSHOTS:
            # The demo on its own clock, the thumb on the cross's right and a finger on A.
            orientation, width, height = PHONES[0]
            phone(page, width, height, scale=1)
            page.open(test=False)
            time.sleep(1)
            c = centre(page, "#cross")
            touch(page, "touchStart", (0, (c[0] + c[0] / 3, c[1])), (1, centre(page, '[data-button="0"]')))
            time.sleep(0.5)
            page.driver.save_screenshot(os.path.join(SCREENSHOTS, "web-phone.png"))
            touch(page, "touchEnd")
    finally:
        desktop(page)


def check_settings(failures, page, program):
    """The screen's settings on a phone: the picture's shape and vibration are the player's and
    kept; full screen; the pad hidden on a desktop unless asked for."""
    try:
        phone(page, 390, 844)
        page.open()
        ratio = "const r = document.getElementById('screen-box').getBoundingClientRect(); return r.width / r.height"
        buzz = ("window.buzzes = []; navigator.vibrate = (ms) => { window.buzzes.push(ms); return true; };")
        a = centre(page, '[data-button="0"]')
        page.js(buzz)
        touch(page, "touchStart", (0, a))
        touch(page, "touchEnd")
        failures.check(page.js("return window.buzzes.length") == 0, "a phone: no vibration by default")
        page.js("document.getElementById('vibrate').click();"
                "const shape = document.getElementById('aspect'); shape.value = '4:3'; shape.dispatchEvent(new Event('change'));")
        for reloaded in (False, True):
            if reloaded:
                page.open()
                page.js(buzz)
            touch(page, "touchStart", (0, a))
            touch(page, "touchEnd")
            got = page.js("return [window.buzzes.length, document.getElementById('vibrate').checked]") + [page.js(ratio)]
            failures.check(got[:2] == [1, True] and abs(got[2] - 4 / 3) < 0.01, "a phone: vibration asked for and the 4:3 shape" + (", kept after a reload" if reloaded else ""), str(got))
        page.js("document.getElementById('vibrate').click(); localStorage.removeItem('quenrik-aspect');")
        touch(page, "touchStart", (0, centre(page, '[data-action="fullscreen"]')))
        touch(page, "touchEnd")
        page.wait("return !!document.fullscreenElement", "full screen")
        failures.check(True, "a phone: the pad's full-screen key")
        page.js("document.exitFullscreen()")
        page.wait("return window.quenrik.wakeLock === 'held'", "the screen kept awake while playing")
        page.click("pause")
        page.wait("return window.quenrik.wakeLock === 'released'", "the screen let sleep when paused")
        failures.check(True, "a phone: the screen kept awake while playing, not when paused")
    finally:
        desktop(page)
    page.open()
    failures.check(page.js("return [window.quenrik.touchShown, getComputedStyle(document.getElementById('pad-cross')).display]") == [False, "none"],
                   "a desktop: no on-screen pad")
    page.driver.get(page.url + "?test&touch")
    page.wait("return !!(window.quenrik && window.quenrik.cartridge)", "the page started")
    failures.check(page.js("return [window.quenrik.touchShown, getComputedStyle(document.getElementById('pad-cross')).display]") == [True, "flex"],
                   "a desktop with ?touch: the on-screen pad")


def check_remap(failures, page, program):
    """A key and a gamepad button changed in the page's table are kept across a reload and reach
    the game; Default keys brings the program's keys back."""
    pad = """navigator.getGamepads = () => [{ connected: true, mapping: 'standard', axes: [0, 0],
               buttons: Array.from({ length: 17 }, (_, i) => ({ pressed: arguments[0].includes(i) })) }];"""
    page.open()
    page.click("key-a")
    ActionChains(page.driver).send_keys("r").perform()
    failures.check(page.js("return document.getElementById('key-a').textContent") == "press a key…" and "page's own key" in page.status(),
                   "R, the page's reset, is refused for A", page.status())
    ActionChains(page.driver).send_keys("c").perform()
    page.click("pad-b")
    page.js(pad, [3])
    page.frames([None])
    page.js(pad, [])
    page.frames([None])
    for reloaded in (False, True):
        if reloaded:
            page.open()
        when = " after a reload" if reloaded else ""
        shown = page.js("return [document.getElementById('key-a').textContent, document.getElementById('pad-b').textContent]")
        failures.check(shown == ["C", "button 3"], "the table shows A on C and B on the pad's button 3" + when, str(shown))
    page.load(program, DEMO)
    ActionChains(page.driver).key_down("c").perform()
    held = page.js("return window.quenrik.buttons")
    page.frames([None] * 3)
    ActionChains(page.driver).key_up("c").key_down("x").perform()
    x_held = page.js("return window.quenrik.buttons")
    ActionChains(page.driver).key_up("x").perform()
    failures.check(held == A and x_held == 0, "the kept key C holds A and X no longer does", "%s, %s" % (held, x_held))
    same_picture(failures, page, program, "A held by C: the program's picture", DEMO, [A] * 3)
    page.js(pad, [3])
    page.frames([None])
    failures.check(page.js("return window.quenrik.buttons") == B, "the kept pad button 3 holds B")
    page.js(pad, [0])
    page.frames([None])
    failures.check(page.js("return window.quenrik.buttons") == 0, "and the pad's button 0 no longer does")
    page.js("navigator.getGamepads = () => [];")

    page.click("default-keys")
    for reloaded in (False, True):
        if reloaded:
            page.open()
        when = " after a reload" if reloaded else ""
        ActionChains(page.driver).key_down("x").perform()
        x_held = page.js("return window.quenrik.buttons")
        ActionChains(page.driver).key_up("x").key_down("c").perform()
        c_held = page.js("return window.quenrik.buttons")
        ActionChains(page.driver).key_up("c").perform()
        page.js(pad, [0])
        page.frames([None])
        pad_held = page.js("return window.quenrik.buttons")
        page.js("navigator.getGamepads = () => [];")
        page.frames([None])
        failures.check([x_held, c_held, pad_held] == [A, 0, B], "Default keys: X holds A, C nothing, the pad's button 0 B" + when,
                       str([x_held, c_held, pad_held]))


def site_files(site):
    return sorted(name for name in os.listdir(site) if name != "sw.js")


def check_install(failures, page, program):
    """The browser finds the page installable: its manifest, its icons, its service worker; the
    worker's cache holds every file of the site."""
    page.driver.execute_cdp_cmd("Network.setBypassServiceWorker", {"bypass": False})
    try:
        page.open(test=False)
        page.js_async("navigator.serviceWorker.ready.then(() => done())")
        errors = page.driver.execute_cdp_cmd("Page.getInstallabilityErrors", {})
        failures.check(errors.get("installabilityErrors") == [], "the browser finds nothing against installing the page", str(errors))
        sizes = []
        for size in (192, 512):
            with open(os.path.join(page.site, "icon-%d.png" % size), "rb") as f:
                sizes.append(struct.unpack(">II", f.read(24)[16:24]))
        failures.check(sizes == [(192, 192), (512, 512)], "the icons are PNGs of 192 and 512 pixels", str(sizes))
        cached = page.js_async("""caches.keys().then(async (names) => {
            const cache = await caches.open(names.find((n) => n.startsWith('quenrik-')));
            done([names.length].concat((await cache.keys()).map((r) => r.url.split('/').pop()).sort()));
        })""")
        failures.check(cached == [1, ""] + site_files(page.site), "one cache, holding every file of the site", str(cached))
    finally:
        page.driver.execute_cdp_cmd("Network.setBypassServiceWorker", {"bypass": True})


def check_offline(failures, page, program):
    """After a first visit, with the server refusing everything, the page opens and plays the demo
    as before; a new version of the site takes the old one's place whole at the next start."""
    page.driver.execute_cdp_cmd("Network.setBypassServiceWorker", {"bypass": False})
    try:
        page.open()
        page.wait("return !!navigator.serviceWorker.controller", "the service worker controls the page")
        Serving.down = True
        try:
            urllib.request.urlopen(page.url + "index.html", timeout=5)
            answered = True
        except OSError:
            answered = False
        page.open()
        failures.check(not answered and page.js("return window.quenrik.cartridge.name") == "demo.nes",
                       "offline: the server answers nothing, and the page starts with the demo")
        page.frames(pattern(90))
        same_picture(failures, page, program, "offline: the demo's picture is the program's", DEMO, pattern(90), canvas=True)
        page.open(test=False)
        page.wait("return window.quenrik.frames > 30", "frames offline")
        failures.check(True, "offline: the page plays by itself")
        Serving.down = False

        # A new version: the site again, with page.css and the worker's version changed. The visit
        # that finds it installs it whole beside the old one; the next start hands over to it.
        new = os.path.join(program.scratch, "site-new")
        shutil.rmtree(new, ignore_errors=True)
        shutil.copytree(page.site, new)
        with open(os.path.join(new, "page.css"), "a") as f:
            f.write(":root { --site: new; }\n")
        with open(os.path.join(new, "sw.js")) as f:
            worker = f.read()
        version = re.search(r'const VERSION = "([0-9a-f]+)"', worker).group(1)
        with open(os.path.join(new, "sw.js"), "w") as f:
            f.write(worker.replace(version, "0" * len(version)))
        Serving.root = new
        page.open()
        page.js_async("navigator.serviceWorker.getRegistration().then((r) => r.update()).then(() => done(), () => done())")
        page.wait("return navigator.serviceWorker.getRegistration().then((r) => !!(r && r.waiting))", "the new version waiting")
        site = "return getComputedStyle(document.documentElement).getPropertyValue('--site').trim()"
        failures.check(page.js(site) == "", "a new version found: the page goes on with the old one")
        # The next visit: the page asks the new version to take over and loads again, or (when the
        # old worker does not hand over in time) starts with the old version whole; with no page
        # of the site left open, the new version takes over.
        page.open(started=False)
        page.wait("return window.quenrik.cartridge && !window.quenrik.status.includes('new version')", "the page again", 20)
        handed = page.js(site) == "new"
        if not handed:
            page.driver.get("about:blank")
            time.sleep(1)
            page.open()
        state = page.js_async("caches.keys().then((names) => done([names, getComputedStyle(document.documentElement)"
                              ".getPropertyValue('--site').trim()]))")
        failures.check(state[:2] == [["quenrik-" + "0" * len(version)], "new"],
                       "the next visit: the new version alone, its cache the only one (%s)" %
                       ("handed over at the start" if handed else "once no page of the old was open"), str(state))
        Serving.down = True
        page.open()
        failures.check(page.js(site) == "new" and page.js("return window.quenrik.cartridge.name") == "demo.nes",
                       "and the new version plays offline")
    finally:
        Serving.down = False
        Serving.root = None
        page.driver.execute_cdp_cmd("Network.setBypassServiceWorker", {"bypass": True})


def console_errors(failures, driver, during, expected=None):
    """Nothing went wrong in the page's scripts: the browser's console has no errors (but the
    expected one)."""
    errors = [entry["message"] for entry in driver.get_log("browser")
              if entry["level"] == "SEVERE" and not (expected and expected in entry["message"])]
    failures.check(not errors, "no errors in the browser's console " + during, "; ".join(errors))


class Serving(http.server.SimpleHTTPRequestHandler):
    """The site's files as python3 -m http.server serves them, some late or missing if asked, or
    none at all (down: each connection closed unanswered, as a server that is gone)."""
    delays, missing = {}, set()
    down, root = False, None

    def do_GET(self):
        if Serving.down:
            self.close_connection = True
            return
        if Serving.root:
            self.directory = Serving.root
        name = self.path.split("?")[0].rsplit("/", 1)[-1]
        if name in self.missing:
            return self.send_error(404)
        time.sleep(self.delays.get(name, 0))
        return super().do_GET()

    def end_headers(self):
        self.send_header("Cache-Control", "no-store")  # a file missing now is not taken from before
        super().end_headers()

    def log_message(self, *_):
        pass


def bench(page, program, native, rounds=5):
    """Frames a second of the core in the page and natively (make bench's libretro_bench on the
    native core): the best of a few rounds, the page's and the native ones taking turns, so that
    the other work on the machine weighs on both alike."""
    rows = []
    tool = os.path.join(native, "bench", "libretro_bench")
    core = os.path.join(native, "quenrik_libretro.so")
    for cartridge, fast in [("demo", False), ("bench_game", False), ("bench_sprites", False), ("bench_compute", True)]:
        if fast != page.js("return document.getElementById('fast').checked"):
            page.click("fast")
        page.load(program, cartridge)
        page.js("quenrikTest.bench(2000, true)")  # until the browser has optimised the module
        in_page = drawn = native_rate = 0
        for _ in range(rounds):
            in_page = max(in_page, 1000 / page.js("return quenrikTest.bench(1000, false)") * 1000)
            drawn = max(drawn, 1000 / page.js("return quenrikTest.bench(1000, true)") * 1000)
            options = ["--option", "quenrik_fast_mode=enabled"] if fast else []
            line = subprocess.run([tool, core, program.rom(cartridge), "1000", "60"] + options,
                                  stdout=subprocess.PIPE, check=True).stdout.decode()
            native_rate = max(native_rate, float(re.search(r"([0-9.]+) fps", line).group(1)))
        rows.append((cartridge + (" -f" if fast else ""), in_page, drawn, native_rate))
    return rows


def site_size(site):
    rows = []
    for name in sorted(os.listdir(site)):
        with open(os.path.join(site, name), "rb") as f:
            data = f.read()
        rows.append((name, len(data), len(gzip.compress(data, 9))))
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--site", required=True, help="make web's site folder")
    parser.add_argument("--native", required=True, help="the native build (quenrik_picture, libretro_bench, the core, the cartridges)")
    parser.add_argument("--screenshots", help="where to save the page's screenshots (PNG)")
    parser.add_argument("--figures-only", action="store_true",
                        help="make bench-web: only the pacing and the figures, none of the other checks")
    parser.add_argument("-k", default="", metavar="WORD",
                        help="only the groups of checks whose name holds WORD (check_pacing, check_states, bench...)")
    arguments = parser.parse_args()
    started = time.time()
    program = Program(arguments.native)
    if arguments.screenshots:
        os.makedirs(arguments.screenshots, exist_ok=True)
        global SCREENSHOTS
        SCREENSHOTS = arguments.screenshots

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Serving, directory=arguments.site))
    threading.Thread(target=server.serve_forever, daemon=True).start()

    options = webdriver.ChromeOptions()
    profile = tempfile.mkdtemp(prefix="quenrik-chromium-")
    for option in ["--headless=new", "--no-sandbox", "--disable-background-networking", "--disable-component-update",
                   "--disable-sync", "--no-first-run", "--user-data-dir=" + profile, "--window-size=760,1250"]:
        options.add_argument(option)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    page = Page(driver, "http://127.0.0.1:%d/" % server.server_port, {"delays": Serving.delays, "missing": Serving.missing},
                arguments.site)
    # The service worker answers none of the page's requests but in the groups about it: the
    # others check what the server sends, late or missing.
    driver.execute_cdp_cmd("Network.enable", {})
    driver.execute_cdp_cmd("Network.setBypassServiceWorker", {"bypass": True})
    failures = Failures()
    rate = first_picture = speeds = None
    try:
        groups = [check_pacing] if arguments.figures_only else [
            check_pacing, check_pictures, check_keys, check_controls, check_start, check_files, check_states, check_stop,
            check_sound_samples, check_sound_speakers, check_sound_worklet, check_phone, check_settings, check_remap, check_install,
            check_offline]
        for group in [g for g in groups if arguments.k in g.__name__]:
            try:
                if group is check_pacing:
                    rate, first_picture = check_pacing(failures, page, program, arguments.screenshots)
                else:
                    group(failures, page, program)
            except (AssertionError, WebDriverException, subprocess.CalledProcessError) as error:
                failures.check(False, group.__name__, str(error).strip())
            Serving.delays.clear()
            Serving.missing.clear()
            console_errors(failures, driver, group.__name__)
        if arguments.k in "bench":
            page.open()
            speeds = bench(page, program, arguments.native)
    finally:
        driver.quit()
        server.shutdown()

    print()
    print("Figures (printed, never failed on):")
    sizes = site_size(arguments.site)
    for name, raw, packed in sizes:
        print("  %-14s %8d bytes, %7d gzipped" % (name, raw, packed))
    print("  the site without the demo: %.1f KB gzipped" % (sum(p for n, _, p in sizes if n != "demo.nes") / 1024))
    if rate is not None:
        print("  first picture %.0f ms after the page's load began" % first_picture)
        print("  paced: %.1f frames a second (the console's 60.0988)" % rate)
    for line in FIGURES:
        print("  " + line)
    if speeds is not None:
        print("  frames a second      in Chromium   drawn too    native   Chromium/native")
        for cartridge, core, drawn, native in speeds:
            print("  %-17s %12.0f %11.0f %9.0f %10.2f" % (cartridge, core, drawn, native, core / native))
    print()
    print("test-web: %d checks, %d failed, %.0f s" % (failures.checks, len(failures.failed), time.time() - started))
    return 1 if failures.failed else 0


if __name__ == "__main__":
    sys.exit(main())
