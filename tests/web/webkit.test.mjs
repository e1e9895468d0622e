// The page in WebKitGTK (Safari's engine), driven over W3C WebDriver
// (webdriver.mjs; its MiniBrowser needs an X server: run under Xvfb), judged
// by the canvas's own pixels as in Chromium: the desktop's picture at
// ratios 1 and 2 after the pointer script, the head under a pen, a phone's
// width fitted, no animation frames at rest, a reload without the network,
// and nothing in the console after a load. WebDriver runs nothing before
// the page's own scripts, so the counters are set up once the page shows.
//   CHAIN_WEB=build/web CHAIN_WEB_REFERENCE=dir tests/support/with_xvfb.sh -- node --test tests/web/webkit.test.mjs
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {serve, canvas, rests, countRests, assertHead, assertReference, pointerScript, testFrames} from './page.mjs';
import {webkit} from './webdriver.mjs';
import {spawn} from 'node:child_process';

const web = process.env.CHAIN_WEB || 'build/web';
const script = await pointerScript();

// A session on the page at `url`, once it shows, with its animation frames
// counted from then on, and the test's own (testFrames), so that the chain
// comes to rest after each move at once; its rests counted. `page` reads it
// as puppeteer's would.
async function open(url, env = {}) {
  const browser = await webkit(env);
  await browser.go(url);
  const page = {evaluate: (f, ...args) => browser.run(f.toString(), ...args)};
  await shown(page);
  await page.evaluate(testFrames);
  await page.evaluate(countRests);
  await page.evaluate(() => {
    window.chainStats = {frames: 0};
    const request = window.requestAnimationFrame.bind(window);
    window.requestAnimationFrame = (callback) => (chainStats.frames++, request(callback));
  });
  return {browser, page};
}

// Until the page shows its first picture (the anchor's pixel drawn).
const shown = (page) => page.evaluate(() => new Promise((resolve) => {
  const poll = () => (document.getElementById('form1').getContext('2d').getImageData(280, 300, 1, 1).data[3]
      ? resolve() : setTimeout(poll, 50));
  poll();
}));

for (const scale of [1, 2]) {
  test(`at device ratio ${scale} the page shows what the desktop window shows, and rests`, async () => {
    const server = await serve(web);
    const {browser, page} = await open(server.url, {GDK_SCALE: String(scale)});
    try {
      await rests(page, 1);
      let shot = await canvas(page);
      assert.equal(shot.width, 556 * scale);
      for (const [i, point] of script.entries()) {
        await browser.point('mouse', [shot.at(...point)]);
        await rests(page, i + 2);
      }
      shot = await canvas(page);
      assertHead(shot, ...script[script.length - 1], 'after the script');
      await assertReference(shot, scale);
      const before = await page.evaluate(() => chainStats.frames);
      await new Promise((resolve) => setTimeout(resolve, 1000));
      assert.equal(await page.evaluate(() => chainStats.frames), before, 'animation frames at rest');
    } finally {
      await browser.close();
      server.close();
    }
  });
}

test('a pen drives the head; a phone\'s width is fitted; the page comes back without the network', async () => {
  const server = await serve(web);
  let {browser, page} = await open(server.url);
  try {
    let shot = await canvas(page);
    await browser.point('pen', [shot.at(100, 100), shot.at(200, 150)], true);
    await rests(page, 1);
    assertHead(await canvas(page), ...shot.client(shot.at(200, 150)), 'a pen');
    // A phone's 390 px; MiniBrowser's toolbar keeps its window some 450
    // px wide, still narrower than the 558 px the window needs.
    await browser.size(390, 844);
    const fitted = await page.evaluate(() => new Promise((resolve) => setTimeout(() => resolve({
      scroll: document.documentElement.scrollWidth, width: innerWidth,
      shown: document.getElementById('form1').getBoundingClientRect().width}), 500)));
    assert.ok(fitted.width < 558 && fitted.scroll <= fitted.width && fitted.shown < fitted.width,
              `a ${fitted.width} px wide window scrolls ${fitted.scroll} px, the canvas ${fitted.shown} px`);
    // Kept by the service worker once the chain shows; then the server goes.
    await page.evaluate(() => navigator.serviceWorker.ready.then(() => caches.keys()).then(async (keys) => {
      while (!(await Promise.all(keys.map((k) => caches.open(k).then((c) => c.keys())))).flat().length)
        await new Promise((resolve) => setTimeout(resolve, 100));
    }));
    server.close();
    await browser.go(server.url);
    await shown(page);
    shot = await canvas(page);
    assertHead(shot, 280, 300, 'offline, the anchor', 0.5);
  } finally {
    await browser.close();
    server.close();
  }
});

// Outside a driven session MiniBrowser writes the page's console to its
// output: nothing is said in the seconds after a load (a preload the page
// never used would be, three seconds after).
test('a load says nothing in the console', async () => {
  const server = await serve(web);
  const browser = spawn('/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser',
                        ['--enable-write-console-messages-to-stdout=true', server.url]);
  let said = '';
  browser.stdout.on('data', (data) => said += data);
  browser.stderr.on('data', (data) => said += data);
  await new Promise((resolve) => setTimeout(resolve, 8000));
  browser.kill();
  server.close();
  assert.equal(said.split('\n').filter((line) => /CONSOLE/.test(line)).join('\n'), '');
});
