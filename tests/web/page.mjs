// Helpers for the browser tests and the first-picture benchmark: a static
// server on 127.0.0.1 for a folder, headless Chromium (Debian's, driven
// through puppeteer-core) opening a page from it, and what the tests read
// of a page: its canvases' pixels, its chains' rests, where a circle is.
import {createServer} from 'node:http';
import {execFileSync} from 'node:child_process';
import {rmSync, writeFileSync} from 'node:fs';
import {readFile} from 'node:fs/promises';
import {tmpdir} from 'node:os';
import {extname, join, normalize} from 'node:path';
import {fileURLToPath} from 'node:url';
import assert from 'node:assert/strict';
import {before, after} from 'node:test';
import puppeteer from 'puppeteer-core';

export const engine = process.env.CHAIN_BROWSER || 'chromium';
// The desktop's pictures (web-reference 1 and 2) and the pointer script
// that made them: client pixels, at rest before each.
export const reference = process.env.CHAIN_WEB_REFERENCE || 'build/web/reference';
export async function pointerScript() {
  return (await readFile(join(reference, 'script.txt'), 'utf8')).trim().split('\n')
             .map((line) => line.split(' ').map(Number));
}

const types = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript',
  '.mjs': 'text/javascript',
  '.wasm': 'application/wasm',
  '.png': 'image/png',
  '.webmanifest': 'application/manifest+json',
};

/** Serves `folder` on 127.0.0.1 at a free port, with `headers` besides the
 * usual (one given as null is left out) and the content types `retyped`
 * gives by extension; resolves to {url, close()}. */
export async function serve(folder, headers = {}, retyped = {}) {
  const server = createServer(async (request, response) => {
    let path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    if (path.endsWith('/')) path += 'index.html';
    try {
      const body = await readFile(join(folder, path));
      const type = retyped[extname(path)] || types[extname(path)] || 'application/octet-stream';
      const sent = {'Content-Type': type, 'Cache-Control': 'no-store', ...headers};
      response.writeHead(200, Object.fromEntries(Object.entries(sent).filter(([, v]) => v !== null)));
      response.end(body);
    } catch {
      response.writeHead(404);
      response.end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {url: `http://127.0.0.1:${server.address().port}/`,
          close: () => { server.close(); server.closeAllConnections(); }};
}

/** The browser CHAIN_BROWSER names (chromium by default, or firefox),
 * headless, as this machine's closed network needs it. */
export function launch() {
  if (engine === 'firefox') {
    return puppeteer.launch({
      browser: 'firefox', executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr', headless: true,
      // Its own console's warnings and errors on standard output, where the
      // tests read them (BiDi reports only the page's own logging).
      extraPrefsFirefox: {'devtools.console.stdout.content': true},
      dumpio: true,
    });
  }
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--disable-dev-shm-usage'],
  });
}

/** A test file's server for `folder` and browser, there once its tests start. */
export function session(folder) {
  const the = {};
  before(async () => {
    the.server = await serve(folder);
    the.browser = await launch();
  });
  after(async () => {
    await the.browser?.close();
    the.server?.close();
  });
  return the;
}

/** A page at `url` with a 640 x 520 viewport of the given scale (or the
 * viewport given); waits for the first picture (in the frame `where` picks).
 * `prepare` runs in the page before anything of the page's own. */
export async function open(browser, url, scale = 1, viewport = {}, prepare = null,
                           where = (page) => page.mainFrame()) {
  const page = await browser.newPage();
  await page.setViewport({width: 640, height: 520, deviceScaleFactor: scale, ...viewport});
  if (prepare) await page.evaluateOnNewDocument(prepare);
  await page.evaluateOnNewDocument(() => {
    // What the page does, counted: pictures put on a canvas (and when the
    // first was, since navigation began), animation frames asked for.
    window.chainStats = {presents: 0, frames: 0, firstPicture: 0};
    const put = CanvasRenderingContext2D.prototype.putImageData;
    CanvasRenderingContext2D.prototype.putImageData = function (...args) {
      put.apply(this, args);
      if (!chainStats.presents++) chainStats.firstPicture = performance.now();
    };
    const request = window.requestAnimationFrame.bind(window);
    window.requestAnimationFrame = (callback) => {
      chainStats.frames++;
      return request(callback);
    };
  });
  await page.goto(url);
  // Polled on a timer: puppeteer's default polls in animation frames, which
  // never come where the test's frames stand in for them.
  await where(page).waitForFunction(() => window.chainStats.presents > 0, {timeout: 120000, polling: 50});
  return page;
}

// A canvas of the page (the first by default): where its picture is shown
// (CSS pixels, inside its border and padding), its pixels, and their scale
// (device pixels per client pixel). at(x, y) is the whole CSS pixel nearest
// where client point (x, y) is shown (Chromium's input lands on those), and
// client(at) the client point that pixel is.
export async function canvas(page, index = 0) {
  const c = await page.evaluate((index) => {
    const c = document.querySelectorAll('canvas')[index];
    const box = c.getBoundingClientRect(), style = getComputedStyle(c);
    const px = (name) => parseFloat(style[name]);
    const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000)
      text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
    return {left: box.left + px('borderLeftWidth') + px('paddingLeft'),
            top: box.top + px('borderTopWidth') + px('paddingTop'),
            shownWidth: box.width - px('borderLeftWidth') - px('paddingLeft') - px('borderRightWidth') -
                        px('paddingRight'),
            width: c.width, height: c.height, pixels: btoa(text)};
  }, index);
  const k = c.shownWidth / 556;
  return {...c, pixels: Buffer.from(c.pixels, 'base64'), scale: c.width / 556,
          at: (x, y) => [Math.round(c.left + x * k), Math.round(c.top + y * k)],
          client: ([x, y]) => [(x - c.left) / k, (y - c.top) / k]};
}

