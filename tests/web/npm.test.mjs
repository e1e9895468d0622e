// The page's module as an npm package: installed from its .tgz into a
// scratch project, imported by name under node (no page at all) and by a
// page through an import map, where a chain runs.
//   CHAIN_WEB=build/web node --test tests/web/npm.test.mjs
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {execFile} from 'node:child_process';
import {promisify} from 'node:util';
import {mkdtemp, readdir, writeFile, rm} from 'node:fs/promises';
import {join, resolve} from 'node:path';
import {tmpdir} from 'node:os';
import {serve, launch, open, canvas, circleNear} from './page.mjs';

const run = promisify(execFile);
const web = resolve(process.env.CHAIN_WEB || 'build/web');
const name = '@hangingchain/chain';

test('the npm package installs, imports without a page, and runs a chain on a page that imports it by name', async () => {
  const tgz = (await readdir(web)).find((f) => /^hangingchain-chain-.*\.tgz$/.test(f));
  assert.ok(tgz, `no package in ${web}`);
  const project = await mkdtemp(join(tmpdir(), 'chain-npm-'));
  let server, browser;
  try {
    await writeFile(join(project, 'package.json'), '{"name": "scratch", "private": true, "type": "module"}');
    await run('npm', ['install', '--offline', '--no-audit', '--no-fund', '--loglevel=error', join(web, tgz)],
              {cwd: project});
    const {stdout} = await run(process.execPath, ['--input-type=module', '-e',
      `import * as chain from '${name}'; console.log(Object.keys(chain).join(), typeof chain.start);`],
      {cwd: project});
    assert.equal(stdout.trim(), 'start function', 'what the module exports under node');
    await writeFile(join(project, 'index.html'), '<!doctype html><body style="margin:0">' +
        `<script type="importmap">{"imports": {"${name}": "./node_modules/${name}/chain.mjs"}}</script>` +
        `<canvas></canvas><script type="module">import {start} from '${name}';` +
        'start(document.querySelector("canvas"));</script>');
    server = await serve(project);
    browser = await launch();
    const page = await open(browser, server.url);
    const anchor = circleNear(await canvas(page), 280, 300, 1);
    assert.ok(Math.abs(anchor.x - 280) < 0.1 && Math.abs(anchor.y - 300) < 0.1,
              `anchor at (${anchor.x}, ${anchor.y})`);
  } finally {
    await browser?.close();
    server?.close();
    await rm(project, {recursive: true});
  }
});
