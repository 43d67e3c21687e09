#!/usr/bin/python3
"""The libretro core in Debian's RetroArch, headless under an Xvfb server of its own.

usage: retroarch_test.py <case>
  probe        RetroArch's frame counting and screenshots, seen with the probe core: after
               --max-frames=N the core has run exactly N times and the PNG is the N-th frame,
               its RGB565 values given back exactly by the top bits of each channel
  probe_keys   RetroArch's default keyboard map: each key sets exactly its RetroPad button
  picture      the core's frames after N retro_run calls equal the standalone program's picture
               after N frames, pixel for pixel, at frame counts where the picture changes: for
               the program's demo and for the one at the console's pace (make play's)
  keys         keys pressed with xdotool reach the game: the demo's pictures while and after each
               is held equal the standalone program's with the same buttons
  state        a state saved and loaded through RetroArch's command interface gives the picture
               of the moment it was saved back
  state_play   the same with RetroArch started as make play starts it (scripts/play)
  state_install  the same with the core from make install under a prefix, started with the
               command for it (retroarch --appendconfig <prefix>/share/libretro/quenrik_libretro.cfg
               -L <prefix>/lib/<multiarch>/libretro/quenrik_libretro.so game.nes)
  stop         a cartridge that stops at once, 300 frames under run-ahead of one frame (a state
               saved and loaded every frame): the stop is logged once, as without run-ahead
  sound        what RetroArch plays of the sound cartridge (its ALSA output written to a file
               through ALSA's file plugin): every tone of its schedule at its pitch; with the
               core option quenrik_sound disabled, silence

environment: RETROARCH (the program, default retroarch), CORE (the core), CORE_INFO (its info
             file), SOURCE and BUILD (the source and build folders), PROBE_CORE (the probe core),
             PICTURE (quenrik_picture), ROM (the program's demo), PLAY_ROM (the demo at the
             console's pace, which make play runs; the sound cartridge beside it), ARTIFACTS (where the pictures and log of a
             failed case go), QUENRIK_TIMEOUT_SCALE (how much longer to wait)

Each RetroArch runs under dbus-run-session, on a session bus of the test's own that starts no
services (BUS_CONFIG).

Ends with 0 when the case passed, 1 when it failed, 77 (skipped) when RetroArch is not installed.
"""
import array
import glob
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import zlib

SKIPPED = 77
SCALE = float(os.environ.get("QUENRIK_TIMEOUT_SCALE", "1") or "1")
WIDTH, HEIGHT = 256, 240


class Failure(Exception):
    pass


def note(text):
    print(text, flush=True)


# ---- Pictures -----------------------------------------------------------------------------
# A picture is (width, height, array of RGB565 values, row by row).

def widen(value, bits):
    """A channel of `bits` bits widened to 8 by repeating its top bits (as RetroArch does)."""
    return (value << (8 - bits)) | (value >> (2 * bits - 8))


def from_rgb888(width, height, rgb):
    """RGB565 from 8-bit channels: the top 5, 6, 5 bits. Also counts the pixels whose channels
    are not the widening of their top bits, which would make that conversion lossy."""
    pixels = array.array("H", bytes(2 * width * height))
    inexact = 0
    for i in range(width * height):
        r, g, b = rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]
        pixels[i] = (r >> 3) << 11 | (g >> 2) << 5 | b >> 3
        if r != widen(r >> 3, 5) or g != widen(g >> 2, 6) or b != widen(b >> 3, 5):
            inexact += 1
    return (width, height, pixels), inexact


def to_rgb888(picture):
    _, _, pixels = picture
    rgb = bytearray(3 * len(pixels))
    for i, p in enumerate(pixels):
        rgb[3 * i] = widen(p >> 11, 5)
        rgb[3 * i + 1] = widen((p >> 5) & 63, 6)
        rgb[3 * i + 2] = widen(p & 31, 5)
    return rgb


def read_png(path):
    """An 8-bit RGB PNG without interlacing, as RetroArch writes them: (width, height, rgb bytes).
    Raises ValueError for anything else or an incomplete file."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, header, ended = 8, [], None, False
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if len(body) != length:
            break
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            ended = True
            break
    if header is None or not ended:
        raise ValueError("incomplete PNG file")
    width, height, depth, colour, _, _, interlace = header
    if (depth, colour, interlace) != (8, 2, 0):
        raise ValueError("PNG of depth %d, colour type %d, interlace %d: not 8-bit RGB" % (depth, colour, interlace))
    raw = zlib.decompress(b"".join(idat))
    stride = 3 * width
    if len(raw) != (stride + 1) * height:
        raise ValueError("PNG data of the wrong size")
    out = bytearray(stride * height)
    prior = bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if kind == 1:
            for i in range(3, stride):
                line[i] = (line[i] + line[i - 3]) & 255
        elif kind == 2:
            for i in range(stride):
                line[i] = (line[i] + prior[i]) & 255
        elif kind == 3:
            for i in range(stride):
                line[i] = (line[i] + ((line[i - 3] if i >= 3 else 0) + prior[i]) // 2) & 255
        elif kind == 4:
            for i in range(stride):
                a = line[i - 3] if i >= 3 else 0
                b = prior[i]
                c = prior[i - 3] if i >= 3 else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        elif kind != 0:
            raise ValueError("PNG filter %d" % kind)
        out[y * stride:(y + 1) * stride] = line
        prior = line
    return width, height, bytes(out)


def write_png(path, width, height, rgb):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    rows = b"".join(b"\0" + bytes(rgb[3 * width * y:3 * width * (y + 1)]) for y in range(height))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def read_ppm(path):
    """The picture tool's binary PPM (maxval 255, each channel a widened RGB565 channel)."""
    with open(path, "rb") as f:
        data = f.read()
    fields = data.split(maxsplit=4)
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError("%s: not a binary PPM of maxval 255" % path)
    width, height = int(fields[1]), int(fields[2])
    picture, inexact = from_rgb888(width, height, fields[4][:3 * width * height])
    if inexact:
        raise ValueError("%s: %d pixels are not widened RGB565" % (path, inexact))
    return picture


