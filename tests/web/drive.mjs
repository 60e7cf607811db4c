// Drives the web pages in headless Chromium over the DevTools protocol, from a file server of its
// own on 127.0.0.1, and prints what it saw as one JSON object. The WebSocket client is Node's own
// where it has one (22, or 20 with --experimental-websocket), else the ws package (Debian's
// node-ws, found through NODE_PATH=/usr/share/nodejs).
//
//   drive.mjs frame  BUILD OUT.png CLOCK_MS [escape|unfullscreen]
//                                             the probe demo held at a clock: first frame, shot,
//                                             ended by Escape or by leaving fullscreen
//   drive.mjs show   BUILD TAP_SECONDS        the probe demo with sound to its end; hash of the
//                                             first seconds its audio device handed over
//   drive.mjs player BUILD GOOD.xm BAD.xm OUT.png  the player opens, plays, seeks and pauses
//                                             a file (shot while playing), then refuses one
//
// Every case also reports the console's errors and the page's uncaught exceptions.
import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { basename, extname, join, resolve } from 'node:path';

const WebSocketClient = globalThis.WebSocket ?? createRequire(import.meta.url)('ws');
const [mode, buildDir, ...rest] = process.argv.slice(2);
const chromium = process.env.CHROMIUM || 'chromium';
const width = 1280;
const height = 720;

const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
                '.xm': 'application/octet-stream' };

// Serves the build folder, and the files named on the command line under /files/NAME.
function serve(root, extraFiles) {
  const files = new Map(extraFiles.map((path) => [basename(path), path]));
  const server = createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    let file = null;
    if (path.startsWith('/files/')) file = files.get(path.slice(7)) ?? null;
    else if (!path.includes('..')) file = join(root, path === '/' ? 'index.html' : path);
    try {
      const body = readFileSync(file);
      response.writeHead(200, { 'Content-Type': types[extname(file)] ?? 'application/octet-stream',
                                'Cache-Control': 'no-store' });
      response.end(body);
    } catch {
      response.writeHead(404);
      response.end();
    }
  });
  return new Promise((done) => server.listen(0, '127.0.0.1', () => done(server)));
}

function startBrowser(profileDir) {
  const browser = spawn(chromium, [
    '--headless=new', '--no-sandbox', '--no-first-run', '--no-default-browser-check',
    '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
    '--autoplay-policy=no-user-gesture-required',
    `--window-size=${width},${height}`, `--user-data-dir=${profileDir}`,
    '--remote-debugging-address=127.0.0.1', '--remote-debugging-port=0', 'about:blank',
  ], { stdio: ['ignore', 'ignore', 'pipe'] });
  return new Promise((done, fail) => {
    let text = '';
    const timer = setTimeout(() => fail(new Error('no DevTools address from chromium')), 30000);
    browser.stderr.on('data', (chunk) => {
      text += chunk;
      const found = /DevTools listening on (ws:\/\/\S+)/.exec(text);
      if (found) {
        clearTimeout(timer);
        done({ browser, endpoint: found[1] });
      }
    });
    browser.on('exit', (code) => fail(new Error(`chromium ended with ${code}: ${text}`)));
  });
}

// One DevTools session on the page target.
async function connect(endpoint) {
  const port = new URL(endpoint).port;
  const targets = await (await fetch(`http://127.0.0.1:${port}/json/list`)).json();
  const page = targets.find((t) => t.type === 'page');
  const socket = new WebSocketClient(page.webSocketDebuggerUrl);
  await new Promise((done, fail) => { socket.onopen = done; socket.onerror = fail; });
  let next = 1;
  const pending = new Map();
  const listeners = [];
  socket.onmessage = (event) => {
    const message = JSON.parse(event.data);
    if (message.id && pending.has(message.id)) {
      const { done, fail } = pending.get(message.id);
      pending.delete(message.id);
      if (message.error) fail(new Error(JSON.stringify(message.error)));
      else done(message.result);
    } else if (message.method) {
      for (const listener of listeners) listener(message.method, message.params);
    }
  };
  return {
    send(method, params = {}) {
      const id = next++;
      socket.send(JSON.stringify({ id, method, params }));
      return new Promise((done, fail) => pending.set(id, { done, fail }));
    },
    on(listener) { listeners.push(listener); },
    close() { socket.close(); },
  };
}

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

