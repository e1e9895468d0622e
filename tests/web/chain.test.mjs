// The page in headless Chromium, judged by the canvas's own pixels: the
// chain where the window shows it, its head on the mouse and on a finger, the
// desktop window's picture pixel for pixel at device scales 1 and 2, no
// frames at rest, and one line for each failure.
//   CHAIN_WEB=build/web CHAIN_WEB_REFERENCE=dir node --test tests/web/
// The reference folder holds the desktop's pictures (web-reference 1 and 2)
// and the pointer script that made them (web-reference script).
import {test, before, after} from 'node:test';
import assert from 'node:assert/strict';
import {readFile, writeFile, mkdtemp, cp, rm} from 'node:fs/promises';
import {join} from 'node:path';
import {tmpdir} from 'node:os';
import {serve, launch, open} from './page.mjs';

const web = process.env.CHAIN_WEB || 'build/web';
const reference = process.env.CHAIN_WEB_REFERENCE || 'build/web/reference';
// The pointer script web-reference runs: client pixels, at rest before each.
const script = (await readFile(join(reference, 'script.txt'), 'utf8')).trim().split('\n')
                   .map((line) => line.split(' ').map(Number));

let server, browser;
before(async () => {
  server = await serve(web);
  browser = await launch();
});
after(async () => {
  await browser?.close();
  server?.close();
});

// The page's canvas: where it is in the page (CSS pixels) and its pixels.
async function canvas(page) {
  return page.evaluate(() => {
    const c = document.getElementById('form1');
    const box = c.getBoundingClientRect();
    const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000)
      text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
    return {left: box.left, top: box.top, width: c.width, height: c.height, pixels: btoa(text)};
  }).then((c) => ({...c, pixels: Buffer.from(c.pixels, 'base64')}));
}

// Waits until the chain has come to rest `count` times since the page opened.
async function rests(page, count) {
  await page.waitForFunction((n) => window.chainRests >= n, {timeout: 120000}, count);
}

async function openCounting(scale, viewport = {}) {
  const page = await open(browser, server.url, scale, viewport);
  await page.evaluate(() => {
    window.chainRests = window.chainRests || 0;
    Module.onRest = () => window.chainRests++;
  });
  return page;
}

// The centre of the circle near (x, y) client pixels, from how much each
// pixel around it darkens the background, as the desktop tests find it.
function circleNear(shot, x, y, scale) {
  let mass = 0, sx = 0, sy = 0;
  // A circle and its soft edge lie within 5 pixels of its centre; the next
  // link's begins 6 pixels away.
  const r = 5.5 * scale;
  for (let py = Math.floor((y - 6) * scale); py <= Math.ceil((y + 6) * scale); py++) {
    for (let px = Math.floor((x - 6) * scale); px <= Math.ceil((x + 6) * scale); px++) {
      if (px < 0 || py < 0 || px >= shot.width || py >= shot.height) continue;
      const cx = px + 0.5 - x * scale, cy = py + 0.5 - y * scale;
      if (cx * cx + cy * cy > r * r) continue;
      const i = (py * shot.width + px) * 4;
      const dark = (0xF0 * 3 - shot.pixels[i] - shot.pixels[i + 1] - shot.pixels[i + 2]) / 255;
      mass += dark;
      sx += dark * (px + 0.5);
      sy += dark * (py + 0.5);
    }
  }
  return {x: sx / mass / scale, y: sy / mass / scale, mass};
}

for (const scale of [1, 2]) {
  test(`at device scale ${scale} the page shows what the desktop window shows, pixel for pixel`, async () => {
    const page = await openCounting(scale);
    await rests(page, 1);
    let shot = await canvas(page);
    assert.equal(shot.width, 556 * scale);
    assert.equal(shot.height, 425 * scale);
    assert.ok(Number.isInteger(shot.left) && Number.isInteger(shot.top), 'the canvas sits on whole pixels');
    const anchor = circleNear(shot, 280, 300, scale);
    assert.ok(Math.abs(anchor.x - 280) < 0.1 && Math.abs(anchor.y - 300) < 0.1,
              `anchor at (${anchor.x}, ${anchor.y})`);
    for (let i = 0; i < script.length; i++) {
      await page.mouse.move(shot.left + script[i][0], shot.top + script[i][1]);
      await rests(page, i + 2);
    }
    shot = await canvas(page);
    const [x, y] = script[script.length - 1];
    const head = circleNear(shot, x, y, scale);
    assert.ok(Math.abs(head.x - x) < 0.1 && Math.abs(head.y - y) < 0.1, `head at (${head.x}, ${head.y})`);
    const file = await readFile(join(reference, `ref-${scale}.rgba`));
    const header = file.subarray(0, file.indexOf(10)).toString();
    assert.equal(header, `RGBA ${shot.width} ${shot.height}`);
    const want = file.subarray(file.indexOf(10) + 1);
    let differ = 0;
    for (let i = 0; i < want.length; i++) differ += want[i] !== shot.pixels[i];
    assert.equal(differ, 0, `${differ} bytes differ from the desktop window's picture`);
    await page.close();
  });
}

