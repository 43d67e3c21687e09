// quenrik's page: the core in quenrik.wasm (web.cpp's functions), paced by the clock at the
// console's frame rate, drawn on the canvas, heard through an AudioWorklet (sound.js), fed by the
// keyboard, a gamepad and the on-screen pad, with save states in the browser's storage, kept for
// offline use by a service worker (sw.js). With ?test in the address nothing runs by itself: the
// test drives the frames through window.quenrikTest. ?touch shows the on-screen pad on a desktop.
"use strict";

(() => {
  // The console's NTSC frame rate, 39375000 / 655171 frames a second.
  const FRAME_MS = 1000 * 655171 / 39375000;
  // At most this many frames at one display refresh: a display down to 15 Hz keeps the pace,
  // and after a pause of the page (a hidden tab) the game goes on instead of racing to catch up.
  const MAX_FRAMES_PER_TICK = 4;
  const WIDTH = 256, HEIGHT = 240, LEFT = 32;  // the picture in the program's 320x240 window
  const SLOTS = 4;
  // The largest file taken as a cartridge: the most an iNES header can describe (255 PRG banks of
  // 16 KB, 255 CHR banks of 8 KB, a 512-byte trainer, the header), well above what today's loader
  // takes, so that boards with bank switching need no change here. A larger file is refused
  // before it is read whole or copied into the module.
  const MAX_CARTRIDGE_BYTES = 16 + 512 + 255 * 16384 + 255 * 8192;
  const LOG_LINES = 400;
  // The sound queued in the worklet, on average: a few frames, so that a late frame or two of
  // the page's is not heard.
  const SOUND_TARGET_SECONDS = 0.07;
  const DEFAULT_VOLUME = 70;  // of 100

  const options = new URLSearchParams(location.search);
  const testMode = options.has("test");
  const $ = (id) => document.getElementById(id);
  const canvas = $("screen"), context = canvas.getContext("2d", { alpha: false });
  const statusLine = $("status"), banner = $("banner"), logPanel = $("log");

  let core = null;            // the module's functions, once it is ready
  let cartridge = null;       // { name, bytes, key } of the running game
  let paused = false;
  let stopped = false;        // the core stopped the machine (an unknown opcode)
  let slot = 1;
  let keyButtons = 0, padButtons = 0, touchButtons = 0;
  const held = () => keyButtons | padButtons | touchButtons;
  let framesRun = 0;
  let firstPictureMs = null;  // from the start of the page's load

  // ---- The picture -----------------------------------------------------------------------------
  // RGB565 to the canvas's RGBA, each channel's bits repeated into the low ones.
  const rgba = new Uint32Array(65536);
  for (let v = 0; v < 65536; ++v) {
    const r = v >> 11, g = (v >> 5) & 63, b = v & 31;
    const r8 = (r << 3) | (r >> 2), g8 = (g << 2) | (g >> 4), b8 = (b << 3) | (b >> 2);
    rgba[v] = (0xFF000000 | (b8 << 16) | (g8 << 8) | r8) >>> 0;
  }
  const image = context.createImageData(WIDTH, HEIGHT);
  const imageWords = new Uint32Array(image.data.buffer);
  context.fillStyle = "#000";
  context.fillRect(0, 0, canvas.width, canvas.height);

  function pictureWords() {
    const at = core.picture();
    return at === 0 ? null : new Uint16Array(core.module.HEAPU8.buffer, at, WIDTH * HEIGHT);
  }

  function draw() {
    const pixels = pictureWords();
    if (pixels === null) return;
    for (let i = 0; i < pixels.length; ++i) imageWords[i] = rgba[pixels[i]];
    context.putImageData(image, LEFT, 0);
    if (firstPictureMs === null) firstPictureMs = performance.now();
  }

  // The picture's shape: the program's window (320x240, square pixels, the picture between black
  // columns), or the picture alone with the console's pixels (8:7) or stretched to 4:3. The canvas
  // stays the window; the other shapes show its middle through #screen-box.
  const SHAPES = { window: 320 / 240, "8:7": (256 * 8 / 7) / 240, "4:3": 4 / 3 };
  // On a desktop, the program's window at the largest whole multiple that fits the page's width
  // and most of its height; the other shapes fill that room. With the on-screen pad, the screen's
  // width in portrait (the pad below), its height in landscape (the pad at the sides).
  function fitScreen() {
    document.body.classList.toggle("touch", touchShown);
    const box = $("screen-box"), shape = $("aspect").value, ratio = SHAPES[shape] || SHAPES.window;
    const width = document.documentElement.clientWidth, height = document.documentElement.clientHeight;
    let w, h;
    if (!touchShown && shape === "window") {
      const scale = Math.max(1, Math.floor(Math.min((width - 24) / 320, (height * 0.8) / 240)));
      w = 320 * scale;
      h = 240 * scale;
    } else {
      const landscape = touchShown && width > height;
      const most = !touchShown ? [width - 24, height * 0.8] : landscape ? [width * 0.62, height] : [width, height * 0.62];
      w = Math.min(most[0], most[1] * ratio);
      h = Math.floor(w / ratio);
      w = Math.floor(w);
    }
    const wide = shape === "window" ? w : w * 320 / 256;  // the canvas, black columns and all
    box.style.width = w + "px";
    box.style.height = h + "px";
    canvas.style.width = wide + "px";
    canvas.style.height = h + "px";
    canvas.style.marginLeft = -(wide - w) / 2 + "px";
  }
  window.addEventListener("resize", fitScreen);

  // ---- Text: the core's log, the page's notes, the status line ---------------------------------
  function addLog(text, kind) {
    const line = document.createElement("div");
    line.textContent = text;
    if (kind) line.className = kind;
    logPanel.appendChild(line);
    while (logPanel.childNodes.length > LOG_LINES) logPanel.firstChild.remove();
    logPanel.scrollTop = logPanel.scrollHeight;
  }

  function setStatus(text, isError) {
    statusLine.textContent = text;
    statusLine.classList.toggle("error", !!isError);
  }

  function showBanner(text) {
    banner.textContent = text;
    banner.hidden = text === null;
  }

  // The core's log since it was last taken, into the panel. Answers its lines, each
  // { kind, text }: D, I, W, E as the core logged them, M for a message meant for the screen.
  function takeLog() {
    const text = core.module.UTF8ToString(core.takeLog());
    const lines = [];
    for (const raw of text.split("\n")) {
      if (raw === "") continue;
      const line = { kind: raw[0], text: raw.slice(1) };
      lines.push(line);
      if (line.kind === "M") {
        stopped = true;
        updateSound();
        showBanner(line.text + " — the machine has stopped: R resets it, or load a state.");
        setStatus("Stopped: " + line.text, true);
      } else {
        addLog(line.text, line.kind === "E" ? "error" : line.kind === "W" ? "note" : "");
      }
    }
    return lines;
  }

  function errorsOf(lines) {
    return lines.filter((l) => l.kind === "E").map((l) => l.text).join(" ");
  }

  // ---- Running ---------------------------------------------------------------------------------
  function runFrames(count) {
    core.setButtons(held());
    const pictures = core.runFrames(count);
    framesRun += count;
    if (pictures > 0) draw();
    takeLog();
    feedSound();
    return pictures;
  }

  let last = null, owed = 0;
  let speedFrames = 0, speedSince = null;
  function tick(now) {
    requestAnimationFrame(tick);
    pollGamepad();
    const elapsed = last === null ? 0 : now - last;
    last = now;
    if (paused || cartridge === null) {
      owed = 0;
      return;
    }
    owed += elapsed;
    let due = Math.floor(owed / FRAME_MS);
    owed -= due * FRAME_MS;
    if (due > MAX_FRAMES_PER_TICK) {
      due = MAX_FRAMES_PER_TICK;
      owed = 0;
    }
    if (firstPictureMs === null && due === 0) due = 1;  // the first picture at once
    if (due > 0) runFrames(due);

    if (stopped) {
      // Frames of a stopped machine are no pace: the readout says why none count.
      if ($("speed").textContent !== "stopped") $("speed").textContent = "stopped";
      speedFrames = 0;
      speedSince = null;
      return;
    }
    if ($("speed").textContent === "stopped") $("speed").textContent = "";
    speedFrames += due;
    if (speedSince === null) speedSince = now;
    if (now - speedSince >= 1000) {
      $("speed").textContent = (speedFrames * 1000 / (now - speedSince)).toFixed(1) + " frames a second";
      speedFrames = 0;
      speedSince = now;
    }
  }

  function setPaused(on) {
    paused = on;
    updateSound();
    $("pause").textContent = paused ? "Resume" : "Pause";
    if (paused) setStatus("Paused (P resumes).");
    else if (cartridge) setStatus("Playing " + cartridge.name + ".");
    $("speed").textContent = paused ? "paused" : stopped ? "stopped" : "";
    speedFrames = 0;
    speedSince = null;
  }

  function togglePause() {
    if (cartridge) setPaused(!paused);
  }

  function reset() {
    if (!cartridge) return;
    core.reset();
    stopped = false;
    updateSound();
    showBanner(null);
    addLog("» reset", "note");
    if (!paused) setStatus("Playing " + cartridge.name + ".");
  }

  // ---- Bytes into the module -----------------------------------------------------------------------
  function withBytes(bytes, use) {
    const at = core.malloc(Math.max(1, bytes.length));
    if (at === 0) return null;
    try {
      core.module.HEAPU8.set(bytes, at);
      return use(at, bytes.length);
    } finally {
      core.free(at);
    }
  }

  // Two FNV-1a hashes of the bytes, with their length: the key of a cartridge's states.
  function cartridgeKey(bytes) {
    let a = 0x811c9dc5, b = 0x01000193 ^ bytes.length;
    for (let i = 0; i < bytes.length; ++i) {
      a = Math.imul(a ^ bytes[i], 0x01000193);
      b = Math.imul(b ^ bytes[i] ^ (i & 0xFF), 0x01000193);
    }
    const hex = (v) => (v >>> 0).toString(16).padStart(8, "0");
    return hex(a) + hex(b) + "-" + bytes.length;
  }

  function refuse(name, why) {
    addLog("» " + name + " not loaded: " + why, "error");
    setStatus(name + " not loaded: " + why + (cartridge ? " — " + cartridge.name + " goes on." : ""), true);
    return false;
  }

  // A cartridge from its bytes; a refused one leaves the running game exactly as it was.
  function loadCartridge(name, bytes) {
    addLog("» " + name + " (" + bytes.length + " bytes)", "note");
    const taken = withBytes(bytes, (at, size) => core.loadCartridge(at, size));
    const lines = takeLog();
    if (taken !== 1) return refuse(name, taken === null ? "the file is too large" : errorsOf(lines) || "refused by the loader");
    cartridge = { name, bytes, key: cartridgeKey(bytes) };
    stopped = false;
    if (sound.node) sound.node.port.postMessage({ rate: core.soundRate() });
    // The core's picture is black until the game draws one, which it may never do.
    context.fillRect(0, 0, canvas.width, canvas.height);
    showBanner(null);
    setPaused(false);
    setStatus("Playing " + name + ".");
    document.title = "quenrik — " + name;
    showSlotInfo();
    return true;
  }

  // The module's start: a file chosen before it waits for it, and takes the demo's place.
  let coreReady;
  const coreStarted = new Promise((resolve) => { coreReady = resolve; });
  let fileChosen = false;

  async function loadFile(file) {
    if (!file) return;
    let bytes;
    try {
      bytes = new Uint8Array(await file.slice(0, MAX_CARTRIDGE_BYTES + 1).arrayBuffer());
    } catch (error) {
      setStatus(file.name + " could not be read: " + error.message, true);
      return;
    }
    if (bytes.length > MAX_CARTRIDGE_BYTES)
      return refuse(file.name, "the file is larger than any cartridge (" + file.size + " bytes, at most " + MAX_CARTRIDGE_BYTES + ")");
    fileChosen = true;
    if (core === null) {
      setStatus("quenrik is starting: " + file.name + " follows.");
      await coreStarted;
    }
    loadCartridge(file.name, bytes);
  }

  // ---- Save states: IndexedDB, a few slots per cartridge ------------------------------------------
  // The connection, opened at the first use and again after the browser closed it (site data
  // cleared) or another page asked for a new version.
  let database = null;
  function openDatabase() {
    if (database) return database;
    const opening = new Promise((resolve, reject) => {
      const forget = () => { if (database === opening) database = null; };
      const request = indexedDB.open("quenrik", 1);
      request.onupgradeneeded = () => request.result.createObjectStore("states");
      request.onsuccess = () => {
        const db = request.result;
        db.onclose = forget;
        db.onversionchange = () => { db.close(); forget(); };
        resolve(db);
      };
      request.onerror = () => {
        forget();
        reject(request.error || new Error("the storage could not be opened"));
      };
    });
    database = opening;
    return opening;
  }

  async function storage(mode, work, again = true) {
    const db = await openDatabase();
    let transaction;
    try {
      transaction = db.transaction("states", mode);
    } catch (error) {
      // A connection the browser is closing, before its close event came: once more on a new one.
      if (error.name !== "InvalidStateError" || !again) throw error;
      if (database !== null && (await database) === db) database = null;
      return storage(mode, work, false);
    }
    return new Promise((resolve, reject) => {
      const request = work(transaction.objectStore("states"));
      transaction.oncomplete = () => resolve(request.result);
      // Chromium sets transaction.error only at the abort; at the error it is the request's.
      const fail = (event) => reject(transaction.error || (event.target && event.target.error) ||
                                     new Error("the storage's transaction failed"));
      transaction.onerror = fail;
      transaction.onabort = fail;
    });
  }
  const slotKey = (cartridgeKey, number) => cartridgeKey + "/" + number;
  const readSlot = (key, number) => storage("readonly", (s) => s.get(slotKey(key, number)));
  const writeSlot = (key, number, entry) => storage("readwrite", (s) => s.put(entry, slotKey(key, number)));

  async function saveState() {
    if (!cartridge) return;
    const size = core.stateSize();
    const at = core.malloc(size);
    if (at === 0) return;
    let bytes = null;
    try {
      if (core.saveState(at) === 1) bytes = core.module.HEAPU8.slice(at, at + size);
    } finally {
      core.free(at);
    }
    takeLog();
    if (bytes === null) {
      setStatus("The state could not be taken.", true);
      return;
    }
    const number = slot, owner = cartridge;
    try {
      await writeSlot(owner.key, number, { state: bytes, saved: Date.now(), cartridge: owner.name });
      setStatus("State saved in slot " + number + ".");
      addLog("» state saved in slot " + number, "note");
    } catch (error) {
      setStatus("The state could not be stored: " + error.message, true);
    }
    showSlotInfo();
  }

  async function loadState() {
    if (!cartridge) return;
    const number = slot, owner = cartridge;
    let entry;
    try {
      entry = await readSlot(owner.key, number);
    } catch (error) {
      setStatus("The browser's storage could not be read: " + error.message, true);
      return;
    }
    if (cartridge !== owner) return;  // another cartridge came meanwhile
    if (!entry) {
      setStatus("Slot " + number + " is empty.", true);
      return;
    }
    const bytes = entry.state instanceof Uint8Array ? entry.state : new Uint8Array(0);
    // A state holds no picture: the frame that follows it is run and drawn, then the state is put
    // back, so that a paused game shows it too. That frame's lines come when it is run for good.
    let drawn = false;
    const taken = withBytes(bytes, (at, size) => {
      if (core.loadState(at, size) !== 1) return 0;
      core.setButtons(held());
      drawn = core.runFrames(1) > 0;
      core.takeLog();
      core.takeSound();  // heard when the frame is run for good
      return core.loadState(at, size);
    });
    const lines = takeLog();
    if (taken !== 1) {
      const why = errorsOf(lines) || "the state was refused";
      setStatus("Slot " + number + ": " + why + " — the game goes on.", true);
      return;
    }
    if (drawn) draw();
    stopped = false;
    updateSound();
    if (paused) $("speed").textContent = "paused";
    showBanner(null);
    setStatus("State of slot " + number + " loaded" + (paused ? " (paused)." : "."));
    addLog("» state of slot " + number + " loaded", "note");
  }

  async function showSlotInfo() {
    if (!cartridge) return;
    const owner = cartridge, number = slot;
    let text;
    try {
      const entry = await readSlot(owner.key, number);
      text = entry ? "slot " + number + ": saved " + new Date(entry.saved).toLocaleString() : "slot " + number + ": empty";
    } catch (error) {
      text = "no storage: " + error.message;
    }
    if (cartridge === owner && slot === number) $("slot-info").textContent = text;
  }

  function chooseSlot(number) {
    slot = number;
    for (const button of $("slots").children) button.setAttribute("aria-pressed", String(button.dataset.slot == number));
    showSlotInfo();
  }
  for (let number = 1; number <= SLOTS; ++number) {
    const button = document.createElement("button");
    button.type = "button";
    button.textContent = String(number);
    button.dataset.slot = String(number);
    button.addEventListener("click", () => chooseSlot(number));
    $("slots").appendChild(button);
  }
  chooseSlot(1);

  // ---- Sound ---------------------------------------------------------------------------------------
  // The core's samples of each run of frames go to the worklet (sound.js), which plays them at the
  // audio clock's pace, then through a GainNode, the volume. Browsers start sound only after the
  // user did something: the AudioContext is made at the first click, key or touch.
  const sound = {
    context: null, node: null, gain: null,
    failed: null,      // why there is no sound, if the browser has none to give
    playing: false,    // the worklet is being fed
    suspending: null,  // the timer that suspends the context once the fade is over
    stats: null,       // the worklet's last report
    recording: null,   // test mode: the samples of the frames run, in chunks
    volume: DEFAULT_VOLUME,
    muted: false,
  };

  // The settings kept across reloads; a browser without storage keeps them for this page only.
  function remember(key, value) {
    try {
      localStorage.setItem(key, value);
    } catch (error) { /* no storage */ }
  }
  function recall(key) {
    try {
      return localStorage.getItem(key);
    } catch (error) {
      return null;
    }
  }

  function applyVolume() {
    $("mute").setAttribute("aria-pressed", String(sound.muted));
    $("volume").value = String(sound.volume);
    if (!sound.gain) return;
    // The slider's square: its steps sound even, from faint to full.
    const level = sound.muted ? 0 : (sound.volume / 100) ** 2;
    sound.gain.gain.setTargetAtTime(level, sound.context.currentTime, 0.01);
  }

  function setMuted(on) {
    sound.muted = on;
    remember("quenrik-muted", on ? "1" : "0");
    applyVolume();
  }

  function setVolume(value) {
    sound.volume = Math.max(0, Math.min(100, Math.round(value)));
    remember("quenrik-volume", String(sound.volume));
    applyVolume();
  }

  function showSoundInfo() {
    $("sound-info").textContent = sound.failed ? "no sound: " + sound.failed
      : sound.context === null ? "sound starts at a click or a key" : "";
  }

  // At a gesture: the context made (or resumed, as the browser may have held it back).
  function startSound() {
    if (sound.context !== null || sound.failed !== null) {
      updateSound();
      return;
    }
    if (!window.isSecureContext || !window.AudioContext || !window.AudioWorkletNode) {
      // AudioWorklet needs a secure page: https, or the machine's own address.
      sound.failed = !window.isSecureContext ? "the page is not served over https" : "this browser has no AudioWorklet";
      showSoundInfo();
      return;
    }
    const rate = core ? core.soundRate() : 48000;
    try {
      sound.context = new AudioContext({ sampleRate: rate, latencyHint: "interactive" });
    } catch (error) {
      // A rate the browser does not take: its own, and the worklet resamples.
      sound.context = new AudioContext({ latencyHint: "interactive" });
    }
    showSoundInfo();
    sound.context.audioWorklet.addModule("sound.js").then(() => {
      sound.node = new AudioWorkletNode(sound.context, "quenrik-sound", {
        numberOfInputs: 0, outputChannelCount: [2],
        processorOptions: { rate: core ? core.soundRate() : rate, target: SOUND_TARGET_SECONDS },
      });
      sound.node.port.onmessage = (event) => { sound.stats = event.data; };
      sound.gain = sound.context.createGain();
      sound.gain.gain.value = 0;
      sound.node.connect(sound.gain);
      sound.gain.connect(sound.context.destination);
      applyVolume();
      updateSound();
    }).catch((error) => {
      sound.failed = "the sound's worklet did not start (" + error.message + ")";
      sound.context.close();
      showSoundInfo();
      addLog("» " + sound.failed, "error");
    });
  }
  for (const type of ["click", "keydown", "touchend"]) document.addEventListener(type, startSound, true);

  // Sound only while the game runs and is seen: pause, a stopped machine and a hidden tab stop
  // the feeding; the worklet fades out and drops what it holds, and the context sleeps. Feeding
  // again, the worklet waits for its target fill, then fades in.
  function updateSound() {
    updateWakeLock();
    if (!sound.node) return;
    const wanted = core !== null && cartridge !== null && !paused && !stopped && document.visibilityState === "visible";
    if (wanted === sound.playing) {
      if (wanted && sound.context.state !== "running") sound.context.resume().catch(() => {});
      return;
    }
    sound.playing = wanted;
    clearTimeout(sound.suspending);
    if (wanted) {
      sound.context.resume().catch(() => {});
    } else {
      sound.node.port.postMessage({ flush: true });
      sound.suspending = setTimeout(() => {
        if (!sound.playing) sound.context.suspend().catch(() => {});
      }, 100);
    }
  }
  document.addEventListener("visibilitychange", updateSound);

  // The samples of the frames just run, taken from the module and sent to the worklet.
  function feedSound() {
    const frames = core.takeSound();
    if (frames === 0 || (!sound.playing && sound.recording === null)) return;
    const samples = new Int16Array(core.module.HEAPU8.buffer, core.sound(), 2 * frames);
    if (sound.recording !== null) sound.recording.push(samples.slice());
    // A context the browser has not let run yet would only pile them up.
    if (sound.playing && sound.context.state === "running") {
      const copy = samples.slice();
      sound.node.port.postMessage({ samples: copy }, [copy.buffer]);
    }
  }

  {
    const volume = Number.parseInt(recall("quenrik-volume"), 10);
    sound.volume = Number.isNaN(volume) ? DEFAULT_VOLUME : Math.max(0, Math.min(100, volume));
    sound.muted = recall("quenrik-muted") === "1";
    applyVolume();
    showSoundInfo();
  }

  // ---- Keyboard and gamepad ------------------------------------------------------------------------
  // The pad's buttons in its read order, and the program's keys for them: the default map.
  const BUTTON_NAMES = ["A", "B", "Select", "Start", "Up", "Down", "Left", "Right"];
  const DEFAULT_KEYS = ["x", "z", "a", "s", "arrowup", "arrowdown", "arrowleft", "arrowright"];
  // The page's own keys, which no button may take; Tab and Esc stay the browser's and the table's.
  const PAGE_KEYS = ["r", "p", "f2", "f4", "m", "tab", "escape"];
  // The standard mapping's buttons for A, B, Select, Start, Up, Down, Left, Right. A pad without
  // that mapping is read where most pads agree: the first two buttons, 8 and 9, the first stick.
  const standardButtons = [1, 0, 8, 9, 12, 13, 14, 15];
  const otherButtons = [1, 0, 8, 9];

  // The player's maps, kept in localStorage: a key (event.key in lower case) and a gamepad button
  // for each of the pad's buttons. padMap is null until the player changes a gamepad button.
  function recallMap(name, valid) {
    try {
      const map = JSON.parse(recall(name));
      return Array.isArray(map) && map.length === 8 && map.every(valid) ? map : null;
    } catch (error) {
      return null;
    }
  }
  let keyMap = recallMap("quenrik-keys", (k) => typeof k === "string" && k !== "" && !PAGE_KEYS.includes(k)) || DEFAULT_KEYS.slice();
  let padMap = recallMap("quenrik-pad", (b) => Number.isInteger(b) && b >= 0 && b < 64);
  let padKeys = new Map();
  let changing = null;  // { kind: "key" or "pad", bit } while the table waits for a key or a button

  const keyName = (key) => ({ arrowup: "↑", arrowdown: "↓", arrowleft: "←", arrowright: "→", " ": "Space" }[key] ||
                             (key.length === 1 ? key.toUpperCase() : key[0].toUpperCase() + key.slice(1)));
  function showKeyMap() {
    padKeys = new Map(keyMap.map((key, bit) => [key, bit]));
    const rows = $("keymap").tBodies[0];
    rows.textContent = "";
    BUTTON_NAMES.forEach((name, bit) => {
      const row = rows.insertRow();
      row.insertCell().textContent = name;
      for (const kind of ["key", "pad"]) {
        const button = document.createElement("button");
        button.type = "button";
        button.id = kind + "-" + name.toLowerCase();
        const waiting = changing && changing.kind === kind && changing.bit === bit;
        button.textContent = waiting ? (kind === "key" ? "press a key…" : "press a button…")
          : kind === "key" ? keyName(keyMap[bit]) : padMap ? "button " + padMap[bit] : "button " + standardButtons[bit];
        button.classList.toggle("waiting", waiting);
        button.addEventListener("click", () => {
          changing = waiting ? null : { kind, bit };
          showKeyMap();
        });
        row.insertCell().appendChild(button);
      }
    });
  }

  // A new key or button for changing.bit; one that another button had takes this one's old one.
  function remap(value) {
    const { kind, bit } = changing;
    changing = null;
    const map = kind === "key" ? keyMap : (padMap = padMap || standardButtons.slice());
    const other = map.indexOf(value);
    if (other >= 0) map[other] = map[bit];
    map[bit] = value;
    remember(kind === "key" ? "quenrik-keys" : "quenrik-pad", JSON.stringify(map));
    keyButtons = 0;
    showKeyMap();
  }

  $("default-keys").addEventListener("click", () => {
    keyMap = DEFAULT_KEYS.slice();
    padMap = null;
    changing = null;
    try {
      localStorage.removeItem("quenrik-keys");
      localStorage.removeItem("quenrik-pad");
    } catch (error) { /* no storage */ }
    showKeyMap();
  });
  showKeyMap();

  document.addEventListener("keydown", (event) => {
    if (event.ctrlKey || event.altKey || event.metaKey) return;
    const key = event.key.toLowerCase();
    if (changing && changing.kind === "key") {
      event.preventDefault();
      if (key === "escape") {
        changing = null;
        showKeyMap();
      } else if (PAGE_KEYS.includes(key)) {
        setStatus(keyName(key) + " is the page's own key: choose another.", true);
      } else if (!["shift", "control", "alt", "meta"].includes(key)) {
        remap(key);
      }
      return;
    }
    // The volume reached with Tab takes the arrows; clicked with the mouse it lets the focus go.
    if (event.target === $("volume") && key.startsWith("arrow")) return;
    if (padKeys.has(key)) {
      keyButtons |= 1 << padKeys.get(key);
    } else if (key === "r") {
      if (!event.repeat) reset();
    } else if (key === "p") {
      if (!event.repeat) togglePause();
    } else if (key === "f2") {
      if (!event.repeat) saveState();
    } else if (key === "f4") {
      if (!event.repeat) loadState();
    } else if (key === "m") {
      if (!event.repeat) setMuted(!sound.muted);
    } else {
      return;
    }
    event.preventDefault();
  });
  document.addEventListener("keyup", (event) => {
    const key = event.key.toLowerCase();
    if (padKeys.has(key)) keyButtons &= ~(1 << padKeys.get(key));
  });
  window.addEventListener("blur", () => { keyButtons = 0; });

  // The standard mapping's shoulders, triggers and centre button: F4, F2, R and P.
  const padActions = new Map([[4, () => loadState()], [5, () => saveState()], [6, reset], [7, togglePause],
                              [16, togglePause]]);
  let actionsHeld = new Set();  // "pad/button" held at the last look, so that a press acts once
  let buttonsHeld = new Set();  // the same for every button, while the table waits for one
  // Every connected pad plays as the console's pad 1; the player's map, once changed, for any pad.
  function pollGamepad() {
    padButtons = 0;
    if (!navigator.getGamepads) return;
    const held = new Set(), anyHeld = new Set();
    const pressed = (pad, index) => !!(pad.buttons[index] && pad.buttons[index].pressed);
    Array.from(navigator.getGamepads()).forEach((pad, number) => {
      if (!pad || !pad.connected) return;
      if (changing && changing.kind === "pad") {
        pad.buttons.forEach((_, index) => { if (pressed(pad, index)) anyHeld.add(number + "/" + index); });
        const fresh = [...anyHeld].find((b) => !buttonsHeld.has(b));
        if (fresh) remap(Number(fresh.split("/")[1]));
        return;
      }
      const standard = pad.mapping === "standard";
      (padMap || (standard ? standardButtons : otherButtons)).forEach((index, bit) => {
        if (pressed(pad, index)) padButtons |= 1 << bit;
      });
      const [x = 0, y = 0] = pad.axes;
      if (y < -0.5) padButtons |= 1 << 4;
      if (y > 0.5) padButtons |= 1 << 5;
      if (x < -0.5) padButtons |= 1 << 6;
      if (x > 0.5) padButtons |= 1 << 7;
      if (!standard) return;
      for (const [index, act] of padActions) {
        if (!pressed(pad, index) || (padMap && padMap.includes(index))) continue;
        held.add(number + "/" + index);
        if (!actionsHeld.has(number + "/" + index)) act();
      }
    });
    actionsHeld = held;
    buttonsHeld = anyHeld;
  }

  // ---- The on-screen pad and the screen's settings ---------------------------------------------------
  // Shown on a touch screen, on a desktop only when asked (the switch, or ?touch); the player's
  // choice is kept. Several fingers at once: each touch that started on the cross holds the
  // direction of its angle from the cross's centre (diagonals too), so that a thumb slides from
  // one to the next; each other touch holds the button under it.
  const touchDevice = navigator.maxTouchPoints > 0 || matchMedia("(any-pointer: coarse)").matches;
  let touchShown = options.has("touch") || (recall("quenrik-touch") || (touchDevice ? "1" : "0")) === "1";
  let vibrate = recall("quenrik-vibrate") === "1";
  const touchOwners = new Map();  // a touch's identifier: "cross" or "buttons", where it began
  const DIRECTIONS = [1 << 7, 1 << 7 | 1 << 5, 1 << 5, 1 << 5 | 1 << 6, 1 << 6, 1 << 6 | 1 << 4, 1 << 4, 1 << 4 | 1 << 7];

  function crossButtons(touch) {
    const r = $("cross").getBoundingClientRect();
    const dx = touch.clientX - (r.left + r.width / 2), dy = touch.clientY - (r.top + r.height / 2);
    if (Math.hypot(dx, dy) < r.width * 0.1) return 0;  // the dead centre
    return DIRECTIONS[Math.round(Math.atan2(dy, dx) / (Math.PI / 4)) & 7];  // right, then clockwise
  }

  function setTouchButtons(buttons) {
    const pressed = buttons & ~touchButtons;
    touchButtons = buttons;
    for (const key of $("play").querySelectorAll("[data-button]"))
      key.classList.toggle("held", ((buttons >> Number(key.dataset.button)) & 1) === 1);
    if (pressed && vibrate && navigator.vibrate) navigator.vibrate(15);
  }

  function onTouch(event) {
    if (!touchShown) return;
    const ending = event.type === "touchend" || event.type === "touchcancel";
    for (const touch of event.changedTouches) {
      if (event.type === "touchstart") {
        const owner = touch.target.closest && touch.target.closest("#pad-cross, #pad-buttons");
        if (owner) touchOwners.set(touch.identifier, owner.id === "pad-cross" ? "cross" : "buttons");
      } else if (ending) {
        // Full screen asks for a gesture, which a touch's end is and its start is not.
        const action = touchOwners.has(touch.identifier) && document.elementFromPoint(touch.clientX, touch.clientY);
        if (event.type === "touchend" && action && action.closest("[data-action=fullscreen]")) toggleFullscreen();
        touchOwners.delete(touch.identifier);
      }
    }
    let buttons = 0;
    for (const touch of event.touches) {
      const owner = touchOwners.get(touch.identifier);
      if (owner === "cross") {
        buttons |= crossButtons(touch);
      } else if (owner === "buttons") {
        const under = document.elementFromPoint(touch.clientX, touch.clientY);
        const key = under && under.closest("[data-button]");
        if (key) buttons |= 1 << Number(key.dataset.button);
      }
    }
    // No scroll, zoom, selection or synthesized click from the pad and the picture.
    if (event.cancelable) event.preventDefault();
    setTouchButtons(buttons);
  }
  for (const type of ["touchstart", "touchmove", "touchend", "touchcancel"])
    $("play").addEventListener(type, onTouch, { passive: false });
  $("play").addEventListener("contextmenu", (event) => { if (touchShown) event.preventDefault(); });

  $("touch").checked = touchShown;
  $("touch").addEventListener("change", () => {
    touchShown = $("touch").checked;
    remember("quenrik-touch", touchShown ? "1" : "0");
    setTouchButtons(0);
    fitScreen();
  });
  $("vibrate").checked = vibrate;
  $("vibrate").addEventListener("change", () => {
    vibrate = $("vibrate").checked;
    remember("quenrik-vibrate", vibrate ? "1" : "0");
  });
  $("aspect").value = recall("quenrik-aspect") in SHAPES ? recall("quenrik-aspect") : touchShown ? "8:7" : "window";
  $("aspect").addEventListener("change", () => {
    remember("quenrik-aspect", $("aspect").value);
    fitScreen();
  });
  fitScreen();

  // Full screen: the whole page, the picture and the pad on top.
  function toggleFullscreen() {
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    else if (document.documentElement.requestFullscreen)
      document.documentElement.requestFullscreen({ navigationUI: "hide" })
        .catch((error) => setStatus("No full screen: " + error.message, true));
  }
  $("fullscreen").hidden = !document.fullscreenEnabled;
  $("fullscreen").addEventListener("click", toggleFullscreen);
  document.addEventListener("fullscreenchange", () => {
    $("fullscreen").setAttribute("aria-pressed", String(!!document.fullscreenElement));
    fitScreen();
  });

  // The screen kept awake while the game runs and is seen, where the browser offers it.
  let wakeLock = null;  // the request's promise while one is wanted
  let wakeLockState = navigator.wakeLock ? "released" : "none";
  function updateWakeLock() {
    if (!navigator.wakeLock) return;
    const wanted = cartridge !== null && !paused && !stopped && document.visibilityState === "visible";
    if (wanted && wakeLock === null) {
      const asked = wakeLock = navigator.wakeLock.request("screen").then((sentinel) => {
        wakeLockState = "held";
        sentinel.addEventListener("release", () => {
          wakeLockState = "released";
          if (wakeLock === asked) wakeLock = null;
        });
        return sentinel;
      }, (error) => {
        wakeLockState = "refused: " + error.message;
        if (wakeLock === asked) wakeLock = null;
        return null;
      });
    } else if (!wanted && wakeLock !== null) {
      const asked = wakeLock;
      wakeLock = null;
      asked.then((sentinel) => sentinel && sentinel.release());
    }
  }

  // ---- Offline: the service worker -----------------------------------------------------------------
  // A version installed while an older one served this page waits; at the next start the page
  // hands over to it and loads again, before the module or anything else of the old version's is
  // fetched. The new version's worker takes the pages it finds (clients.claim), which may be this
  // one before it looked: a page whose worker changed before its module started loads again too.
  const HAND_OVER_MS = 1500;
  const servedBy = navigator.serviceWorker ? navigator.serviceWorker.controller : null;
  let handingOver = false;
  if (servedBy) navigator.serviceWorker.addEventListener("controllerchange", () => {
    if (handingOver || core === null) location.reload();
  });
  async function handOver() {
    if (!servedBy) return false;
    const registration = await navigator.serviceWorker.getRegistration();
    const changed = navigator.serviceWorker.controller !== servedBy;
    if (!changed && !(registration && registration.waiting)) return false;
    handingOver = true;
    setStatus("quenrik has a new version: loading it.");
    if (changed) {
      location.reload();
      return true;
    }
    // The old worker hands over once it has nothing in flight, which may take a while (in headless
    // Chromium it sometimes never comes while the page is open): asked again meanwhile, and after
    // HAND_OVER_MS this page starts as it is, the old version whole, the new one for the next visit.
    const waiting = registration.waiting;
    const ask = () => waiting.postMessage("take-over");
    ask();
    const asking = setInterval(ask, 250);
    await new Promise((resolve) => setTimeout(resolve, HAND_OVER_MS));
    clearInterval(asking);
    handingOver = false;
    setStatus("Starting…");
    return false;
  }
  function keepOffline() {
    if (!navigator.serviceWorker || !window.isSecureContext) return;
    navigator.serviceWorker.register("sw.js").catch((error) => addLog("» no offline copy: " + error.message, "note"));
  }

  // ---- The controls ---------------------------------------------------------------------------------
  $("pause").addEventListener("click", togglePause);
  // A control clicked with the mouse lets the focus go, so that Space and Enter do not work it
  // again; one reached with Tab keeps it.
  $("controls").addEventListener("pointerup", () => setTimeout(() => {
    const focused = document.activeElement;
    if (focused && $("controls").contains(focused)) focused.blur();
  }));
  $("reset").addEventListener("click", reset);
  $("save").addEventListener("click", saveState);
  $("load").addEventListener("click", loadState);
  $("mute").addEventListener("click", () => setMuted(!sound.muted));
  $("volume").addEventListener("input", () => setVolume(Number($("volume").value)));
  $("fast").addEventListener("change", () => core && core.setFastMode($("fast").checked ? 1 : 0));
  $("file").addEventListener("change", async () => {
    const file = $("file").files[0];
    $("file").value = "";  // the same file may be chosen again
    await loadFile(file);
  });
  const box = $("screen-box");
  document.addEventListener("dragover", (event) => {
    event.preventDefault();
    box.classList.add("dragging");
  });
  document.addEventListener("dragleave", () => box.classList.remove("dragging"));
  document.addEventListener("drop", (event) => {
    event.preventDefault();
    box.classList.remove("dragging");
    if (event.dataTransfer && event.dataTransfer.files.length > 0) loadFile(event.dataTransfer.files[0]);
  });

  // ---- Start: the module and the demo at once; without the demo the page waits for a cartridge -----
  async function start() {
    // (A response left unread would keep the old worker busy, and the new one waiting.)
    if (await handOver().catch(() => false)) return;
    const demo = fetch("demo.nes").then((r) => (r.ok ? r.arrayBuffer() : Promise.reject(new Error("demo.nes: " + r.status))))
      .catch((error) => { addLog("» no demo: " + error.message, "note"); return null; });
    const module = await createQuenrik();
    core = {
      module,
      start: module._web_start,
      loadCartridge: module._web_load_cartridge,
      runFrames: module._web_run_frames,
      picture: module._web_picture,
      setButtons: module._web_set_buttons,
      reset: module._web_reset,
      setFastMode: module._web_set_fast_mode,
      takeSound: module._web_take_sound,
      sound: module._web_sound,
      soundDropped: module._web_sound_dropped,
      soundRate: module._web_sound_rate,
      stateSize: module._web_state_size,
      saveState: module._web_save_state,
      loadState: module._web_load_state,
      takeLog: module._web_take_log,
      malloc: module._malloc,
      free: module._free,
    };
    core.start();
    core.setFastMode($("fast").checked ? 1 : 0);
    coreReady();
    if (!testMode) requestAnimationFrame(tick);
    const bytes = await demo;
    if (fileChosen) return;
    if (bytes !== null) loadCartridge("demo.nes", new Uint8Array(bytes));
    else setStatus("Open a cartridge, or drop one on the page.");
  }

  // What the tests read, and in test mode drive.
  window.quenrik = {
    get frames() { return framesRun; },
    get firstPictureMs() { return firstPictureMs; },
    get cartridge() { return cartridge && { name: cartridge.name, key: cartridge.key }; },
    get paused() { return paused; },
    get ready() { return core !== null; },
    get buttons() { return held(); },
    get touchShown() { return touchShown; },
    get wakeLock() { return wakeLockState; },
    get status() { return statusLine.textContent; },
    get banner() { return banner.hidden ? null : banner.textContent; },
    // The sound: the context's state and rate, the core's, and the worklet's last report.
    get sound() {
      return {
        context: sound.context && sound.context.state, rate: sound.context && sound.context.sampleRate,
        coreRate: core && core.soundRate(), playing: sound.playing, failed: sound.failed,
        muted: sound.muted, volume: sound.volume, stats: sound.stats,
      };
    },
  };
  if (testMode) {
    const base64 = (bytes) => {
      let text = "";
      for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
      return btoa(text);
    };
    window.quenrikTest = {
      // One frame per entry: the pad's buttons for it, or null for the keyboard's and the pad's.
      runFrames(buttons) {
        for (const mask of buttons) {
          if (mask === null) pollGamepad();
          core.setButtons(mask === null ? held() : mask);
          if (core.runFrames(1) > 0) draw();
          framesRun += 1;
          feedSound();
        }
        takeLog();
        return framesRun;
      },
      // The samples of the frames run from now on, until sound() answers them (int16 stereo,
      // little-endian, in base64).
      recordSound() {
        sound.recording = [];
      },
      sound() {
        const chunks = sound.recording || [];
        sound.recording = null;
        const bytes = new Uint8Array(chunks.reduce((sum, c) => sum + c.byteLength, 0));
        let at = 0;
        for (const chunk of chunks) {
          bytes.set(new Uint8Array(chunk.buffer), at);
          at += chunk.byteLength;
        }
        return base64(bytes);
      },
      // Sample frames waiting in the module (taken now, and thrown away), and those it dropped.
      soundHeld: () => [core.takeSound(), core.soundDropped()],
      // The frame buffer (RGB565, little-endian) and the canvas (RGBA), in base64.
      picture() {
        const words = pictureWords();
        return words === null ? null : base64(new Uint8Array(words.buffer, words.byteOffset, words.byteLength));
      },
      canvas() {
        return base64(new Uint8Array(context.getImageData(0, 0, canvas.width, canvas.height).data.buffer));
      },
      loadCartridge(name, text) {
        return loadCartridge(name, Uint8Array.from(atob(text), (c) => c.charCodeAt(0)));
      },
      // Milliseconds for count frames of the core, each one drawn on the canvas if asked.
      bench(count, drawn) {
        const start = performance.now();
        for (let i = 0; i < count; ++i) {
          core.runFrames(1);
          if (drawn) draw();
        }
        const ms = performance.now() - start;
        takeLog();
        return ms;
      },
      readSlot: (number) => readSlot(cartridge.key, number).then((entry) => (entry ? base64(entry.state) : "")),
      writeSlot: (number, bytes) => writeSlot(cartridge.key, number, { state: Uint8Array.from(bytes), saved: Date.now() }),
      ready: () => core !== null && cartridge !== null,
      memory: () => core.module.HEAPU8.length,
      storage,
    };
  }

  // The offline copy once the game has started, so that its files do not slow the first picture.
  start().then(keepOffline, (error) => {
    setStatus("quenrik could not start: " + error.message, true);
    addLog(String(error), "error");
  });
})();