def differing(a, b):
    """Pixels that differ between two pictures of the same size."""
    if a[:2] != b[:2]:
        return a[0] * a[1]
    return sum(1 for p, q in zip(a[2], b[2]) if p != q)


def probe_frame(counter):
    """The probe core's frame after `counter` runs without buttons (see probe_core.c)."""
    pixels = array.array("H", bytes(2 * WIDTH * HEIGHT))
    for i in range(WIDTH, WIDTH * HEIGHT):
        pixels[i] = (3 * i + 7 * counter) & 0xFFFF
    pixels[0] = counter & 0xFFFF
    pixels[1] = counter >> 16
    return WIDTH, HEIGHT, pixels


# The session bus that RetroArch runs on: the test's own, starting no services. Where libgamemode0
# (which RetroArch recommends) is installed, RetroArch's GameMode client asks the session bus for
# GameMode's status even with gamemode_enable off, and without a bus libdbus aborts RetroArch. On
# this bus the question gets a plain "no such service", and no daemon is started that would
# outlive the test. Its socket goes into the scratch folder (%s).
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


# ---- The test's world: a scratch folder, an X server, RetroArch ----------------------------------
class Session:
    def __init__(self, case):
        self.case = case
        self.scratch = tempfile.mkdtemp(prefix="quenrik-retroarch.")
        self.xvfb = None
        self.retroarch = None
        self.groups = []  # process groups of the RetroArch runs
        self.log_path = os.path.join(self.scratch, "retroarch.log")
        self.window = None
        self.port = None
        self.socket = None
        self.kept = []
        for folder in ("home", "cores", "info", "states", "saves", "shots", "system", "pictures"):
            os.makedirs(os.path.join(self.scratch, folder))
        self.env = dict(os.environ)
        self.env["HOME"] = os.path.join(self.scratch, "home")
        self.env["XDG_CONFIG_HOME"] = os.path.join(self.scratch, "home", ".config")
        # Nothing of the user's session: RetroArch gets a bus of its own (start_retroarch).
        for name in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"):
            self.env.pop(name, None)
        with open(self.path("bus.conf"), "w") as f:
            f.write(BUS_CONFIG % self.scratch)

    def path(self, *parts):
        return os.path.join(self.scratch, *parts)

    # -- X server
    def start_xvfb(self):
        """An Xvfb server on a display that is free: the server itself picks it (-displayfd)
        and writes its number when it is ready for clients."""
        read_end, write_end = os.pipe()
        with open(self.path("xvfb.log"), "wb") as log:
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "640x480x24", "-nolisten", "tcp",
                 "-noreset", "-r"], pass_fds=(write_end,), stdout=log, stderr=log, start_new_session=True)
        os.close(write_end)
        text = b""
        deadline = time.monotonic() + 15 * SCALE
        while not text.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.1)
            if ready:
                chunk = os.read(read_end, 32)
                if not chunk:
                    break
                text += chunk
        os.close(read_end)
        if not text.strip().isdigit():
            raise Failure("Xvfb did not start (see xvfb.log)")
        self.env["DISPLAY"] = ":" + text.strip().decode()

    # -- RetroArch
    def install_core(self, core, info):
        """The core in a cores folder of its own, and its info file (a path, or the lines of one)
        in the info folder. RetroArch 1.14 takes a core's save-state support from its info file,
        found by the core's name for a core in the cores folder, and refuses SAVE_STATE and
        LOAD_STATE ("Core does not support save states") for a core without one."""
        name = os.path.basename(core)
        os.symlink(os.path.abspath(core), self.path("cores", name))
        info_path = self.path("info", name[:-len(".so")] + ".info")
        if isinstance(info, str):
            shutil.copy(info, info_path)
        else:
            with open(info_path, "w") as f:
                f.write("".join("%s = \"%s\"\n" % pair for pair in info))
        return self.path("cores", name)

    def write_config(self, throttle, options=None, more=None):
        """RetroArch's configuration, everything under the scratch folder."""
        probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        probe.bind(("", 0))
        self.port = probe.getsockname()[1]  # a free port for the command interface
        probe.close()
        settings = {
            "audio_driver": "null",
            "menu_driver": "null",
            "video_driver": "gl",
            "video_vsync": "false",
            "video_scale": "1",
            "video_font_enable": "false",
            "video_gpu_screenshot": "false",  # the core's own frame, at its own size
            "input_driver": "x",
            "input_autodetect_enable": "false",
            "gamemode_enable": "false",
            "pause_nonactive": "false",
            "suspend_screensaver_enable": "false",  # no xdg-screensaver beside it
            "config_save_on_exit": "false",
            "quit_press_twice": "false",  # QUIT ends it at once
            "history_list_enable": "false",
            "network_cmd_enable": "true",
            "network_cmd_port": str(self.port),
            # At the core's 60 frames a second (the content's frame rate, without vsync), or as
            # fast as it goes.
            "vrr_runloop_enable": "true" if throttle else "false",
            "auto_screenshot_filename": "false",  # <content name>.png
            "savestate_auto_save": "false",
            "savestate_auto_load": "false",
            "libretro_directory": self.path("cores"),
            "libretro_info_path": self.path("info"),
            "savestate_directory": self.path("states"),
            "savefile_directory": self.path("saves"),
            "screenshot_directory": self.path("shots"),
            "system_directory": self.path("system"),
            "core_options_path": self.path("core-options.cfg"),
            "global_core_options": "true",
        }
        settings.update(more or {})  # a case's own settings
        with open(self.path("retroarch.cfg"), "w") as f:
            f.write("".join("%s = \"%s\"\n" % item for item in settings.items()))
        with open(self.path("core-options.cfg"), "w") as f:
            f.write("".join("%s = \"%s\"\n" % item for item in (options or {}).items()))

    def start_retroarch(self, core, rom, arguments=(), extra_env=None):
        """RetroArch under dbus-run-session, on a bus of the test's own (BUS_CONFIG); its group
        holds RetroArch, the bus and dbus-run-session, which ends with RetroArch's status (128 +
        the signal's number if a signal ended it)."""
        env = dict(self.env)
        env.update(extra_env or {})
        program = shutil.which(os.environ.get("RETROARCH", "retroarch"))
        bus = shutil.which("dbus-run-session")
        if bus is None:
            raise Failure("dbus-run-session is not installed (scripts/install-deps installs it, package dbus-daemon)")
        with open(self.log_path, "ab") as log:
            self.retroarch = subprocess.Popen(
                [bus, "--config-file=" + self.path("bus.conf"), "--", program, "--verbose", "-c",
                 self.path("retroarch.cfg"), "-L", core, rom] + list(arguments),
                stdin=subprocess.DEVNULL, stdout=log, stderr=log, env=env, start_new_session=True)
        self.groups.append(self.retroarch.pid)

    def write_user_config(self):
        """The test's settings as the user's own configuration, which RetroArch reads when not
        given one (-c): with the cores and info folders of Debian's /etc/retroarch.cfg, which
        RetroArch copies there on its first run, and its log on without --verbose."""
        self.write_config(throttle=True)
        with open(self.path("retroarch.cfg")) as f:
            lines = [line for line in f if not line.startswith(("libretro_directory ", "libretro_info_path "))]
        multiarch = subprocess.run(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"], capture_output=True,
                                   text=True, check=True).stdout.strip()
        lines += ['libretro_directory = "/usr/lib/%s/libretro/"\n' % multiarch,
                  'libretro_info_path = "/usr/share/libretro/info/"\n', 'log_verbosity = "true"\n']
        folder = os.path.join(self.env["XDG_CONFIG_HOME"], "retroarch")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "retroarch.cfg"), "w") as f:
            f.write("".join(lines))

    def start_command(self, words):
        """A command that starts RetroArch as a user types it, on the test's own session bus as
        start_retroarch has it."""
        with open(self.log_path, "ab") as log:
            self.retroarch = subprocess.Popen(
                ["dbus-run-session", "--config-file=" + self.path("bus.conf"), "--"] + words, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                env=self.env, start_new_session=True)
        self.groups.append(self.retroarch.pid)

    def wait_retroarch_end(self, limit):
        try:
            status = self.retroarch.wait(timeout=limit * SCALE)
        except subprocess.TimeoutExpired:
            raise Failure("RetroArch did not end within %g s" % (limit * SCALE))
        self.retroarch = None
        return status

    def quit_retroarch(self):
        """QUIT, and RetroArch must end by itself with status 0 (the core unloaded cleanly)."""
        self.command("QUIT")
        status = self.wait_retroarch_end(15)
        if status != 0:
            raise Failure("RetroArch ended with status %d after QUIT" % status)

    def kill_retroarch(self):
        """RetroArch and anything it started (its process group), if still there."""
        for group in self.groups:
            try:
                os.killpg(group, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if self.retroarch is not None:
            self.retroarch.wait()
            self.retroarch = None

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode(errors="replace")

    def wait_log(self, text, start=0, limit=15):
        """Waits for a line with `text` in RetroArch's log after offset `start`; its end offset."""
        deadline = time.monotonic() + limit * SCALE
        while True:
            log = self.log()
            at = log.find(text, start)
            if at >= 0:
                return log.index("\n", at) + 1 if "\n" in log[at:] else len(log)
            if self.retroarch is not None and self.retroarch.poll() is not None:
                raise Failure("RetroArch ended (status %d) before logging %r" % (self.retroarch.returncode, text))
            if time.monotonic() > deadline:
                raise Failure("RetroArch did not log %r within %g s" % (text, limit * SCALE))
            time.sleep(0.02)

    def wait_ready(self):
        """The command interface is up, the window is mapped and the core has been running."""
        self.wait_log("bringing_up_command_interface_at_port %d" % self.port)
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.settimeout(2 * SCALE)
        deadline = time.monotonic() + 15 * SCALE
        while self.window is None:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "retroarch"],
                                   env=self.env, capture_output=True, text=True).stdout.split()
            if found:
                self.window = found[0]
            elif time.monotonic() > deadline:
                raise Failure("no RetroArch window within %g s" % (15 * SCALE))
            else:
                time.sleep(0.05)
        while self.status()[0] != "PLAYING":
            if time.monotonic() > deadline:
                raise Failure("RetroArch is not playing the content")
            time.sleep(0.05)

    # -- Command interface: UDP datagrams on 127.0.0.1
    def command(self, text):
        self.socket.sendto(text.encode(), ("127.0.0.1", self.port))

    def status(self):
        """GET_STATUS: ("PLAYING" or "PAUSED", the rest), answered at once."""
        for _ in range(3):
            self.command("GET_STATUS")
            try:
                reply = self.socket.recv(4096).decode().split(None, 2)
            except socket.timeout:
                continue
            if len(reply) >= 2 and reply[0] == "GET_STATUS":
                return reply[1], (reply[2].strip() if len(reply) > 2 else "")
        raise Failure("no answer to GET_STATUS")

    def screenshot(self, limit=10):
        """SCREENSHOT, and the picture once RetroArch has written it whole."""
        for old in glob.glob(self.path("shots", "*.png")):
            os.unlink(old)
        self.command("SCREENSHOT")
        deadline = time.monotonic() + limit * SCALE
        while True:
            files = glob.glob(self.path("shots", "*.png"))
            if files:
                try:
                    return self.read_shot(files[0])
                except (ValueError, zlib.error, OSError):
                    pass  # still being written
            if time.monotonic() > deadline:
                raise Failure("no screenshot within %g s" % (limit * SCALE))
            time.sleep(0.02)

    def read_shot(self, path):
        width, height, rgb = read_png(path)
        picture, inexact = from_rgb888(width, height, rgb)
        if inexact:
            raise Failure("%s: %d pixels are not RGB565 widened to 8 bits: the PNG does not give the "
                          "core's pixels back" % (os.path.basename(path), inexact))
        return picture

    # -- Keys
    def key(self, action, keysym):
        """xdotool keydown or keyup, with RetroArch's window given the focus first (there is no
        window manager, so nothing else gives it)."""
        result = subprocess.run(["xdotool", "windowfocus", "--sync", self.window, action, keysym],
                                env=self.env, capture_output=True, text=True, timeout=10 * SCALE)
        if result.returncode != 0:
            raise Failure("xdotool %s %s failed: %s" % (action, keysym, result.stderr.strip()))

    # -- Artifacts of a failed case
    def keep(self, name, picture):
        self.kept.append((name, picture))

    def save_artifacts(self):
        folder = os.environ.get("ARTIFACTS")
        if not folder:
            return
        os.makedirs(folder, exist_ok=True)
        for name, picture in self.kept:
            write_png(os.path.join(folder, "%s-%s.png" % (self.case, name)), picture[0], picture[1],
                      to_rgb888(picture))
        if os.path.exists(self.log_path):
            shutil.copy(self.log_path, os.path.join(folder, "%s-retroarch.log" % self.case))
        note("pictures and RetroArch's log of the failed case: %s/%s-*" % (folder, self.case))

    def close(self):
        try:
            self.kill_retroarch()
        finally:
            if self.xvfb is not None:
                self.xvfb.terminate()
                try:
                    self.xvfb.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    self.xvfb.kill()
                    self.xvfb.wait()
            shutil.rmtree(self.scratch, ignore_errors=True)


