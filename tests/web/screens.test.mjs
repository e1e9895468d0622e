// The page on any screen and in any page, in headless Chromium: phones
// upright and on their side and the narrowest screen, two chains on one
// page, the page in a small frame, and the page installed and reloaded with
// the server gone.
//   CHAIN_WEB=build/web node --test tests/web/
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {readFile, writeFile, mkdtemp, cp, rm} from 'node:fs/promises';
import {join} from 'node:path';
import {tmpdir} from 'node:os';
import {serve, open, session, canvas, rests, assertHead, circleNear, openCounting as openOn} from './page.mjs';

const web = process.env.CHAIN_WEB || 'build/web';

const the = session(web);  // the.server and the.browser, once the tests start
const openCounting = (scale, viewport, url = the.server.url) =>
    openOn(the.browser, url, scale, viewport);

// Phones, upright and on their side, and the narrowest screen: the whole
// window in view and smaller as a whole, the page no wider than the screen,
// the canvas as sharp as the screen, and a finger where it touches.
for (const [width, height, scale] of [[390, 844, 3], [844, 390, 3], [320, 568, 2]]) {
  test(`on a ${width} x ${height} touch screen at ratio ${scale}, the whole window, driven by a finger`, async () => {
    const page = await openCounting(scale, {width, height, hasTouch: true, isMobile: true});
    const seen = await page.evaluate(() => {
      const frame = document.querySelector('.window').getBoundingClientRect();
      const caption = document.querySelector('.caption').getBoundingClientRect();
      return {frame: [frame.left, frame.top, frame.right, frame.bottom], caption: caption.height,
              wide: document.documentElement.scrollWidth, inner: [innerWidth, innerHeight]};
    });
    const [left, top, right, bottom] = seen.frame;
    assert.ok(left >= 0 && top >= 0 && right <= seen.inner[0] && bottom <= seen.inner[1],
              `the window at ${seen.frame} in ${seen.inner}`);
    assert.ok(seen.wide <= width, `the page is ${seen.wide} wide`);
    let shot = await canvas(page);
    assert.ok(shot.shownWidth < 556 && Math.abs(shot.width - shot.shownWidth * scale) <= 1,
              `shown ${shot.shownWidth} wide, ${shot.width} pixels`);
    assert.ok(Math.abs(seen.caption / shot.shownWidth - 22 / 556) < 0.005, 'the caption not in proportion');
    await rests(page, 1);
    await page.touchscreen.touchStart(...shot.at(200, 150));
    await page.touchscreen.touchMove(...shot.at(240, 60));
    await page.touchscreen.touchMove(...shot.at(250, 40));
    await page.touchscreen.touchEnd();
    await rests(page, 2);
    assertHead(await canvas(page), ...shot.client(shot.at(250, 40)), 'the finger');
    assert.deepEqual(await page.evaluate(() => [scrollX, visualViewport.scale]), [0, 1]);
    await page.close();
  });
}

// Pages of the test's own beside the page's files: two chains on one page,
// started from a module script, and the page in a small frame.
async function embedding() {
  const folder = await mkdtemp(join(tmpdir(), 'chain-embed-'));
  await cp(web, folder, {recursive: true});
  await writeFile(join(folder, 'two.html'), '<!doctype html><body style="margin:0">' +
      '<canvas></canvas><canvas style="width:400px"></canvas><script type="module">' +
      'import {start} from "./chain.mjs"; for (const c of document.querySelectorAll("canvas")) start(c);' +
      '</script>');
  await writeFile(join(folder, 'framed.html'), '<!doctype html><body style="margin:0">' +
      '<iframe src="index.html" style="width:300px;height:260px;border:0"></iframe>');
  return {folder, server: await serve(folder)};
}

test('two chains on one page follow their own pointers, and leave nothing global', async () => {
  const {folder, server: host} = await embedding();
  try {
    const page = await openCounting(1, {width: 1100, height: 500}, host.url + 'two.html');
    await page.waitForFunction(() => chainStats.presents >= 2, {timeout: 120000, polling: 50});  // (test frames)
    await rests(page, 2);
    const [one, two] = [await canvas(page, 0), await canvas(page, 1)];
    assert.equal(two.width, 400, 'the second canvas drawn at the size it is shown');
    await page.mouse.move(...one.at(100, 100));
    await rests(page, 3);
    await page.mouse.move(...two.at(400, 300));
    await rests(page, 4);
    assertHead(await canvas(page, 0), ...one.client(one.at(100, 100)), 'the first chain');
    assertHead(await canvas(page, 1), ...two.client(two.at(400, 300)), 'the second chain');
    assert.deepEqual(await page.evaluate(() => [typeof Module, typeof chain, typeof start]),
                     ['undefined', 'undefined', 'undefined']);
    await page.close();
    // In a frame smaller than the window, the whole window, smaller.
    const framed = await open(the.browser, host.url + 'framed.html', 1, {width: 400, height: 300},
                              null, (page) => page.frames()[1]);
    const fit = await framed.frames()[1].evaluate(() => {
      const box = document.querySelector('.window').getBoundingClientRect();
      return box.right <= innerWidth && box.bottom <= innerHeight && box.width < 300 &&
             document.getElementById('form1').width === Math.round(box.width - 2);
    });
    assert.ok(fit, 'the window does not fit its frame');
    await framed.close();
  } finally {
    host.close();
    await rm(folder, {recursive: true});
  }
});

