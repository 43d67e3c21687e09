#!/usr/bin/python3
"""The core's sound, heard through its API: the sound cartridge (tests/roms/sound.s) recorded by
libretro_bench --audio and analysed frame by frame.

usage: sound_test.py notes|nestopia
  notes     quenrik's core: every note of the schedule at its pitch, sounding at its frames and
            silent between them; the same cartridge built a semitone sharp is rejected
  nestopia  Debian's Nestopia core passes the same checks (the cartridge is right), and quenrik's
            notes match Nestopia's frame by frame; the sharp build's do not

What is measured, per emulated frame (the samples of one retro_run: rate / fps of them), from a
Hann-windowed, zero-padded FFT: the level above LOW_CUT (the cores' output filters leave slow
drifts after a note, which are not sound) and the dominant pitch (the peak interpolated).
- Pitch: within 0.5% of the formula in every frame inside a note (its first and last frames hold
  the start's step or a note cut by the frame's edge, and are left out). The noise has no pitch:
  its clock (the table's period) puts the first zero of its spectrum at CPU / period, found in
  the burst's averaged spectrum within 3% (a few frames of a random sequence give no finer
  figure; the table's neighbouring periods are 20% and more apart).
- Frames: a note starts in the NMI of its scheduled frame. That NMI falls in the core's frame of
  that number if the core ends its frames at the vertical blank, in the one before if it ends
  them earlier, and a frame cut inside a note holds part of it: so each edge has a frame of
  tolerance either way. The frames wholly inside [start + 1, end - 1] must sound, the frames
  wholly outside [start - 1, end + 1] must be silent (level under SILENT of the loudest).
- Against Nestopia: per frame, the power in semitone bands (taken over five frames, as one
  frame's window cannot tell a semitone apart under 1 kHz), cosine similarity at the best lag
  within MAX_LAG frames, frames silent in both left out, frames sounding in one only counted as
  0. Measured: 0.95 on the whole, 0.91 to 1.00 a tone (quenrik's 440 Hz output filter, which
  Nestopia lacks, weighs the low notes' harmonics differently), 0.74 and 0.90 for the noise (its
  random sequence at another point in each core); the sharp build's tones 0.00 to 0.67. Hence
  SIMILAR and NOTE_SIMILAR.

environment: BENCH (libretro_bench), CORE (quenrik's core), ROMS (the cartridges), NESTOPIA
             (Debian's Nestopia core)
Ends with 0 when the case passed, 1 when it failed, 77 (skipped) when numpy or Nestopia's core
is not installed.
"""
import os
import re
import subprocess
import sys
import tempfile

SKIPPED = 77
try:
    import numpy
except ImportError:
    print("numpy is not installed (scripts/install-deps)")
    sys.exit(SKIPPED)

CPU_HZ = 1789773
FRAME_CYCLES = CPU_HZ * 655171 / 39375000  # CPU cycles in an NTSC frame (29,780.5)
NOISE_PERIODS = [4, 8, 16, 32, 64, 96, 128, 160, 202, 254, 380, 508, 762, 1016, 2034, 4068]
DMC_RATES = [428, 380, 340, 320, 286, 254, 226, 214, 190, 160, 142, 128, 106, 84, 72, 54]
DMC_BYTES = 65  # the sample: alternating 8 rises and 8 falls, a triangle wave of 16 bits
# The cartridge's schedule (tests/roms/sound.s): after two frames of the PPU's warm-up and
# LEAD frames, each row sounds for `on` frames then is silenced for `off` frames.
FIRST_ROW = 2 + 20
SCHEDULE = [  # channel, timer (pulse, triangle), period index (noise) or rate index (DMC), on, off
    ("pulse", 507, 20, 10), ("pulse", 253, 15, 10), ("pulse", 169, 10, 10),
    ("pulse", 427, 20, 10), ("pulse", 284, 15, 10), ("pulse", 213, 10, 10),
    ("triangle", 338, 20, 10), ("triangle", 253, 15, 10), ("triangle", 126, 10, 10),
    ("noise", 10, 8, 8), ("noise", 8, 8, 10),
    ("dmc", 1, 10, 20),
]
PITCH_TOLERANCE = 0.005
NOISE_TOLERANCE = 0.03
LOW_CUT = 130  # Hz: under the lowest note (165 Hz) less the window's main lobe
SILENT = 0.05
FFT_SIZE = 1 << 15
MAX_LAG = 20
REACH = 2  # frames either side of a frame in its semitone bands
SIMILAR = 0.9  # mean cosine similarity to Nestopia over the frames that sound
NOTE_SIMILAR = {"pulse": 0.8, "triangle": 0.8, "noise": 0.5, "dmc": 0.8}  # a note's mean, inner frames