def expect_same(session, got, expected, what):
    """Fails unless the pictures are equal, keeping both and their difference."""
    count = differing(got, expected)
    if count:
        session.keep("got", got)
        session.keep("expected", expected)
        if got[:2] == expected[:2]:
            diff = array.array("H", (0xFFFF if p != q else 0 for p, q in zip(got[2], expected[2])))
            session.keep("difference", (got[0], got[1], diff))
            raise Failure("%s: %d of %d pixels differ" % (what, count, got[0] * got[1]))
        raise Failure("%s: the picture is %dx%d, expected %dx%d" % (what, got[0], got[1], expected[0], expected[1]))


def standalone_pictures(session, *arguments, rom=None):
    """The standalone program's pictures from quenrik_picture, of ROM unless another cartridge is
    given: {frame: picture}."""
    prefix = session.path("pictures", "f")
    for old in glob.glob(prefix + "*.ppm"):
        os.unlink(old)
    result = subprocess.run([os.environ["PICTURE"], rom or os.environ["ROM"], prefix] + [str(a) for a in arguments],
                            capture_output=True, text=True, timeout=60 * SCALE)
    if result.returncode != 0:
        raise Failure("quenrik_picture failed: %s" % result.stderr.strip())
    return {int(os.path.basename(p)[1:-4]): read_ppm(p) for p in glob.glob(prefix + "*.ppm")}