// The page's animation frames come from the test, at the rate and times it
// gives, in place of the display's.
function testFrames() {
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
}

test('at 60 and 120 frames a second the page shows the same pictures at the same times', async () => {
  const pictures = {};
  for (const hz of [60, 120]) {
    const page = await open(browser, server.url, 1, {}, testFrames);
    const shot = await canvas(page);
    pictures[hz] = [];
    // The pointer moves every 200 ms (a frame time at both rates), for 3 s.
    for (let move = 0; move < 15; move++) {
      const angle = move * 2.4;
      await page.mouse.move(shot.left + 280 + 200 * Math.cos(angle), shot.top + 200 + 150 * Math.sin(angle));
      await page.evaluate((from, every) => chainFrames(from, from + 200 - every / 2, every),
                          1000 + move * 200, 1000 / hz);
      if (move % 5 === 4) pictures[hz].push((await canvas(page)).pixels.toString('base64'));
    }
    await page.close();
  }
  assert.notEqual(pictures[60][0], pictures[60][1], 'the chain never moved');
  pictures[60].forEach((picture, i) =>
    assert.ok(picture === pictures[120][i], `the pictures after ${i + 1} s differ at 120 Hz`));
});

test('asks for no frames at rest and draws nothing', async () => {
  const page = await openCounting(1);
  await rests(page, 1);
  const before = await page.evaluate(() => ({...window.chainStats}));
  await new Promise((resolve) => setTimeout(resolve, 1000));
  const later = await page.evaluate(() => ({...window.chainStats}));
  assert.equal(later.frames, before.frames, 'animation frames asked for at rest');
  assert.equal(later.presents, before.presents, 'pictures drawn at rest');
  await page.close();
});

test('a finger drags the head without scrolling the page', async () => {
  const page = await openCounting(1, {width: 400, height: 300, hasTouch: true});  // the page scrolls
  await rests(page, 1);
  let shot = await canvas(page);
  await page.touchscreen.touchStart(shot.left + 200, shot.top + 150);
  await page.touchscreen.touchMove(shot.left + 240, shot.top + 60);
  await page.touchscreen.touchMove(shot.left + 250, shot.top + 40);
  await page.touchscreen.touchEnd();
  await rests(page, 2);
  shot = await canvas(page);
  const head = circleNear(shot, 250, 40, 1);
  assert.ok(Math.abs(head.x - 250) < 0.1 && Math.abs(head.y - 40) < 0.1, `head at (${head.x}, ${head.y})`);
  assert.deepEqual(await page.evaluate(() => [scrollX, scrollY, visualViewport.scale]), [0, 0, 1]);
  await page.close();
});

test('held down, the mouse drives the head from outside the canvas', async () => {
  const page = await openCounting(1, {width: 800});
  await rests(page, 1);
  let shot = await canvas(page);
  await page.mouse.move(shot.left + 100, shot.top + 200);
  await page.mouse.down();
  await page.mouse.move(shot.left + 556 + 150, shot.top + 200);
  await rests(page, 2);
  await page.mouse.up();
  // The chain reaches for the canvas's right edge, 150 pixels short of the head.
  shot = await canvas(page);
  let red = 0;
  for (let y = 0; y < shot.height; y++) {
    for (let x = 536; x < 556; x++) {
      const i = (y * shot.width + x) * 4;
      red += shot.pixels[i] > 200 && shot.pixels[i + 1] < 80;
    }
  }
  assert.ok(red > 0, 'no link near the right edge: the head did not follow outside');
  await page.close();
});

test('pointer input from the page: mapped from where the canvas is shown, one finger, no position that ends it', async () => {
  const page = await openCounting(1, {width: 800, hasTouch: true});
  await rests(page, 1);
  // Shown at half its size, with a border and padding.
  await page.addStyleTag({content: '#form1 { width: 278px !important; height: 212.5px !important;' +
                                   ' border: 3px solid #000; padding: 2px; }'});
  const box = await page.evaluate(() => {
    const b = document.getElementById('form1').getBoundingClientRect();
    return {left: b.left + 5, top: b.top + 5};
  });
  const at = (x, y) => [box.left + x / 2, box.top + y / 2];
  await page.mouse.move(...at(100, 100));
  await rests(page, 2);
  let head = circleNear(await canvas(page), 100, 100, 1);
  assert.ok(Math.abs(head.x - 100) < 0.1 && Math.abs(head.y - 100) < 0.1, `mapped head at (${head.x}, ${head.y})`);
  // Positions no pointer can have, then a real one: the page goes on.
  await page.evaluate(() => {
    const c = document.getElementById('form1');
    for (const x of [1e300, -3.5e38])
      c.dispatchEvent(new PointerEvent('pointermove', {clientX: x, clientY: x, isPrimary: true}));
  });
  await page.mouse.move(...at(300, 200));
  await rests(page, 3);
  head = circleNear(await canvas(page), 300, 200, 1);
  assert.ok(Math.abs(head.x - 300) < 0.1 && Math.abs(head.y - 200) < 0.1, `after huge moves, head at (${head.x}, ${head.y})`);
  // Two fingers: the head follows the first while the second moves too.
  const cdp = await page.target().createCDPSession();
  const touch = (type, points) => cdp.send('Input.dispatchTouchEvent', {
    type, touchPoints: points.map(([x, y], id) => ({x: at(x, y)[0], y: at(x, y)[1], id}))});
  await touch('touchStart', [[150, 300]]);
  await touch('touchStart', [[150, 300], [400, 50]]);
  await touch('touchMove', [[160, 310], [420, 60]]);
  await touch('touchMove', [[160, 310], [440, 80]]);
  await rests(page, 4);
  head = circleNear(await canvas(page), 160, 310, 1);
  assert.ok(Math.abs(head.x - 160) < 0.1 && Math.abs(head.y - 310) < 0.1, `two fingers, head at (${head.x}, ${head.y})`);
  await touch('touchEnd', []);
  await page.close();
});