test('once visited, the page installs and comes back without the network', async () => {
  const {folder, server: host} = await embedding();
  let page;
  try {
    page = await open(the.browser, host.url);
    const manifest = await page.evaluate(async () => {
      const m = await (await fetch(document.querySelector('link[rel=manifest]').href)).json();
      const sizes = await Promise.all(m.icons.map(async (icon) => {
        const image = new Image();
        image.src = icon.src;
        await image.decode();
        return `${image.width}x${image.height}` === icon.sizes;
      }));
      return {display: m.display, icons: sizes};
    });
    assert.deepEqual(manifest, {display: 'standalone', icons: [true, true]});
    await controlled(page);
  } finally {
    host.close();  // and every connection it held
    await rm(folder, {recursive: true});
  }
  await page.evaluate(() => { chainStats.presents = 0; });
  await page.reload();
  await page.waitForFunction(() => chainStats.presents > 0, {timeout: 120000});
  const anchor = circleNear(await canvas(page), 280, 300, 1);
  assert.ok(Math.abs(anchor.x - 280) < 0.1 && Math.abs(anchor.y - 300) < 0.1, 'no chain offline');
  await page.close();
});

// Waits until the page is controlled by its service worker, a new one once
// `update`; the worker's files are then in its cache.
async function controlled(page, update = false) {
  await page.evaluate(async (update) => {
    const registration = await navigator.serviceWorker.ready;
    const changed = new Promise((done) => navigator.serviceWorker.addEventListener('controllerchange', done, {once: true}));
    if (update) await registration.update();
    if (update || !navigator.serviceWorker.controller) await changed;
  }, update);
}

test('an update reaches a returning visitor whole, two copies on one origin both work offline, and other caches are left alone', async () => {
  // A host as plain as python's http.server: no Cache-Control, an old
  // Last-Modified, so the browser's HTTP cache keeps each file for weeks.
  const folder = await mkdtemp(join(tmpdir(), 'chain-copies-'));
  for (const copy of ['a', 'b']) await cp(web, join(folder, copy), {recursive: true});
  const host = await serve(folder, {'Cache-Control': null, 'Last-Modified': 'Mon, 01 Jan 2024 00:00:00 GMT'});
  const pages = {};
  try {
    pages.a = await open(the.browser, host.url + 'a/');
    // Another application's cache on the origin, which no copy may touch;
    // the manifest keeps the installed page in its own folder.
    const manifest = await pages.a.evaluate(async () => {
      await caches.open('chain-of-another-application');
      const link = document.querySelector('link[rel=manifest]').href;
      const m = await (await fetch(link)).json();
      return [new URL(m.start_url, link).href, new URL(m.scope, link).href];
    });
    assert.deepEqual(manifest, [host.url + 'a/', host.url + 'a/']);
    await controlled(pages.a);
    // A new build of /a/: another chain.mjs, and a worker named by the new hash.
    await writeFile(join(folder, 'a', 'chain.mjs'),
                    (await readFile(join(web, 'chain.mjs'), 'utf8')) + '// the new build\n');
    const worker = await readFile(join(web, 'sw.js'), 'utf8');
    assert.match(worker, /'[0-9a-f]{16}'/);
    await writeFile(join(folder, 'a', 'sw.js'), worker.replace(/'[0-9a-f]{16}'/, "'0123456789abcdef'"));
    await controlled(pages.a, true);
    pages.b = await open(the.browser, host.url + 'b/');
    await controlled(pages.b);
  } finally {
    host.close();
    await rm(folder, {recursive: true});
  }
  for (const copy of ['a', 'b']) {
    const page = pages[copy];
    await page.evaluate(() => { chainStats.presents = 0; });
    await page.reload();
    await page.waitForFunction(() => chainStats.presents > 0, {timeout: 120000});
    const anchor = circleNear(await canvas(page), 280, 300, 1);
    assert.ok(Math.abs(anchor.x - 280) < 0.1 && Math.abs(anchor.y - 300) < 0.1, `no chain offline in /${copy}/`);
    const kept = await page.evaluate(async () => (await fetch('chain.mjs')).text());
    assert.equal(kept.endsWith('// the new build\n'), copy === 'a', `/${copy}/ keeps the wrong chain.mjs`);
    assert.ok(await page.evaluate(() => caches.has('chain-of-another-application')), 'another cache deleted');
    await page.close();
  }
});