# ---- Cases ---------------------------------------------------------------------------------------
PROBE_INFO = [("display_name", "quenrik probe"), ("supported_extensions", "nes"), ("savestate", "true"),
              ("savestate_features", "deterministic")]


def max_frames_shot(session, core, frames, extra_env=None, rom=None):
    """RetroArch run for --max-frames=N with --max-frames-ss (on ROM unless another cartridge is
    given): the picture it saved."""
    shot = session.path("max-frames-%d.png" % frames)
    started = time.monotonic()
    session.start_retroarch(core, rom or os.environ["ROM"],
                            ["--max-frames=%d" % frames, "--max-frames-ss", "--max-frames-ss-path=" + shot],
                            extra_env)
    status = session.wait_retroarch_end(60)
    elapsed = time.monotonic() - started
    if status != 0:
        raise Failure("RetroArch ended with status %d after --max-frames=%d" % (status, frames))
    if not os.path.exists(shot):
        raise Failure("RetroArch wrote no screenshot after --max-frames=%d" % frames)
    return session.read_shot(shot), elapsed


def case_probe(session):
    core = session.install_core(os.environ["PROBE_CORE"], PROBE_INFO)
    session.write_config(throttle=False)
    for frames in (1, 2, 3, 150):
        log = session.path("probe-%d.log" % frames)
        shot, elapsed = max_frames_shot(session, core, frames, {"QUENRIK_PROBE_LOG": log})
        with open(log) as f:
            runs = [line for line in f if line.startswith("run ")]
        if len(runs) != frames:
            raise Failure("--max-frames=%d: the core ran %d times" % (frames, len(runs)))
        counter = shot[2][0] | shot[2][1] << 16
        if counter != frames:
            raise Failure("--max-frames=%d: the screenshot is the frame of run %d" % (frames, counter))
        expect_same(session, shot, probe_frame(frames), "--max-frames=%d, the probe's frame %d" % (frames, frames))
        note("--max-frames=%d: %d retro_run calls, the screenshot is the frame of the last one, "
             "all %d pixels exact (%.1f s)" % (frames, len(runs), WIDTH * HEIGHT, elapsed))


