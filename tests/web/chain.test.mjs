// The page in headless Chromium, judged by the canvas's own pixels: the
// chain where the window shows it, its head on the mouse and on a finger, the
// desktop window's picture pixel for pixel at device scales 1 and 2, no
// frames at rest, and one line for each failure.
//   CHAIN_WEB=build/web CHAIN_WEB_REFERENCE=dir node --test tests/web/chain.test.mjs
// The reference folder holds the desktop's pictures (web-reference 1 and 2)
// and the pointer script that made them (web-reference script).
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {readFile, writeFile, mkdtemp, cp, rm} from 'node:fs/promises';
import {createHash} from 'node:crypto';
import {join} from 'node:path';
import {tmpdir} from 'node:os';
import {serve, open, session, canvas, rests, assertHead, assertReference, circleNear, pointerScript, engine,
        openCounting as openOn, testFrames} from './page.mjs';

const web = process.env.CHAIN_WEB || 'build/web';
const script = await pointerScript();

const the = session(web);  // the.server and the.browser, once the tests start
const openCounting = (scale, viewport, url = the.server.url, frames) =>
    openOn(the.browser, url, scale, viewport, frames);

for (const scale of [1, 2]) {
  test(`at device scale ${scale} the page shows what the desktop window shows, pixel for pixel`, async () => {
    const page = await openCounting(scale);
    await rests(page, 1);
    let shot = await canvas(page);
    assert.equal(shot.width, 556 * scale);
    assert.equal(shot.height, 425 * scale);
    const anchor = circleNear(shot, 280, 300, scale);
    assert.ok(Math.abs(anchor.x - 280) < 0.1 && Math.abs(anchor.y - 300) < 0.1,
              `anchor at (${anchor.x}, ${anchor.y})`);
    for (let i = 0; i < script.length; i++) {
      await page.mouse.move(...shot.at(...script[i]));
      await rests(page, i + 2);
    }
    shot = await canvas(page);
    assertHead(shot, ...script[script.length - 1], 'after the script');
    if (scale === 1) assert.equal(await shownDiffers(page, shot), 0, 'the screen shows other pixels');
    await assertReference(shot, scale);
    await page.close();
  });
}

