// quenrik's sound in the browser's audio thread: an AudioWorklet processor fed by the page
// (page.js) with the core's samples, one message per run of frames, and played at the audio
// clock's pace. The page's frames follow its own clock, so the two drift apart a little: the
// queue is kept near its target fill by dropping or repeating a single sample now and then,
// never more than one in 200, so that no one hears it. When the queue runs dry, or the page
// stops feeding it, the sound fades out over a few milliseconds instead of breaking off.
"use strict";

const FADE_SECONDS = 0.005;
const MOST_CORRECTED = 1 / 200;  // samples dropped or repeated, at most, per sample played
// How hard the fill is pulled to its target: the share of samples corrected per second of
// difference beyond LEFT_ALONE (the most at 15 ms off), gentle enough beside the averaging that
// the pull settles in a few seconds without swinging past the target. Within LEFT_ALONE the
// page's uneven frames are left alone: on a 60 Hz display the page runs two frames at one
// refresh every 10 s or so (the console's 60.0988 frames a second), and the average fill drifts
// down by a frame in between and jumps back; only a lasting drift is corrected.
const PULL = 1;
const LEFT_ALONE = 0.010;
const AVERAGE_SECONDS = 0.5;     // the fill is judged by its average over about this long
const REPORT_SECONDS = 0.25;

