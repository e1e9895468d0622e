// Helpers for the browser tests and the first-picture benchmark: a static
// server on 127.0.0.1 for a folder, and headless Chromium (Debian's, driven
// through puppeteer-core) opening a page from it.
import {createServer} from 'node:http';
import {readFile} from 'node:fs/promises';
import {extname, join, normalize} from 'node:path';
import puppeteer from 'puppeteer-core';

const types = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript',
  '.mjs': 'text/javascript',
  '.wasm': 'application/wasm',
  '.png': 'image/png',
  '.webmanifest': 'application/manifest+json',
};

/** Serves `folder` on 127.0.0.1 at a free port, with `headers` besides the
 * usual and the content types `retyped` gives by extension; resolves to
 * {url, close()}. */
export async function serve(folder, headers = {}, retyped = {}) {
  const server = createServer(async (request, response) => {
    let path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    if (path.endsWith('/')) path += 'index.html';
    try {
      const body = await readFile(join(folder, path));
      const type = retyped[extname(path)] || types[extname(path)] || 'application/octet-stream';
      response.writeHead(200, {'Content-Type': type,
                               'Cache-Control': 'no-store', ...headers});
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

/** Headless Chromium, as this machine's closed network needs it. */
export function launch() {
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--disable-dev-shm-usage'],
  });
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
  await where(page).waitForFunction(() => window.chainStats.presents > 0, {timeout: 120000});
  return page;
}