/** The page's animation frames come from the test, at the rate and times it
 * gives, in place of the display's (run in the page before its own code). */
export function testFrames() {
  let waiting = [];
  window.requestAnimationFrame = (callback) => waiting.push(callback);
  // Runs the frames from `from` to `to` ms, `every` ms apart.
  window.chainFrames = (from, to, every) => {
    for (let i = 0; from + i * every <= to; i++) {
      const run = waiting;
      waiting = [];
      for (const callback of run) callback(from + i * every);
    }
  };
  // Runs the frames asked for, 60 a second on from the last, until the
  // page's chains have rested `count` times in all (the canvas raises
  // "chainrest" within the frame) or none is asked for; how many ran.
  window.chainSettle = (count) => {
    window.chainTime ??= performance.now();
    let ran = 0;
    for (; ran < 600 && window.chainRests < count && waiting.length; ran++)
      window.chainFrames(window.chainTime += 1000 / 60, window.chainTime, 1000 / 60);
    return {ran, rested: window.chainRests >= count};
  };
}

/** Waits until the page's chains have come to rest `count` times in all.
 * With test frames it runs them, at once rather than in the display's time,
 * and waits only while none is asked for (an event on its way); at most two
 * minutes of frames, or of waiting. */
export async function rests(page, count) {
  if (!await page.evaluate(() => typeof window.chainSettle === 'function')) {
    await page.waitForFunction((n) => window.chainRests >= n, {timeout: 120000}, count);
    return;
  }
  for (let frames = 0, waited = 0; frames < 7200 && waited < 120000;) {
    const {ran, rested} = await page.evaluate((n) => window.chainSettle(n), count);
    if (rested) return;
    frames += ran;
    if (!ran) await new Promise((resolve) => setTimeout(resolve, 20)), waited += 20;
  }
  assert.fail(`no rest ${count} in two minutes of frames`);
}

// A canvas's pixels are the desktop window's picture after the script.
export async function assertReference(shot, scale) {
  const file = await readFile(join(reference, `ref-${scale}.rgba`));
  const header = file.subarray(0, file.indexOf(10)).toString();
  assert.equal(header, `RGBA ${shot.width} ${shot.height}`);
  const want = file.subarray(file.indexOf(10) + 1);
  let differ = 0;
  for (let i = 0; i < want.length; i++) differ += want[i] !== shot.pixels[i];
  assert.equal(differ, 0, `${differ} bytes differ from the desktop window's picture`);
}

// The head (the circle near client point x, y) is there, to `within` client pixels.
export function assertHead(shot, x, y, what, within = 0.1) {
  const head = circleNear(shot, x, y, shot.scale);
  assert.ok(Math.abs(head.x - x) < within && Math.abs(head.y - y) < within,
            `${what}: head at (${head.x}, ${head.y}), not (${x}, ${y})`);
}

/** Counts the rests of every chain on the page ("chainrest" on its canvas,
 * caught on its way down), in window.chainRests; run in the page. */
export function countRests() {
  window.chainRests = 0;
  addEventListener('chainrest', () => window.chainRests++, true);
}

// Counts the rests of every chain on the page, its frames the test's
// (testFrames) unless `frames` is 'display'.
export async function openCounting(browser, url, scale, viewport = {}, frames = 'test') {
  const page = await open(browser, url, scale, viewport, frames === 'test' ? testFrames : null);
  await page.evaluate(countRests);
  return page;
}

// The centre of the circle near (x, y) client pixels, as every test judges
// it: web-reference's "circle" (tests/support/judge.hpp), over the pixels
// within 5.5 client pixels (a circle and its soft edge; the next link's
// begins 6 pixels away).
export function circleNear(shot, x, y, scale) {
  const file = join(tmpdir(), `chain-judge-${process.pid}.rgba`);
  writeFileSync(file, Buffer.concat([Buffer.from(`RGBA ${shot.width} ${shot.height}\n`),
                                     Buffer.from(shot.pixels.buffer, shot.pixels.byteOffset, shot.pixels.length)]));
  const judge = process.env.CHAIN_JUDGE ||
      fileURLToPath(new URL('../../build/release/tests/web-reference', import.meta.url));
  try {
    const [cx, cy, mass] = execFileSync(judge, ['circle', file, x * scale, y * scale, 5.5 * scale])
        .toString().trim().split(' ').map(Number);
    return {x: cx / scale, y: cy / scale, mass};
  } finally {
    rmSync(file, {force: true});  // up to 4 MB a test process, left in /tmp otherwise
  }
}