# RetroArch's default keyboard map for port 1 and the RetroPad buttons (the probe's bit order).
DEFAULT_KEYS = [("x", "A", 0), ("z", "B", 1), ("Shift_R", "Select", 2), ("Return", "Start", 3),
                ("Up", "Up", 4), ("Down", "Down", 5), ("Left", "Left", 6), ("Right", "Right", 7)]


def case_probe_keys(session):
    core = session.install_core(os.environ["PROBE_CORE"], PROBE_INFO)
    session.write_config(throttle=True)
    log = session.path("probe.log")
    session.start_retroarch(core, os.environ["ROM"], extra_env={"QUENRIK_PROBE_LOG": log})
    session.wait_ready()

    def buttons_seen():
        with open(log) as f:
            lines = [line.split() for line in f if line.startswith("run ")]
        return int(lines[-1][2]) if lines else None

    def wait_buttons(want, what):
        deadline = time.monotonic() + 10 * SCALE
        while buttons_seen() != want:
            if time.monotonic() > deadline:
                raise Failure("%s: the core read buttons %s, expected %d" % (what, buttons_seen(), want))
            time.sleep(0.02)

    for keysym, button, bit in DEFAULT_KEYS:
        session.key("keydown", keysym)
        wait_buttons(1 << bit, "%s held" % keysym)
        session.key("keyup", keysym)
        wait_buttons(0, "%s released" % keysym)
        note("key %-7s -> RetroPad %s, and nothing else" % (keysym, button))
    session.quit_retroarch()


# Frame counts for the picture case, for each demo: the picture changes from frame 1 to 2, 2 to 3
# and 3 to 4 (start-up), and at the colour cycle's first step (from 2050 to 2051 in the program's
# demo, 34 to 35 in the one at the console's pace), so that a frame count off by one either way
# changes the picture of at least one of them.
PICTURE_FRAMES = {"ROM": (2, 3, 2050, 2051), "PLAY_ROM": (2, 3, 34, 35)}


def case_picture(session):
    core = session.install_core(os.environ["CORE"], os.environ["CORE_INFO"])
    session.write_config(throttle=False)
    pictures = {}
    for variable, counts in PICTURE_FRAMES.items():
        rom = os.environ[variable]
        name = os.path.basename(rom)
        wanted = sorted({n + d for n in counts for d in (-1, 0, 1)})
        standalone = standalone_pictures(session, *wanted, rom=rom)
        earlier = [n for n in counts if differing(standalone[n], standalone[n - 1])]
        later = [n for n in counts if differing(standalone[n], standalone[n + 1])]
        if not earlier or not later:
            raise Failure("%s: the picture no longer changes at these frame counts (%s): a count one too low "
                          "or too high would go unseen; choose others" % (name, counts))
        for frames in counts:
            shot, elapsed = max_frames_shot(session, core, frames, rom=rom)
            expect_same(session, shot, standalone[frames],
                        "%s after %d retro_run calls, against the standalone's frame %d" % (name, frames, frames))
            note("%s, frame %4d: RetroArch's screenshot equals the standalone's picture, all %d pixels "
                 "(frame %d differs in %d, frame %d in %d; %.1f s)"
                 % (name, frames, WIDTH * HEIGHT, frames - 1, differing(standalone[frames - 1], standalone[frames]),
                    frames + 1, differing(standalone[frames + 1], standalone[frames]), elapsed))
        pictures[variable] = standalone
    # With the overscan option on, the frame is the picture without its top and bottom 8 lines.
    session.write_config(throttle=False, options={"quenrik_crop_overscan": "enabled"})
    for frames in (3, 2051):
        shot, elapsed = max_frames_shot(session, core, frames)
        _, _, pixels = pictures["ROM"][frames]
        cropped = (WIDTH, HEIGHT - 16, pixels[8 * WIDTH:(HEIGHT - 8) * WIDTH])
        expect_same(session, shot, cropped, "frame %d with quenrik_crop_overscan enabled, against the "
                    "standalone's lines 8-231" % frames)
        note("frame %4d, overscan cropped: the screenshot is 256x224, the standalone's lines 8-231 (%.1f s)"
             % (frames, elapsed))


