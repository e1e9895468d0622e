// The page against its floors and its peers, in headless Chromium, in one
// run: the time to its first picture against a bare canvas page drawing 41
// circles, the same page with its drawing in a script file, a minimal page
// whose hand-written WebAssembly module draws them (floor.wat), and the same
// chain written against p5.js and Paper.js (each in a fresh browser context,
// in turn); the size of its files, and how busy the main thread is at rest
// and with the pointer moving.
//   node bench/web/run.mjs build/web
import {stat, mkdtemp, cp, readFile, writeFile} from 'node:fs/promises';
import {spawn, execFileSync} from 'node:child_process';
import {join, dirname} from 'node:path';
import {tmpdir} from 'node:os';
import {fileURLToPath} from 'node:url';
import {launch, open} from '../../tests/web/page.mjs';

const web = process.argv[2] || 'build/web';
const rounds = Number(process.env.ROUNDS || 15);
const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];

const folder = await mkdtemp(join(tmpdir(), 'chain-bench-'));
await cp(web, folder, {recursive: true});
// The floors: bare.html, and the same page with its drawing moved to a
// script file, which shows what one request for a script costs a page.
const bare = await readFile(join(dirname(fileURLToPath(import.meta.url)), 'bare.html'), 'utf8');
const inline = /<script>([^]*)<\/script>/;
await writeFile(join(folder, 'bare.html'), bare);
await writeFile(join(folder, 'script.html'), bare.replace(inline, '<script src="script.js"></script>'));
await writeFile(join(folder, 'script.js'), inline.exec(bare)[1]);
// The wasm floor, and the peers with their libraries (npm, pinned by
// tests/web's lock file).
const here = dirname(fileURLToPath(import.meta.url));
execFileSync('wasm-as', [join(here, 'floor.wat'), '-o', join(folder, 'floor.wasm')]);
const modules = join(here, '../../tests/web/node_modules');
for (const [from, to] of [[join(here, 'floor.html'), 'floor.html'], [join(here, 'p5.html'), 'p5.html'],
                          [join(here, 'paper.html'), 'paper.html'], [join(here, 'peer-chain.js'), 'peer-chain.js'],
                          [join(modules, 'p5/lib/p5.min.js'), 'p5.min.js'],
                          [join(modules, 'paper/dist/paper-core.min.js'), 'paper-core.min.js']])
  await cp(from, join(folder, to));
// Served by another process, as a static host would: Python's http.server.
const python = spawn('python3', ['-u', '-m', 'http.server', '--bind', '127.0.0.1', '0', '-d', folder],
                     {stdio: ['ignore', 'pipe', 'ignore']});
const port = await new Promise((resolve) => python.stdout.on('data', (d) => {
  const m = /port (\d+)/.exec(String(d));
  if (m) resolve(m[1]);
}));
const server = {url: `http://127.0.0.1:${port}/`, close: () => python.kill()};
const browser = await launch();

// What a visitor downloads for the first picture, and what comes after it:
// the icon, the manifest and the service worker (registered once it shows).
const sizes = async (names) => {
  const files = await Promise.all(names.map(async (name) => [name, (await stat(join(web, name))).size]));
  return {bytes: files.reduce((n, [, size]) => n + size, 0), list: files.map((f) => f.join(' ')).join(', ')};
};
// chain.mjs's code is inline in index.html: the file is fetched only where
// a host's policy refuses inline scripts.
const first = await sizes(['index.html', 'page.js', 'chain.wasm']);
const later = await sizes(['sw.js', 'manifest.webmanifest', 'icon.png']);
console.log(`page files: ${first.bytes} bytes to the first picture (${first.list}); goal <= 64 KB (65536 bytes); ` +
            `${later.bytes} after it (${later.list})`);

// Each page's first picture, and when each of the chain page's files arrived.
const times = {chain: [], floor: [], paper: [], p5: [], bare: [], script: []}, arrived = {};
const kinds = Object.keys(times);
for (let i = 0; i < rounds; i++) {
  for (let k = 0; k < kinds.length; k++) {
    const which = kinds[(i + k) % kinds.length];  // each first in turn
    const context = await browser.createBrowserContext();
    const page = await context.newPage();
    if (which === 'chain') {
      await page.evaluateOnNewDocument(() => {
        const put = CanvasRenderingContext2D.prototype.putImageData;
        CanvasRenderingContext2D.prototype.putImageData = function (...args) {
          put.apply(this, args);
          window.chainFirstPicture = window.chainFirstPicture || performance.now();
        };
      });
      await page.goto(server.url);
      await page.waitForFunction(() => window.chainFirstPicture > 0, {timeout: 120000});
      times.chain.push(await page.evaluate(() => window.chainFirstPicture));
      for (const [name, at] of await page.evaluate(() => performance.getEntriesByType('resource')
          .map((r) => [r.name.replace(/.*\//, ''), r.responseEnd])))
        (arrived[name] ||= []).push(at);
    } else {
      await page.goto(server.url + which + '.html');
      await page.waitForFunction(() => window.bareFirstPicture > 0, {timeout: 120000});
      times[which].push(await page.evaluate(() => window.bareFirstPicture));
    }
    await context.close();
  }
}
const [c, w, pp, p5, b, s] = kinds.map((which) => median(times[which]));
const ahead = c < pp && c < p5 ? 'yes' : 'no';
console.log(`first picture after navigation, medians of ${rounds}: chain ${c.toFixed(1)} ms; ` +
            `the minimal wasm page ${w.toFixed(1)} ms: ${(c / w).toFixed(2)} x (goal <= 1.2 x); ` +
            `Paper.js ${pp.toFixed(1)} ms, p5.js ${p5.toFixed(1)} ms (chain ahead of both: ${ahead}); ` +
            `bare canvas page ${b.toFixed(1)} ms (${(c / b).toFixed(2)} x), ` +
            `drawing from a script file ${s.toFixed(1)} ms`);
console.log('the chain page\'s files arrived at (medians, ms): ' + Object.entries(arrived)
    .map(([name, at]) => `${name} ${median(at).toFixed(1)}`).join(', '));

// How busy the main thread is: the DevTools protocol's TaskDuration over 5 s.
const page = await open(browser, server.url);
const cdp = await page.createCDPSession();
await cdp.send('Performance.enable');
const busy = async (during) => {
  const task = async () => (await cdp.send('Performance.getMetrics')).metrics
      .find((m) => m.name === 'TaskDuration').value;
  const t0 = await task(), s0 = performance.now();
  await during();
  return (100 * (await task() - t0)) / ((performance.now() - s0) / 1000);
};
await page.waitForFunction(() => {
  const s = window.chainStats, last = s.lastFrames;
  s.lastFrames = s.frames;
  return last === s.frames;  // no frame asked for since the last look
}, {polling: 1000, timeout: 120000});
const rest = await busy(() => new Promise((resolve) => setTimeout(resolve, 5000)));
const box = await page.evaluate(() => {
  const r = document.getElementById('form1').getBoundingClientRect();
  return {x: r.left, y: r.top};
});
const moving = await busy(async () => {
  for (let i = 0; i < 250; i++) {
    await page.mouse.move(box.x + 60 + (i * 7) % 400, box.y + 40 + (i * 3) % 300);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
});
console.log(`main thread busy: at rest ${rest.toFixed(2)} %, pointer moving ${moving.toFixed(1)} % ` +
            `(animation frames at 60 Hz)`);
await browser.close();
server.close();