def expected_rows():
    """(channel, Hz, first frame, end frame (fractional for the DMC)) for each row."""
    rows, frame = [], FIRST_ROW
    for channel, value, on, off in SCHEDULE:
        end = frame + on
        if channel == "pulse":
            hz = CPU_HZ / (16 * (value + 1))
        elif channel == "triangle":
            hz = CPU_HZ / (32 * (value + 1))
        elif channel == "noise":
            hz = CPU_HZ / NOISE_PERIODS[value]
        else:
            hz = CPU_HZ / (DMC_RATES[value] * 16)
            end = frame + DMC_BYTES * 8 * DMC_RATES[value] / FRAME_CYCLES
        rows.append((channel, hz, frame, end))
        frame += on + off
    return rows, frame


def record(core, rom, frames):
    """The left channel of `frames` frames from power-on, cut into frames, with the rate."""
    with tempfile.NamedTemporaryFile(suffix=".raw") as raw:
        run = subprocess.run([os.environ["BENCH"], core, rom, str(frames), "0", "--audio", raw.name],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True)
        samples = numpy.fromfile(raw.name, dtype="<i2").reshape(-1, 2)[:, 0].astype(float)
    rate, fps = map(float, re.search(r"audio ([0-9.]+) Hz, ([0-9.]+) fps", run.stderr.decode()).groups())
    # A frame's share is rate / fps samples, the fraction carried to the next (give or take a
    # sample over the recording, as the core counts CPU cycles and not the rounded rate).
    assert abs(len(samples) - frames * rate / fps) < 2, f"{len(samples)} samples for {frames} frames at {rate} Hz, {fps} fps"
    cuts = numpy.minimum(numpy.floor(numpy.arange(frames + 1) * rate / fps).astype(int), len(samples))
    return [samples[cuts[k]:cuts[k + 1]] for k in range(frames)], rate