def wait_picture(session, test, what, limit=10, expected=None):
    """Screenshots until test(picture) holds for two screenshots in a row that are the same
    picture. On a timeout, the last one is kept (and compared with `expected` if given)."""
    deadline = time.monotonic() + limit * SCALE
    last = None
    while True:
        shot = session.screenshot()
        if test(shot):
            if last is not None and differing(shot, last) == 0:
                return shot
            last = shot
        else:
            last = None
        if time.monotonic() > deadline:
            if expected is not None:
                expect_same(session, shot, expected, "%s (%g s)" % (what, limit * SCALE))
            session.keep("last", shot)
            raise Failure("%s: not within %g s" % (what, limit * SCALE))


def key_change(session, action, keysym, before, what):
    """keydown or keyup, then screenshots until the picture is no longer `before` and stays as
    it has become. After a keydown the focus is given again (and the key sent again) every 3 s
    in case the window had not taken it."""
    session.key(action, keysym)
    attempts = 3 if action == "keydown" else 1
    for attempt in range(attempts):
        try:
            return wait_picture(session, lambda shot: differing(shot, before) != 0, what,
                                limit=3 if attempts > 1 else 10)
        except Failure:
            if attempt == attempts - 1:
                raise
            session.kept.clear()
            note("(%s: no change seen yet; the window is given the focus and the key sent again)" % keysym)
            session.key(action, keysym)


def start_demo(session):
    """The program's demo at 60 frames a second, where its colour cycle steps after 34 s: till
    then its picture changes only with the keys, whenever the screenshots come."""
    core = session.install_core(os.environ["CORE"], os.environ["CORE_INFO"])
    session.write_config(throttle=True)
    session.start_retroarch(core, os.environ["ROM"])
    session.wait_ready()
    return core


def start_play(session):
    """make play: scripts/play with the build and the demo, over the user's configuration."""
    session.write_user_config()
    session.start_command([os.path.join(os.environ["SOURCE"], "scripts", "play"), os.environ["BUILD"],
                           os.environ["ROM"]])
    session.wait_ready()


def start_install(session):
    """make install into a prefix of the scratch folder, then the command for a core there."""
    prefix = session.path("prefix")
    env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL", "DESTDIR")}
    done = subprocess.run(["make", "--no-print-directory", "-C", os.environ["SOURCE"], "install",
                           "BUILD=" + os.environ["BUILD"], "PREFIX=" + prefix],
                          capture_output=True, text=True, env=env)
    if done.returncode != 0:
        raise Failure("make install failed:\n%s%s" % (done.stdout, done.stderr))
    cores = glob.glob(os.path.join(prefix, "lib", "*", "libretro", "quenrik_libretro.so"))
    if len(cores) != 1:
        raise Failure("make install: %d cores under %s/lib/*/libretro" % (len(cores), prefix))
    session.write_user_config()
    session.start_command([shutil.which(os.environ.get("RETROARCH", "retroarch")), "--appendconfig",
                           os.path.join(prefix, "share", "libretro", "quenrik_libretro.cfg"), "-L", cores[0],
                           os.environ["ROM"]])
    session.wait_ready()


def wait_start_up(session, base):
    wait_picture(session, lambda shot: differing(shot, base) == 0, "the demo's picture after start-up",
                 expected=base)


# The keys case's script, in the standalone's frames. The demo's picture does not depend on when a
# button went down, only on what is held and what was pressed before (as long as the colour cycle,
# which Start stops, has not stepped), so the frames can be chosen freely.
KEY_SCRIPT = ["100:start", "120:", "200:a", "220:", "300:b", "320:", "400:select", "420:", "500:left"]
KEY_STEPS = [("Return", "Start", 110, 150), ("x", "A", 210, 250), ("z", "B", 310, 350),
             ("Shift_R", "Select", 410, 450)]  # key, button, frame held, frame after release