class QuenrikSound extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const { rate, target } = options.processorOptions;
    this.target = target;  // seconds of sound queued, on average
    this.setRate(rate);
    // The queue: stereo sample frames at the core's rate, in a ring.
    const capacity = Math.ceil(rate * Math.max(0.5, 6 * target));
    this.left = new Float32Array(capacity);
    this.right = new Float32Array(capacity);
    this.first = 0;     // the oldest sample frame queued
    this.count = 0;     // sample frames queued
    this.position = 0;  // where the next output sample is, past the oldest one (0 to 1)
    // waiting: silent until the queue has its target fill; playing; leaving: fading out, then
    // this.then: "empty" (flushed or ran dry: waiting again), or "skip" (back to the target).
    this.state = "waiting";
    this.then = null;
    this.envelope = 0;
    this.fadeStep = 1 / (FADE_SECONDS * sampleRate);
    this.average = 0;
    this.lastPush = 0;  // sample frames in the last message: the fill swings by that much
    this.owed = 0;      // samples to drop (positive) or repeat (negative), not yet done
    this.lastLeft = 0;
    this.lastRight = 0;
    this.sinceReport = 0;
    this.stats = { played: 0, dropped: 0, repeated: 0, starved: 0, skipped: 0, overflowed: 0 };
    this.lowest = null;
    this.highest = null;
    this.port.onmessage = (event) => this.receive(event.data);
  }

  setRate(rate) {
    this.rate = rate;
    this.step = rate / sampleRate;  // the core's samples per output sample: 1 at the same rate
  }

  receive(message) {
    if (message.samples) this.push(message.samples);
    if (message.flush) this.leave("empty");
    if (message.rate) this.setRate(message.rate);
  }

  push(samples) {
    const capacity = this.left.length;
    const frames = samples.length >> 1;
    this.lastPush = frames;
    for (let i = 0; i < frames; ++i) {
      if (this.count === capacity) {  // only if the audio thread stood still for long
        this.first = (this.first + 1) % capacity;
        --this.count;
        ++this.stats.overflowed;
      }
      const at = (this.first + this.count) % capacity;
      this.left[at] = samples[2 * i] / 32768;
      this.right[at] = samples[2 * i + 1] / 32768;
      ++this.count;
    }
    // Far more than the target (the audio thread fell behind): fade out and go back to it.
    if (this.state === "playing" && this.fill() > 4 * this.target) {
      this.leave("skip");
      ++this.stats.skipped;
    }
  }

  fill() {
    return (this.count - this.position) / this.rate;
  }

  leave(then) {
    if (this.state === "waiting") {
      if (then === "empty") this.empty();
      return;
    }
    this.state = "leaving";
    this.then = then;
  }

  empty() {
    this.first = 0;
    this.count = 0;
    this.position = 0;
    this.owed = 0;
    this.state = "waiting";
  }

  // The fade out is over.
  faded() {
    if (this.then === "skip") {
      const keep = Math.ceil(this.target * this.rate);
      if (this.count > keep) {
        this.first = (this.first + this.count - keep) % this.left.length;
        this.count = keep;
      }
      this.state = "playing";
      this.average = this.fill();
      this.owed = 0;
    } else {
      this.empty();
    }
  }

  process(inputs, outputs) {
    const out = outputs[0];
    const outLeft = out[0], outRight = out[1] || out[0];
    const length = outLeft.length;
    const stateBefore = this.state;
    const fill = this.fill();
    this.average += (fill - this.average) * Math.min(1, length / (sampleRate * AVERAGE_SECONDS));
    // The fill rises by a frame's samples at each message and falls between them: the playing
    // starts with the target in the middle of that swing. What is queued beyond is dropped
    // unheard, from the oldest, before the fade in.
    const top = this.target + this.lastPush / this.rate / 2;
    if (this.state === "waiting" && fill >= top) {
      const drop = Math.floor(fill * this.rate - top * this.rate);
      this.first = (this.first + drop) % this.left.length;
      this.count -= drop;
      this.state = "playing";
      this.average = this.target;
      this.owed = 0;
    }
    if (this.state === "playing") {
      this.lowest = this.lowest === null ? fill : Math.min(this.lowest, fill);
      this.highest = this.highest === null ? fill : Math.max(this.highest, fill);
      // Running dry before this block and a fade are played: fade out now, with the samples left.
      const needed = (length + 1 / this.fadeStep) * this.step * (1 + MOST_CORRECTED) + 2;
      if (this.count - this.position < needed) {
        this.leave("empty");
        ++this.stats.starved;
      }
    }
    const off = this.average - this.target;
    const correction = this.state !== "playing" || Math.abs(off) <= LEFT_ALONE ? 0
      : Math.sign(off) * Math.min(MOST_CORRECTED, PULL * (Math.abs(off) - LEFT_ALONE));

    const capacity = this.left.length;
    for (let i = 0; i < length; ++i) {
      if (this.state === "waiting") {
        outLeft[i] = 0;
        outRight[i] = 0;
        continue;
      }
      if (this.state === "playing") this.envelope = Math.min(1, this.envelope + this.fadeStep);
      let advance = this.step;
      this.owed += correction * this.step;
      if (this.owed >= 1) {
        advance += 1;  // one sample of the queue left out
        this.owed -= 1;
        ++this.stats.dropped;
      } else if (this.owed <= -this.step) {
        advance = 0;   // this sample played twice
        this.owed += this.step;
        ++this.stats.repeated;
      }
      if (this.count >= this.position + advance + 2) {
        // Between two of the core's samples, in a straight line (at the same rate, on one).
        const a = this.first, b = (a + 1) % capacity, t = this.position;
        this.lastLeft = this.left[a] + (this.left[b] - this.left[a]) * t;
        this.lastRight = this.right[a] + (this.right[b] - this.right[a]) * t;
        this.position += advance;
        const whole = Math.floor(this.position);
        this.first = (this.first + whole) % capacity;
        this.count -= whole;
        this.position -= whole;
      } else if (this.state === "playing") {
        // Dry after all: the last sample held while it fades.
        this.leave("empty");
        ++this.stats.starved;
      }
      outLeft[i] = this.lastLeft * this.envelope;
      outRight[i] = this.lastRight * this.envelope;
      ++this.stats.played;
      if (this.state === "leaving") {
        this.envelope -= this.fadeStep;
        if (this.envelope <= 0) {
          this.envelope = 0;
          this.faded();
        }
      }
    }

    // The page's figures and tests: the counts since the start, in samples played, and the
    // queue's fill (seconds) now, on average, and its lowest and highest while playing since the
    // last report; at once when the state changed.
    this.sinceReport += length;
    if (this.sinceReport >= REPORT_SECONDS * sampleRate || this.state !== stateBefore) {
      this.sinceReport = 0;
      this.port.postMessage(Object.assign({ state: this.state, fill: this.fill(), average: this.average,
                                            lowest: this.lowest, highest: this.highest }, this.stats));
      this.lowest = null;
      this.highest = null;
    }
    return true;
  }
}

registerProcessor("quenrik-sound", QuenrikSound);