def spectra(frames, rate, reach=0):
    """Each frame's power spectrum (FFT_SIZE / 2 + 1 bins from 0 to rate / 2), taken over the frame
    and `reach` frames either side, and the frequencies of the bins."""
    power = []
    for k in range(len(frames)):
        x = numpy.concatenate(frames[max(0, k - reach):k + reach + 1])
        power.append(numpy.abs(numpy.fft.rfft((x - x.mean()) * numpy.hanning(len(x)), FFT_SIZE)) ** 2)
    return numpy.array(power), numpy.arange(FFT_SIZE // 2 + 1) * rate / FFT_SIZE


def levels(power, hz):
    """Each frame's level above LOW_CUT, and whether it sounds."""
    level = numpy.sqrt(power[:, hz > LOW_CUT].sum(axis=1))
    return level, level > SILENT * level.max()


def peak(power, hz):
    """The strongest frequency above LOW_CUT, interpolated between bins (a parabola through the
    log power of the peak's bin and its neighbours)."""
    i = max(1, numpy.argmax(numpy.where(hz > LOW_CUT, power, 0)))
    a, b, c = numpy.log(power[i - 1:i + 2] + 1e-12)
    return (i + 0.5 * (a - c) / (a - 2 * b + c)) * hz[1] if a - 2 * b + c < 0 else 0


def check(name, frames, rate):
    """The schedule's checks on one recording: the failures, and the rows whose pitch is wrong."""
    power, hz = spectra(frames, rate)
    level, sounding = levels(power, hz)
    rows, _ = expected_rows()
    failures, wrong, worst = [], set(), {}
    must_sound = numpy.zeros(len(frames), bool)
    may_sound = numpy.zeros(len(frames), bool)
    for row, (channel, expected, start, end) in enumerate(rows):
        inside = [k for k in range(len(frames)) if k >= start + 1 and k + 1 <= end - 1]
        must_sound[inside] = True
        may_sound[max(0, int(start) - 1):min(len(frames), int(numpy.ceil(end)) + 1)] = True
        if channel == "noise":
            # The first zero of the burst's spectrum, between 0.7 and 1.3 times the clock.
            average = power[inside].mean(axis=0)
            near = (hz > 0.7 * expected) & (hz < 1.3 * expected)
            errors = [hz[near][numpy.argmin(average[near])] / expected - 1]
            tolerance = NOISE_TOLERANCE
        else:
            errors = [peak(power[k], hz) / expected - 1 for k in inside]
            tolerance = PITCH_TOLERANCE
        error = max(errors, key=abs)
        worst[channel] = max(worst.get(channel, 0), abs(error))
        if abs(error) > tolerance:
            wrong.add(row)
            failures.append(f"{name}: {channel} {expected:.1f} Hz at frames {start}-{end:.1f} "
                            f"measured {expected * (1 + error):.1f} Hz ({100 * error:+.2f}%)")
    for k in numpy.flatnonzero(must_sound & ~sounding):
        failures.append(f"{name}: frame {k} silent (level {level[k]:.0f}), a note was to sound")
    for k in numpy.flatnonzero(~may_sound & sounding):
        failures.append(f"{name}: frame {k} sounds (level {level[k]:.0f}, {peak(power[k], hz):.1f} Hz), "
                        "silence was due")
    print(f"{name}: {len(frames)} frames at {rate:.0f} Hz, worst pitch errors " +
          ", ".join(f"{c} {100 * e:.3f}%" for c, e in worst.items()))
    return failures, wrong


def bands(frames, rate):
    """Per frame: the power in the 84 semitone bands from A2 to A9 (14 kHz), unit length (zero for a
    silent frame). Taken over the frame and REACH frames either side: the main lobe of one frame's
    window is 240 Hz wide, many semitones at 220 Hz (13 Hz); five frames' is 48 Hz."""
    power, hz = spectra(frames, rate, reach=REACH)
    edges = 110 * 2 ** ((numpy.arange(84 + 1) - 0.5) / 12)
    index = numpy.searchsorted(edges, hz)
    vectors = numpy.array([numpy.bincount(index, p, len(edges) + 1)[1:len(edges)] for p in power])
    vectors[~levels(*spectra(frames, rate))[1]] = 0
    norms = numpy.linalg.norm(vectors, axis=1)
    return vectors / numpy.where(norms > 0, norms, 1)[:, None]


def similarity(ours, theirs):
    """At the best lag (our frame k is their frame k + lag): the lag, the mean similarity over the
    frames heard in either, and each row's mean over its inner frames (ours)."""
    best = None
    for lag in range(-MAX_LAG, MAX_LAG + 1):
        scores = numpy.zeros(len(ours))
        k = numpy.arange(max(0, -lag), min(len(ours), len(theirs) - lag))
        scores[k] = (ours[k] * theirs[k + lag]).sum(axis=1)
        heard = numpy.zeros(len(ours), bool)
        heard[k] = ours[k].any(axis=1) | theirs[k + lag].any(axis=1)
        if best is None or scores[heard].mean() > best[1]:
            best = (lag, scores[heard].mean(), scores)
    lag, mean, scores = best
    rows = [scores[int(start) + 1:int(end) - 1].mean() for _, _, start, end in expected_rows()[0]]
    return lag, mean, rows


def main():
    case = sys.argv[1] if len(sys.argv) == 2 else ""
    if case not in ("notes", "nestopia"):
        print(__doc__)
        return 2
    rows, frames = expected_rows()  # the whole schedule, to the end of its last row's gap
    sharp = {row for row, r in enumerate(rows) if r[0] in ("pulse", "triangle")}  # in sound_sharp.nes
    roms = os.environ["ROMS"]
    ours = {name: record(os.environ["CORE"], os.path.join(roms, name + ".nes"), frames)
            for name in ("sound", "sound_sharp")}
    failures = []
    if case == "notes":
        failures += check("quenrik", *ours["sound"])[0]
        # The sharp build: every pulse and triangle note rejected for its pitch, and only those.
        rejected = check("quenrik, a semitone sharp", *ours["sound_sharp"])[1]
        if rejected != sharp:
            failures.append(f"the sharp build: rows {sorted(rejected)} rejected for their pitch, not {sorted(sharp)}")
    else:
        nestopia = os.environ["NESTOPIA"]
        if not os.path.exists(nestopia):
            print(f"{nestopia} is not installed (scripts/install-deps)")
            return SKIPPED
        theirs = record(nestopia, os.path.join(roms, "sound.nes"), frames)
        failures += check("Nestopia", *theirs)[0]
        reference = bands(*theirs)
        # The notes unlike Nestopia's: none for sound.nes, every pulse and triangle note (and
        # only those) for the sharp build.
        for name, unlike in (("sound", set()), ("sound_sharp", sharp)):
            lag, mean, notes = similarity(bands(*ours[name]), reference)
            print(f"quenrik's {name}.nes against Nestopia's sound.nes: lag {lag} frames, similarity mean "
                  f"{mean:.3f}, by note " + " ".join(f"{n:.2f}" for n in notes))
            found = {row for row, n in enumerate(notes) if not n >= NOTE_SIMILAR[rows[row][0]]}
            if found != unlike:
                failures.append(f"quenrik's {name}.nes: notes {sorted(found)} unlike Nestopia's, not {sorted(unlike)}")
            if name == "sound" and not mean >= SIMILAR:
                failures.append(f"quenrik's sound.nes: similarity {mean:.3f} to Nestopia's, under {SIMILAR}")
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