def case_keys(session):
    frames = [n for step in KEY_STEPS for n in step[2:]]
    pictures = standalone_pictures(session, *KEY_SCRIPT, 90, *frames, "502-1700")
    left_held = {n: p for n, p in pictures.items() if n >= 502}
    start_demo(session)
    wait_start_up(session, pictures[90])
    note("the demo's picture after start-up equals the standalone's")
    # Start first: it stops the colour cycle, so nothing else changes the picture while the keys
    # are tried, however long they take.
    before = pictures[90]
    for keysym, button, held, after in KEY_STEPS:
        shot = key_change(session, "keydown", keysym, before, "%s pressed" % keysym)
        expect_same(session, shot, pictures[held], "%s held, against the standalone with %s held" % (keysym, button))
        shot = key_change(session, "keyup", keysym, pictures[held], "%s released" % keysym)
        expect_same(session, shot, pictures[after], "%s released, against the standalone after %s" % (keysym, button))
        note("key %-7s: the game sees %s held (%d pixels change, as in the standalone), then released"
             % (keysym, button, differing(pictures[held], before)))
        before = pictures[after]
    # Left turns the ship and moves it a pixel at once, then a pixel every 64 frames: the picture
    # must be the standalone's after Left has been held for some number of frames.
    shot = key_change(session, "keydown", "Left", before, "Left pressed")
    session.key("keyup", "Left")
    firsts = sorted(left_held)
    matching = [n for n in firsts if differing(shot, left_held[n]) == 0]
    if not matching:
        nearest = min(firsts, key=lambda n: differing(shot, left_held[n]))
        expect_same(session, shot, left_held[nearest], "Left held, against the standalone's nearest picture")
    # The standalone shows this picture from frame n on, to the frame before the next new one.
    n = matching[0]
    last = firsts[firsts.index(n) + 1] - 1 if n != firsts[-1] else 1700
    note("key Left   : the ship turns left and moves, as in the standalone with Left held %d to %d frames"
         % (n - 501, last - 501))
    session.quit_retroarch()


STATE_SCRIPT = ["100:start", "101:", "200:select", "201:", "300:select", "301:"]


def case_state(session, start=start_demo):
    pictures = standalone_pictures(session, *STATE_SCRIPT, 90, 150, 250, 350)
    base, stopped, saved, changed = pictures[90], pictures[150], pictures[250], pictures[350]
    start(session)
    wait_start_up(session, base)
    # Start stops the colour cycle and Select gives the ship palette 1: from then on nothing
    # changes the picture but the keys.
    key_change(session, "keydown", "Return", base, "Start pressed")
    shot = key_change(session, "keyup", "Return", session.screenshot(), "Start released")
    expect_same(session, shot, stopped, "after Start")
    key_change(session, "keydown", "Shift_R", stopped, "Select pressed")
    at_save = key_change(session, "keyup", "Shift_R", session.screenshot(), "Select released")
    expect_same(session, at_save, saved, "after Select, the ship in palette 1")
    note("before saving: Start stopped the colour cycle and Select gave the ship palette 1, as in the standalone")

    state_file = session.path("states", "demo.state")
    offset = len(session.log())
    session.command("SAVE_STATE")
    end = session.wait_log('Saving state "%s"' % state_file, offset)
    line = session.log()[offset:end].strip().splitlines()[-1]
    deadline = time.monotonic() + 10 * SCALE
    while not os.path.exists(state_file) or os.path.getsize(state_file) == 0:
        if time.monotonic() > deadline:
            raise Failure("SAVE_STATE: no state file")
        time.sleep(0.02)
    expect_same(session, session.screenshot(), saved, "the picture when the state was saved")
    note("SAVE_STATE: %s" % line.split("]: ", 1)[-1])

    key_change(session, "keydown", "Shift_R", saved, "Select pressed after saving")
    later = key_change(session, "keyup", "Shift_R", session.screenshot(), "Select released after saving")
    expect_same(session, later, changed, "after Select again, the ship in palette 2")
    note("after saving, frames ran and Select changed the picture in %d pixels" % differing(later, saved))

    offset = len(session.log())
    session.command("LOAD_STATE")
    end = session.wait_log("Loading state", offset)
    line = session.log()[offset:end].strip().splitlines()[-1]
    wait_picture(session, lambda shot: differing(shot, saved) == 0, "the picture after LOAD_STATE",
                 expected=saved)
    note("LOAD_STATE: %s" % line.split("]: ", 1)[-1])
    note("after loading, the picture is the one of the moment of saving, all %d pixels" % (WIDTH * HEIGHT))
    # The machine goes on from the state: Select gives the ship palette 2 again, not 3.
    key_change(session, "keydown", "Shift_R", saved, "Select pressed after loading")
    again = key_change(session, "keyup", "Shift_R", session.screenshot(), "Select released after loading")
    expect_same(session, again, changed, "Select after loading, the ship in palette 2 again")
    note("after loading, Select gives the ship palette 2 again, as it did after saving")
    session.quit_retroarch()


def case_stop(session):
    core = session.install_core(os.environ["CORE"], os.environ["CORE_INFO"])
    rom = os.path.join(os.path.dirname(os.environ["ROM"]), "halt.nes")  # opcode 0x02 at once
    for run_ahead in ("false", "true"):
        session.write_config(throttle=False, more={"run_ahead_enabled": run_ahead, "run_ahead_frames": "1",
                                                       "run_ahead_secondary_instance": "false"})
        offset = len(session.log()) if os.path.exists(session.log_path) else 0
        session.start_retroarch(core, rom, ["--max-frames=300"])
        status = session.wait_retroarch_end(60)
        if status != 0:
            raise Failure("RetroArch ended with status %d after --max-frames=300" % status)
        aborted = session.log()[offset:].count("EXECUTION ABORTED")
        if aborted != 1:
            raise Failure("run-ahead %s: the stop logged %d times in 300 frames, not once" % (run_ahead, aborted))
        note("run-ahead %s: 300 frames of a cartridge that stops, the stop logged once" % run_ahead)