test('at 60 and 120 frames a second the page shows the same pictures at the same times', async () => {
  const pictures = {};
  for (const hz of [60, 120]) {
    const page = await open(the.browser, the.server.url, 1, {}, testFrames);
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

// At rest on a fixed point, and where the chain ends cycling through three
// pictures (jumped to (324, 45) from its rest under (0, 0)).
test('asks for no frames at rest and draws nothing', async () => {
  const page = await openCounting(1, {}, the.server.url, 'display');
  for (const [rest, move] of [[1, null], [2, [324, 45]]]) {
    if (move) await page.mouse.move(...(await canvas(page)).at(...move));
    await rests(page, rest);
    const before = await page.evaluate(() => ({...window.chainStats}));
    await new Promise((resolve) => setTimeout(resolve, 1000));
    const later = await page.evaluate(() => ({...window.chainStats}));
    assert.equal(later.frames, before.frames, `animation frames asked for at rest ${rest}`);
    assert.equal(later.presents, before.presents, `pictures drawn at rest ${rest}`);
  }
  await page.close();
});

// Chromium's own warnings (deprecations, unused preloads, policy) come
// through its log, not the page's console: read both through a load and
// the seconds after it. Firefox's driver reports only the page's console.
// And the chain starts inline: chain.mjs, a file whose round trip would
// stand before chain.wasm's request, is asked for only where a host's
// policy refuses inline scripts.
test('a load logs no warning or error, and asks for no chain.mjs', {skip: engine !== 'chromium' && 'Chromium\'s log only'}, async () => {
  const page = await the.browser.newPage();
  const cdp = await page.createCDPSession();
  const said = [], asked = [];
  page.on('request', (request) => asked.push(new URL(request.url()).pathname.replace(/.*\//, '')));
  cdp.on('Log.entryAdded', ({entry}) => said.push(`${entry.level}: ${entry.text}`));
  page.on('console', (m) => said.push(`${m.type()}: ${m.text()}`));
  await cdp.send('Log.enable');
  await page.goto(the.server.url);
  await page.waitForFunction(() => document.getElementById('form1').getContext('2d').getImageData(280, 300, 1, 1)
                                 .data[3], {timeout: 120000});  // the first picture
  await new Promise((resolve) => setTimeout(resolve, 4000));  // an unused preload is told after 3 s
  await page.close();
  assert.deepEqual(said.filter((line) => /^(warn|warning|error)/.test(line)), []);
  assert.ok(asked.includes('chain.wasm') && !asked.includes('chain.mjs'), `asked for ${asked}`);
});

// What the screen shows where the canvas is, against the canvas's own
// pixels (at device scale 1): how many bytes differ.
async function shownDiffers(page, shot) {
  const png = await page.screenshot({encoding: 'base64'});
  return page.evaluate(async (png, left, top, width, height) => {
    const image = new Image();
    image.src = 'data:image/png;base64,' + png;
    await image.decode();
    const screen = new OffscreenCanvas(image.width, image.height).getContext('2d');
    screen.drawImage(image, 0, 0);
    const shown = screen.getImageData(Math.round(left), Math.round(top), width, height).data;
    const own = document.getElementById('form1').getContext('2d').getImageData(0, 0, width, height).data;
    return own.reduce((n, byte, i) => n + (byte !== shown[i]), 0);
  }, png, shot.left, shot.top, shot.width, shot.height);
}

test('held down, the mouse drives the head from outside the canvas', async () => {
  const page = await openCounting(1, {width: 1000});  // the move stays in the viewport
  await rests(page, 1);
  let shot = await canvas(page);
  await page.mouse.move(...shot.at(100, 200));
  await page.mouse.down();
  await page.mouse.move(...shot.at(556 + 150, 200));
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
  const page = await openCounting(2, {width: 800, hasTouch: true});
  await rests(page, 1);
  // Shown at three quarters of its size, with a border and padding: drawn
  // at that size, 1.5 device pixels to a client pixel.
  await page.addStyleTag({content: '#form1 { width: 417px !important; height: 318.75px !important;' +
                                   ' border: 3px solid #000; padding: 2px; }'});
  await rests(page, 2);  // the redraw at the new size
  assert.equal(await page.evaluate(() => document.getElementById('form1').width), 834);
  const {at, client} = await canvas(page);
  await page.mouse.move(...at(100, 100));
  await rests(page, 3);
  assertHead(await canvas(page), ...client(at(100, 100)), 'mapped');
  // Positions no pointer can have, each coordinate alone and both, each
  // held until the chain rests there (pointing at where it is held, ±1e9,
  // a few steps later); then a real one: the page goes on.
  const huge = [[1e30, 100], [100, 1e30], [-3.4e38, 100], [100, -3.4e38], [1e300, 1e300]];
  for (const [i, [x, y]] of huge.entries()) {
    await page.evaluate((x, y) => document.getElementById('form1').dispatchEvent(
        new PointerEvent('pointermove', {clientX: x, clientY: y, isPrimary: true})), x, y);
    await rests(page, 4 + i);
  }
  await page.mouse.move(...at(300, 200));
  await rests(page, 4 + huge.length);
  assertHead(await canvas(page), ...client(at(300, 200)), 'after huge moves');
  // Two fingers: the head follows the first while the second moves too.
  const first = await page.touchscreen.touchStart(...at(150, 300));
  const second = await page.touchscreen.touchStart(...at(400, 50));
  await first.move(...at(160, 310));
  await second.move(...at(420, 60));
  await second.move(...at(440, 80));
  await rests(page, 5 + huge.length);
  assertHead(await canvas(page), ...client(at(160, 310)), 'two fingers');
  await second.end();
  await first.end();
  await page.close();
});

// Where a canvas turned or mirrored by the page's style shows its point
// (x, y), in the viewport: the centre of its box, plus the turn of the
// offset from the canvas's centre (a b c d: the transform's matrix).
test('under any transform of the canvas, the head lands under the pointer', async () => {
  const page = await openCounting(1, {width: 800, height: 700});
  await rests(page, 1);
  let count = 1;
  for (const [transform, [a, b, c, d]] of [['rotate(180deg)', [-1, 0, 0, -1]], ['scaleX(-1)', [-1, 0, 0, 1]],
                                           ['rotate(90deg) scale(0.5)', [0, 0.5, -0.5, 0]]]) {
    await page.evaluate((t) => { document.getElementById('form1').style.transform = t; }, transform);
    const box = await page.evaluate(() => {
      const r = document.getElementById('form1').getBoundingClientRect();
      return [(r.left + r.right) / 2, (r.top + r.bottom) / 2];
    });
    const [x, y] = [150, 120];
    const shown = [Math.round(box[0] + a * (x - 278) + c * (y - 212.5)),
                   Math.round(box[1] + b * (x - 278) + d * (y - 212.5))];
    // Back from the whole pixel the pointer lands on, to the canvas's point.
    const [u, v] = [shown[0] - box[0], shown[1] - box[1]], det = a * d - b * c;
    const want = [278 + (d * u - c * v) / det, 212.5 + (a * v - b * u) / det];
    await page.mouse.move(...shown);
    await rests(page, ++count);
    assertHead(await canvas(page), ...want, transform);
  }
  await page.close();
});

test('each change of device pixel ratio redraws at full density', async () => {
  const page = await openCounting(1, {}, the.server.url, 'display');
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

// What a zoom or a move to another monitor tells a page: the ratio changes,
// and the media query for the old one stops matching. Stood in for here
// (Chromium's emulation raises no such change), each change told once to
// every query listened to then, as a browser does.
function stoodInRatio() {
  let ratio = 1, listening = [];
  Object.defineProperty(window, 'devicePixelRatio', {get: () => ratio});
  window.matchMedia = () => ({
    addEventListener: (type, listener) => listening.push(listener),
    removeEventListener: (type, listener) => { listening = listening.filter((l) => l !== listener); },
  });
  window.changeRatio = (to) => {
    ratio = to;
    const told = listening;
    listening = [];
    told.forEach((listener) => listener());
  };
}

test('every change of ratio, not only the first, is followed', async () => {
  const page = await open(the.browser, the.server.url, 1, {}, stoodInRatio);
  for (const [ratio, width] of [[1.5, 834], [2, 1112], [1, 556]]) {
    await page.evaluate((r) => changeRatio(r), ratio);
    await page.waitForFunction((w) => document.getElementById('form1').width === w, {timeout: 120000}, width);
  }
  await page.close();
});

test('each failure is one line on the page and in the console', async () => {
  const failing = async (url, setUp) => {
    const page = await the.browser.newPage();
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
  assert.match(await failing(the.server.url, () => { delete window.WebAssembly; }), /cannot run WebAssembly/);
  assert.match(await failing(the.server.url, () => {
    HTMLCanvasElement.prototype.getContext = () => null;
  }), /no canvas with a 2D context/);
  // From a file, no program can be loaded: say how to serve it.
  assert.match(await failing(`file://${join(process.cwd(), web, 'index.html')}`, () => {}), /serve the page's folder over http/);
  // A careful host's policy: scripts from the page's own files only. The
  // page runs where WebAssembly is admitted (through chain.mjs, or inline
  // where the policy names the inline module's hash, as docs/web.md shows),
  // and says why where it is not.
  const html = await readFile(join(web, 'index.html'), 'utf8');
  const hash = createHash('sha256').update(/<script type="module">([^]*?)<\/script>/.exec(html)[1]).digest('base64');
  for (const [policy, started] of [['', 'chain.mjs'], [` 'sha256-${hash}'`, 'inline']]) {
    const strict = await serve(web, {'Content-Security-Policy': `script-src 'self' 'wasm-unsafe-eval'${policy}`});
    try {
      const page = await open(the.browser, strict.url);
      const asked = await page.evaluate(() => performance.getEntriesByType('resource').map((r) => r.name));
      assert.equal(asked.some((name) => name.endsWith('/chain.mjs')) ? 'chain.mjs' : 'inline', started);
      await page.close();
    } finally {
      strict.close();
    }
  }
  const stricter = await serve(web, {'Content-Security-Policy': "default-src 'self'"});
  try {
    assert.match(await failing(stricter.url, () => {}), /chain\.wasm.*(unsafe-eval|Refused|blocked by CSP)/);
  } finally {
    stricter.close();
  }
  // A host that lost chain.wasm.
  const folder = await mkdtemp(join(tmpdir(), 'chain-web-'));
  await cp(join(web, 'index.html'), join(folder, 'index.html'));
  await cp(join(web, 'page.js'), join(folder, 'page.js'));
  await cp(join(web, 'chain.mjs'), join(folder, 'chain.mjs'));
  const broken = await serve(folder);
  try {
    assert.match(await failing(broken.url, () => {}), /^chain: cannot load chain\.wasm: the server answered 404$/);
    // A chain.wasm that is not WebAssembly: the compiler's complaint, named.
    await writeFile(join(folder, 'chain.wasm'), 'not WebAssembly');
    assert.match(await failing(broken.url, () => {}), /cannot load chain\.wasm: .*(wasm|WebAssembly)/i);
  } finally {
    broken.close();
    await rm(folder, {recursive: true});
  }
  // What chain.mjs cannot be, named: missing, or of a type no browser runs,
  // where a host's policy has page.js load it; and a sandboxed frame (an
  // opaque origin), which a host that sends no CORS headers refuses
  // chain.wasm, or chain.mjs, as the frame then says.
  const noModule = await mkdtemp(join(tmpdir(), 'chain-web-'));
  await cp(join(web, 'index.html'), join(noModule, 'index.html'));
  await cp(join(web, 'page.js'), join(noModule, 'page.js'));
  await writeFile(join(noModule, 'sandboxed.html'),
                  '<!doctype html><iframe sandbox="allow-scripts" src="index.html"></iframe>');
  const policy = {'Content-Security-Policy': "script-src 'self' 'wasm-unsafe-eval'"};
  const modules = await serve(noModule, policy);
  const plain = await serve(web, policy, {'.mjs': 'text/plain'});
  const inline = await serve(noModule);
  try {
    assert.match(await failing(modules.url, () => {}), /^chain: cannot load chain\.mjs: the server answered 404$/);
    assert.match(await failing(plain.url, () => {}),
                 /^chain: cannot load chain\.mjs: the server sends it as text\/plain, not as JavaScript$/);
    for (const [server, file] of [[inline, 'chain.wasm'], [modules, 'chain.mjs']]) {
      const framed = await the.browser.newPage();
      await framed.goto(server.url + 'sandboxed.html');
      const frame = framed.frames()[1];
      await frame.waitForFunction(() => !document.getElementById('status').hidden, {timeout: 120000});
      assert.equal(await frame.evaluate(() => document.getElementById('status').textContent),
                   `chain: cannot load ${file}: refused, or no answer (a sandboxed frame needs CORS)`);
      await framed.close();
    }
  } finally {
    modules.close();
    plain.close();
    inline.close();
    await rm(noModule, {recursive: true});
  }
  // Anything but a canvas, given to start: said in the program's words.
  const page = await open(the.browser, the.server.url);
  const refused = await page.evaluate(async () => {
    const {start} = await import('./chain.mjs');
    const said = [];
    for (const what of [null, document.createElement('div'), new OffscreenCanvas(10, 10)])
      await start(what, {onFailure: () => {}}).catch((e) => said.push(e.message));
    return said;
  });
  assert.deepEqual(refused, ['null', 'HTMLDivElement', 'OffscreenCanvas'].map(
      (name) => `chain: start needs a canvas element, not ${name}`));
  await page.close();
  // A host that serves chain.wasm under another type: it still runs.
  const untyped = await serve(web, {}, {'.wasm': 'application/octet-stream'});
  try {
    await (await open(the.browser, untyped.url)).close();
  } finally {
    untyped.close();
  }
});