test('each change of device pixel ratio redraws at full density', async () => {
  const page = await openCounting(1);
  await rests(page, 1);
  // Chromium's emulation changes the ratio without the events a real zoom
  // raises; raise the resize a zoom brings. 1.5: 834 x 637.5, rounded.
  for (const [ratio, width, height] of [[1.5, 834, 638], [2, 1112, 850]]) {
    await page.setViewport({width: 640, height: 520, deviceScaleFactor: ratio});
    await page.evaluate(() => dispatchEvent(new Event('resize')));
    await page.waitForFunction((w, h) => document.getElementById('form1').width === w &&
                               document.getElementById('form1').height === h, {timeout: 120000}, width, height);
  }
  await rests(page, 2);
  const shot = await canvas(page);
  assert.equal(shot.height, 850);
  const anchor = circleNear(shot, 280, 300, 2);
  assert.ok(Math.abs(anchor.x - 280) < 0.1 && Math.abs(anchor.y - 300) < 0.1,
            `anchor at (${anchor.x}, ${anchor.y})`);
  await page.close();
});

test('each failure is one line on the page and in the console', async () => {
  const failing = async (url, setUp) => {
    const page = await browser.newPage();
    const said = [];
    page.on('console', (m) => m.type() === 'error' && said.push(m.text()));
    await page.evaluateOnNewDocument(setUp);
    await page.goto(url);
    await page.waitForFunction(() => !document.getElementById('status').hidden, {timeout: 120000});
    const line = await page.evaluate(() => document.getElementById('status').textContent);
    await page.close();
    assert.match(line, /^chain: [^\n]+$/);
    assert.ok(said.includes(line), `console said ${JSON.stringify(said)}`);
    return line;
  };
  assert.match(await failing(server.url, () => { delete window.WebAssembly; }), /cannot run WebAssembly/);
  assert.match(await failing(server.url, () => {
    HTMLCanvasElement.prototype.getContext = () => null;
  }), /no canvas with a 2D context/);
  // From a file, no program can be loaded: say how to serve it.
  assert.match(await failing(`file://${join(process.cwd(), web, 'index.html')}`, () => {}), /serve the page's folder over http/);
  // A careful host's policy: scripts from the page's own files only. The
  // page runs where WebAssembly is admitted, and says why where it is not.
  const strict = await serve(web, {'Content-Security-Policy': "script-src 'self' 'wasm-unsafe-eval'"});
  try {
    const page = await open(browser, strict.url);
    await page.close();
  } finally {
    strict.close();
  }
  const stricter = await serve(web, {'Content-Security-Policy': "default-src 'self'"});
  try {
    assert.match(await failing(stricter.url, () => {}), /chain\.wasm.*(unsafe-eval|Refused)/);
  } finally {
    stricter.close();
  }
  // A host that lost chain.wasm.
  const folder = await mkdtemp(join(tmpdir(), 'chain-web-'));
  await cp(join(web, 'index.html'), join(folder, 'index.html'));
  await cp(join(web, 'page.js'), join(folder, 'page.js'));
  await cp(join(web, 'chain.js'), join(folder, 'chain.js'));
  const broken = await serve(folder);
  try {
    assert.match(await failing(broken.url, () => {}), /cannot load chain\.wasm: the server answered 404/);
    // A chain.wasm that is not WebAssembly: the compiler's complaint, named.
    await writeFile(join(folder, 'chain.wasm'), 'not WebAssembly');
    assert.match(await failing(broken.url, () => {}), /cannot load chain\.wasm: .*(wasm|WebAssembly)/i);
  } finally {
    broken.close();
    await rm(folder, {recursive: true});
  }
  // A host that serves chain.wasm under another type: it still runs.
  const untyped = await serve(web, {}, {'.wasm': 'application/octet-stream'});
  try {
    await (await open(browser, untyped.url)).close();
  } finally {
    untyped.close();
  }
});