# The sound cartridge's tones (tests/roms/sound.s): pulse 1, pulse 2 and triangle timers.
SOUND_TONES = [(16, 507), (16, 253), (16, 169), (16, 427), (16, 284), (16, 213), (32, 338), (32, 253), (32, 126)]
SOUND_FRAMES = 600  # two passes of its schedule (289 frames each)

# ALSA's default device for RetroArch: converted to 16-bit stereo at 48 kHz, written to a file, and
# otherwise thrown away, as fast as it comes.
ASOUNDRC = """pcm.!default {
    type plug
    slave { pcm "recorded"; format S16_LE; rate 48000; channels 2 }
}
pcm.recorded {
    type file
    slave.pcm "null"
    file "%s"
    format "raw"
}
"""


def case_sound(session):
    """RetroArch resamples the core's 48 kHz as if its frames came at the display's 60 Hz: every
    pitch lands 60 / 60.0988 lower (0.16%), inside the 0.5% allowed; its rate control, which would
    move pitches by up to another 0.5%, is off. A tone is heard where the whole recording's
    spectrum within 0.5% of the formula is ten times as strong as anywhere 3-6% beside it (nearer,
    a note of a third of a second still spreads): measured, 14 to 70 times; the cartridge built a
    semitone sharp gives 0."""
    try:
        import numpy
    except ImportError:
        raise Failure("numpy is not installed (scripts/install-deps installs python3-numpy)")
    core = session.install_core(os.environ["CORE"], os.environ["CORE_INFO"])
    rom = os.path.join(os.path.dirname(os.environ["ROM"]), "sound.nes")
    for sound in ("enabled", "disabled"):
        recording = session.path("sound-%s.raw" % sound)
        with open(os.path.join(session.env["HOME"], ".asoundrc"), "w") as f:
            f.write(ASOUNDRC % recording)
        session.write_config(throttle=False, options={"quenrik_sound": sound},
                             more={"audio_driver": "alsa", "audio_out_rate": "48000", "audio_rate_control": "false"})
        session.start_retroarch(core, rom, ["--max-frames=%d" % SOUND_FRAMES])
        status = session.wait_retroarch_end(60)
        if status != 0:
            raise Failure("RetroArch ended with status %d after --max-frames=%d" % (status, SOUND_FRAMES))
        samples = numpy.fromfile(recording, dtype="<i2").astype(float)[0::2] if os.path.exists(recording) else []
        if len(samples) < 48000 * 8:
            raise Failure("quenrik_sound %s: %d samples recorded, not the 10 s of %d frames"
                          % (sound, len(samples), SOUND_FRAMES))
        loudest = numpy.abs(samples).max()
        if sound == "disabled":
            if loudest != 0:
                raise Failure("quenrik_sound disabled: the recording is not silent (peak %d)" % loudest)
            note("quenrik_sound disabled: %d samples, all silent" % len(samples))
            continue
        power = numpy.abs(numpy.fft.rfft(samples * numpy.hanning(len(samples)))) ** 2
        hz = numpy.fft.rfftfreq(len(samples), 1 / 48000)
        band = lambda low, high: power[(hz >= low) & (hz <= high)].max()
        weakest = None
        for divider, timer in SOUND_TONES:
            f = 1789773 / (divider * (timer + 1))
            strength = band(f * 0.995, f * 1.005) / max(band(f * 0.94, f * 0.97), band(f * 1.03, f * 1.06))
            weakest = strength if weakest is None else min(weakest, strength)
            if strength < 10:
                raise Failure("the tone of timer %d (%.1f Hz) is not heard: %.1f times its surroundings"
                              % (timer, f, strength))
        note("quenrik_sound enabled: %d samples, peak %d; all %d tones at their pitch, the weakest %.0f times "
             "its surroundings" % (len(samples), loudest, len(SOUND_TONES), weakest))


CASES = {"probe": case_probe, "probe_keys": case_probe_keys, "picture": case_picture, "keys": case_keys,
         "state": case_state, "state_play": lambda session: case_state(session, start_play),
         "state_install": lambda session: case_state(session, start_install), "stop": case_stop,
         "sound": case_sound}


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in CASES:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    case = sys.argv[1]
    if shutil.which(os.environ.get("RETROARCH", "retroarch")) is None:
        print("SKIP (%s): retroarch is not installed (scripts/install-deps installs it)" % case)
        return SKIPPED
    session = Session(case)
    started = time.monotonic()
    try:
        session.start_xvfb()
        CASES[case](session)
    except Failure as failure:
        print("FAIL (%s): %s" % (case, failure))
        log = session.log() if os.path.exists(session.log_path) else ""
        if log:
            print("--- RetroArch's log, last lines:")
            print("\n".join(log.splitlines()[-25:]))
        session.save_artifacts()
        return 1
    finally:
        session.close()
    print("ok (%s, %.1f s)" % (case, time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