async function evaluate(session, expression) {
  const { result, exceptionDetails } = await session.send('Runtime.evaluate',
    { expression, returnByValue: true, awaitPromise: true });
  if (exceptionDetails) throw new Error(`${expression}: ${exceptionDetails.text}`);
  return result.value;
}

async function waitFor(session, expression, timeoutMs, what) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await evaluate(session, expression);
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}`);
    await sleep(50);
  }
}

// A real click, so the page has the user activation that sound and fullscreen need.
async function click(session, x, y) {
  for (const type of ['mousePressed', 'mouseReleased']) {
    await session.send('Input.dispatchMouseEvent', { type, x, y, button: 'left', clickCount: 1 });
  }
}

async function key(session, name, code) {
  for (const type of ['rawKeyDown', 'keyUp']) {
    await session.send('Input.dispatchKeyEvent',
      { type, key: name, code: name, windowsVirtualKeyCode: code, nativeVirtualKeyCode: code });
  }
}

async function screenshot(session, path) {
  const { data } = await session.send('Page.captureScreenshot', { format: 'png' });
  writeFileSync(path, Buffer.from(data, 'base64'));
}

async function openPage(session, url) {
  await session.send('Page.navigate', { url });
  await waitFor(session, 'document.readyState === "complete"', 30000, 'the page to load');
}

async function frameCase(session, base, out, clockMs, ending) {
  const opened = Date.now();
  await openPage(session, `${base}/demo_probe.html?DEMO_DIAGNOSTICS=1&DEMO_CLOCK_MS=${clockMs}`);
  await waitFor(session, 'beatShow.ready !== null', 60000, 'the module to load');
  await click(session, width / 2, height / 2);
  await waitFor(session, 'beatShow.firstFrame !== null', 60000, 'the first frame');
  const firstFrameWallMs = Date.now() - opened;
  await sleep(700);
  const fullscreen = await evaluate(session, 'document.fullscreenElement === Module.canvas');
  await screenshot(session, out);
  if (ending === 'unfullscreen') {
    await evaluate(session, 'document.exitFullscreen()');
  } else {
    await key(session, 'Escape', 27);
  }
  await waitFor(session, 'beatShow.ended !== null', 30000, `the end after ${ending}`);
  const show = await evaluate(session, 'beatShow');
  return { show, fullscreen, firstFrameWallMs,
           status: await evaluate(session, 'statusLine.textContent') };
}

async function showCase(session, base, tapSeconds) {
  await openPage(session, `${base}/demo_probe.html?DEMO_DIAGNOSTICS=1&tap=${tapSeconds}`);
  await waitFor(session, 'beatShow.ready !== null', 60000, 'the module to load');
  await click(session, width / 2, height / 2);
  await waitFor(session, 'beatShow.firstFrame !== null', 60000, 'the first frame');
  // The song clock runs slightly slower than the sound: 48 s of it take about 50 s.
  await waitFor(session, 'beatShow.ended !== null', 150000, 'the show to end by itself');
  await waitFor(session, 'beatShow.tapSha256 !== null', 10000, 'the hash of the sound');
  const show = await evaluate(session, 'beatShow');
  return { show, status: await evaluate(session, 'statusLine.textContent') };
}

async function playerCase(session, base, good, bad, shot) {
  await openPage(session, `${base}/player.html`);
  await waitFor(session, 'window.playerReady === true', 60000, 'the player to load');
  const { root } = await session.send('DOM.getDocument');
  const { nodeId } = await session.send('DOM.querySelector', { nodeId: root.nodeId,
                                                                selector: '#file' });
  await session.send('DOM.setFileInputFiles', { nodeId, files: [resolve(good)] });
  await waitFor(session, 'document.getElementById("duration").textContent !== ""', 30000,
                'the duration');
  const loaded = await evaluate(session, `({
    title: document.getElementById('title').textContent,
    duration: document.getElementById('duration').textContent,
    message: document.getElementById('message').textContent })`);
  // Play: the rows move on and the channel bars show levels; seek to order 5; pause: the
  // position stands.
  const text = (id) => `document.getElementById('${id}').textContent`;
  await evaluate(session, "document.getElementById('play').click()");
  await waitFor(session, `Number(${text('row')}) >= 8`, 15000, 'the song to play');
  const barsLit = await evaluate(session,
    "[...document.querySelectorAll('#channels .bar')].filter((b) => b.className === 'bar' && " +
    "parseFloat(b.firstChild.style.width) > 0).length");
  await screenshot(session, shot);
  await evaluate(session, "(() => { const s = document.getElementById('seek'); s.value = '5'; " +
    "s.dispatchEvent(new Event('change')); })()");
  await waitFor(session, `${text('order')}.startsWith('5 /')`, 5000, 'the seek to order 5');
  await evaluate(session, "document.getElementById('play').click()");
  await sleep(500);
  const pausedAt = await evaluate(session, `${text('order')} + ' row ' + ${text('row')}`);
  await sleep(1000);
  const stillAt = await evaluate(session, `${text('order')} + ' row ' + ${text('row')}`);
  const playing = { barsLit, pausedAt, stillAt };
  await openPage(session, `${base}/player.html?module=files/${encodeURIComponent(basename(bad))}`);
  await waitFor(session, 'document.getElementById("message").textContent !== ""', 30000,
                'the reason');
  const refused = await evaluate(session, `({
    duration: document.getElementById('duration').textContent,
    message: document.getElementById('message').textContent })`);
  return { loaded, playing, refused };
}

async function main() {
  const extra = mode === 'player' ? rest.slice(0, 2) : [];
  const server = await serve(resolve(buildDir), extra);
  const base = `http://127.0.0.1:${server.address().port}`;
  const profileDir = mkdtempSync(join(tmpdir(), 'beat-web-'));
  const { browser, endpoint } = await startBrowser(profileDir);
  const errors = [];
  let result = {};
  let failure = null;
  let session = null;
  try {
    session = await connect(endpoint);
    session.on((method, params) => {
      if (method === 'Runtime.consoleAPICalled' && params.type === 'error') {
        errors.push(params.args.map((a) => a.value ?? a.description).join(' '));
      } else if (method === 'Runtime.exceptionThrown') {
        errors.push(params.exceptionDetails.exception?.description ?? params.exceptionDetails.text);
      } else if (method === 'Log.entryAdded' && params.entry.level === 'error') {
        errors.push(`${params.entry.text} ${params.entry.url ?? ''}`.trim());
      }
    });
    await session.send('Runtime.enable');
    await session.send('Log.enable');
    await session.send('Page.enable');
    // The page's viewport and screen both at the size the native demo's frame is taken at.
    await session.send('Emulation.setDeviceMetricsOverride', { width, height,
      deviceScaleFactor: 1, mobile: false, screenWidth: width, screenHeight: height });
    if (mode === 'frame') result = await frameCase(session, base, rest[0], Number(rest[1]), rest[2] ?? 'escape');
    else if (mode === 'show') result = await showCase(session, base, Number(rest[0]));
    else if (mode === 'player') result = await playerCase(session, base, rest[0], rest[1], rest[2]);
    else throw new Error(`unknown case ${mode}`);
    session.close();
  } catch (error) {
    failure = String(error.message ?? error);
    // What the page knew when it went wrong.
    try { result.atFailure = await evaluate(session, 'window.beatShow ?? null'); } catch {}
  } finally {
    // Chromium writes its profile until it has gone.
    const gone = new Promise((done) => browser.once('exit', done));
    browser.kill();
    await Promise.race([gone, sleep(10000)]);
    server.close();
    try {
      rmSync(profileDir, { recursive: true, force: true, maxRetries: 5, retryDelay: 200 });
    } catch {}
  }
  process.stdout.write(JSON.stringify({ ...result, errors, failure }, null, 1) + '\n');
  process.exit(failure ? 1 : 0);
}

main();
