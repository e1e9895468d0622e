// A W3C WebDriver client over fetch, enough for WebKitGTK's WebKitWebDriver
// (whose MiniBrowser has no headless mode: run under Xvfb): a session with
// a page, scripts run in it, pointer actions, the window's size.
import {spawn} from 'node:child_process';
import {createServer} from 'node:net';

const free = () => new Promise((resolve) => {
  const server = createServer().listen(0, '127.0.0.1', () => {
    const {port} = server.address();
    server.close(() => resolve(port));
  });
});

/** WebKitWebDriver and one MiniBrowser session; `env` for its process
 * (GDK_SCALE=2 gives a device pixel ratio of 2). */
export async function webkit(env = {}) {
  const port = await free();
  const driver = spawn('WebKitWebDriver', [`--port=${port}`, '--host=127.0.0.1'],
                       {env: {...process.env, ...env}, stdio: 'ignore'});
  const base = `http://127.0.0.1:${port}`;
  const send = async (method, path, body) => {
    const response = await fetch(base + path, {method, headers: {'Content-Type': 'application/json'},
                                               body: body && JSON.stringify(body)});
    const {value} = await response.json();
    if (!response.ok) throw new Error(`WebDriver ${path}: ${value?.error}: ${value?.message}`);
    return value;
  };
  for (let tries = 0; ; tries++) {  // until the driver listens
    try {
      await fetch(base + '/status');
      break;
    } catch (e) {
      if (tries > 600) throw e;
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
  }
  const {sessionId} = await send('POST', '/session', {capabilities: {alwaysMatch: {
    'webkitgtk:browserOptions': {binary: '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser',
                                 args: ['--automation']}}}});
  const at = (path) => `/session/${sessionId}${path}`;
  await send('POST', at('/timeouts'), {script: 120000});  // a busy machine's waits
  return {
    go: (url) => send('POST', at('/url'), {url}),
    // `script` is a function's source, called with `args`; its promise is awaited.
    run: (script, ...args) => send('POST', at('/execute/async'), {
      script: `const done = arguments[arguments.length - 1];
               Promise.resolve((${script})(...Array.from(arguments).slice(0, -1))).then(done, (e) => done({failed: String(e)}));`,
      args}),
    size: (width, height) => send('POST', at('/window/rect'), {width, height}),
    // Moves of one pointer of `type` (mouse, pen) to viewport points, the
    // button held from the first to the last where `press`.
    point: (type, points, press = false) => send('POST', at('/actions'), {actions: [{
      type: 'pointer', id: type, parameters: {pointerType: type},
      actions: [...points.flatMap(([x, y], i) => [
        {type: 'pointerMove', x: Math.round(x), y: Math.round(y), origin: 'viewport', duration: 0},
        ...(press && i === 0 ? [{type: 'pointerDown', button: 0}] : [])]),
        ...(press ? [{type: 'pointerUp', button: 0}] : [])]}]}),
    close: async () => {
      await send('DELETE', at('')).catch(() => {});
      driver.kill();
    },
  };
}
