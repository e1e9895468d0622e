#!/usr/bin/python3
"""The real program on a native Wayland desktop without a screen: a headless
sway (wlroots, pixman renderer, no XWayland), a virtual pointer of our own,
and grim's screenshots as the judge.

For output scales 1, 1.5 and 2: the window found by its title at 556 x 425
logical pixels; the anchor's circle on (280, 300); a pointer script the head
follows, ending in the picture the desktop's own drawing makes for it
(web-reference), pixel for pixel at scales 1 and 2, every circle where it
belongs at 1.5; no CPU at rest; peak memory; the compositor's close ending
it with status 0; at rest on outputs of 2 and 144 Hz, nothing wakes it.
Then libdecor's title bar where the compositor draws none,
and the failures: no compositor, a lost one.

    tests/wayland/e2e.py CHAIN WEB_REFERENCE
"""
import concurrent.futures
import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
import sway as driver  # noqa: E402
from sway import CEILING, Sway, check, wait  # noqa: E402
from judge import circle, region, still, switches, ticks  # noqa: E402


def pointer_script(reference):
    """web-reference's pointer script, in client pixels: one program holds it."""
    out = subprocess.run([reference, 'script'], capture_output=True, text=True, check=True).stdout
    return [tuple(map(int, line.split())) for line in out.splitlines()]


def settled(sway, pid):
    """Waits until the program is at rest (no frame for half a second) and
    returns a screenshot."""
    wait(lambda: still(pid), 'the chain to come to rest')
    return sway.screenshot()


def run_at(scale, chain, reference):
    SCALE = float(scale)
    sway = Sway(scale)
    try:
        sway.msg('seat', 'seat0', 'cursor', 'set', '1279', '1023')  # away from the window
        program = subprocess.Popen([chain], env=sway.env, stderr=subprocess.PIPE, text=True)
        node = wait(sway.form, 'a window titled Form1')
        rect = node['rect']
        check(node.get('app_id') == 'io.github.hangingchain.chain' and
              (rect['width'], rect['height']) == (556, 425),
              f'scale {scale}: "Form1" ({node.get("app_id")}), {rect["width"]} x {rect["height"]} logical')
        # Where every client pixel starts on a device pixel at every scale.
        sway.msg('[title="Form1"]', 'move', 'position', '40', '40')
        rect = wait(lambda: sway.form()['rect'] if sway.form()['rect']['x'] == 40 else None, 'the move')
        device = lambda v: int(round(v * SCALE))
        left, top = device(rect['x']), device(rect['y'])
        width, height = device(556), device(425)
        shot = settled(sway, program.pid)
        ax, ay = circle(shot, left + 280 * SCALE, top + 300 * SCALE, SCALE)
        check(abs(ax - left - 280 * SCALE) < 0.1 * SCALE and abs(ay - top - 300 * SCALE) < 0.1 * SCALE,
              f'scale {scale}: the anchor on (280, 300)')
        for x, y in pointer_script(reference):  # ends with the head on its last point
            sway.msg('seat', 'seat0', 'cursor', 'set', str(rect['x'] + x), str(rect['y'] + y))
            shot = settled(sway, program.pid)
        x, y = pointer_script(reference)[-1]
        hx, hy = circle(shot, left + x * SCALE, top + y * SCALE, SCALE)
        check(abs(hx - left - x * SCALE) < 0.1 * SCALE and abs(hy - top - y * SCALE) < 0.1 * SCALE,
              f'scale {scale}: the head on the pointer ({hx - left:.2f}, {hy - top:.2f} device pixels)')
        if SCALE == int(SCALE):
            # At a whole scale the compositor shows the buffer as it is: the
            # desktop drawing's own picture, at full density.
            with tempfile.NamedTemporaryFile(prefix='chain-wayland-ref-') as out:
                subprocess.run([reference, str(scale), out.name], check=True)
                with open(out.name, 'rb') as f:
                    data = f.read()
            header, pixels = data.split(b'\n', 1)
            want = b''.join(pixels[i:i + 3] for i in range(0, len(pixels), 4))
            got = region(shot, left, top, width, height)
            differ = sum(a != b for a, b in zip(got, want))
            check(header == f'RGBA {width} {height}'.encode() and differ == 0,
                  f'scale {scale}: the desktop drawing\'s picture, pixel for pixel ({differ} bytes differ)')
        before = ticks(program.pid)
        time.sleep(2)
        used = ticks(program.pid) - before
        check(used <= 1, f'scale {scale}: at rest, {used} clock ticks in two seconds')
        with open(f'/proc/{program.pid}/status') as f:
            peak = next(line.split()[1] for line in f if line.startswith('VmHWM'))
        print(f'     peak resident memory {peak} KiB', flush=True)
        status = sway.close_form(program)
        said = program.stderr.read()
        check(status == 0 and said == '', f'scale {scale}: the compositor\'s close ends it with 0 ({said.strip()})')
    finally:
        sway.close()


def rescaled(chain):
    """Started at scale 3, then the output's scale changed under the moving
    chain: every buffer a whole multiple of the scale it is committed with
    (the log above), and the window still answering."""
    sway = Sway(3)
    try:
        program = subprocess.Popen([chain], env=sway.env, stderr=subprocess.PIPE, text=True)
        wait(sway.form, 'a window titled Form1')
        for scale in ('2', '1', '3', '2'):
            sway.msg('output', 'HEADLESS-1', 'scale', scale)
            for x, y in pointer_script(reference):  # ends with the head on its last point
                sway.msg('seat', 'seat0', 'cursor', 'set', str(x), str(y))
                time.sleep(0.05)
        status = sway.close_form(program)
        check(status == 0, f'scales 3, 2, 1, 3, 2 under a moving chain: closed with {status}')
    finally:
        sway.close()


def protocol(chain, refresh=None):
    """The chain kept moving for two seconds, read from the client's own
    protocol log (WAYLAND_DEBUG): no buffer attached while the compositor
    still holds it, and pictures one a step of the chain's 60 a second (one
    a refresh of sway's 60 Hz headless output), not one every other
    refresh; on a faster output too, where frames with no step between
    them wait for the display without a picture."""
    sway = Sway(1, refresh)
    try:
        env = {**sway.env, 'WAYLAND_DEBUG': 'client'}
        program = subprocess.Popen([chain], env=env, stderr=subprocess.PIPE, text=True)
        wait(sway.form, 'a window titled Form1')
        for i in range(40):  # far apart: the chain swings all the while
            x, y = ((60, 60), (500, 380))[i % 2]
            sway.msg('seat', 'seat0', 'cursor', 'set', str(x), str(y))
            time.sleep(0.05)
        sway.msg('[title="Form1"]', 'kill')
        log = program.communicate(timeout=CEILING)[1]
        held, reused, attached = set(), [], []
        for line in log.splitlines():
            stamp = line[1:line.index(']')] if line.startswith('[') else None
            if '.attach(wl_buffer' in line:
                buffer = line.split('attach(')[1].split(',')[0]
                if buffer in held:
                    reused.append(buffer)
                held.add(buffer)
                attached.append(float(stamp))
            elif line.split(' ')[-1].endswith('.release()'):
                held.discard(line.split(' ')[-1].split('.')[0])
        check(attached and not reused,
              f'{len(attached)} pictures, none drawn into a buffer the compositor held ({reused[:3]})')
        gaps = sorted(b - a for a, b in zip(attached, attached[1:]))
        median = gaps[len(gaps) // 2] if gaps else 0
        check(len(attached) > 60 and median < 25,
              f'pictures at 60 a second on a {refresh or 60} Hz output: {median:.1f} ms apart (median), not 33')
    finally:
        sway.close()


def resting(chain, refresh):
    """On an output of `refresh` Hz, slow enough that frame callbacks come
    after the program stopped waiting for them, or fast: once the chain is
    still, nothing wakes the program (a late callback would, and then ask
    for another)."""
    sway = Sway(1, refresh)
    try:
        program = subprocess.Popen([chain], env=sway.env, stderr=subprocess.PIPE, text=True)
        wait(sway.form, 'a window titled Form1')
        sway.msg('seat', 'seat0', 'cursor', 'set', '100', '100')
        try:  # no frame for longer than two of the output's refreshes and a second
            wait(lambda: still(program.pid, 1 + 2 / refresh), 'the chain to come to rest')
            before = switches(program.pid)
            time.sleep(4)
            woken = switches(program.pid) - before
        except RuntimeError:
            woken = 'never still'
        check(woken == 0, f'at rest on a {refresh} Hz output: {woken} wake-ups in 4 s')
        with open(f'/proc/{program.pid}/maps') as f:
            held = sum('/memfd:chain' in line for line in f)
        check(held == 1, f'at rest on a {refresh} Hz output: one picture held ({held})')
        status = sway.close_form(program)
        check(status == 0, f'on a {refresh} Hz output: closed with {status}')
    finally:
        sway.close()


def decorations(chain):
    """Where the compositor offers no xdg-decoration, libdecor decorates the
    window (asked for here with CHAIN_CLIENT_DECORATIONS=1; on sway libdecor
    still settles for the compositor's own)."""
    sway = Sway(1)
    try:
        env = {**sway.env, 'CHAIN_CLIENT_DECORATIONS': '1'}
        program = subprocess.Popen([chain], env=env, stderr=subprocess.PIPE, text=True)
        node = wait(sway.form, 'a window titled Form1')
        check(node['rect']['width'] >= 556 and node['rect']['height'] >= 425,
              'through libdecor: "Form1" shown')
        status = sway.close_form(program)
        check(status == 0, f'through libdecor: the compositor\'s close ends it with 0 ({status})')
    finally:
        sway.close()


def failures(chain):
    env = {**os.environ, 'WAYLAND_DISPLAY': 'chain-no-such-compositor'}
    env.pop('SDL_VIDEODRIVER', None)
    env.pop('DISPLAY', None)  # or X11 would be tried instead
    out = subprocess.run([chain], env=env, capture_output=True, text=True, timeout=CEILING)
    check(out.returncode == 1 and out.stderr.count('\n') == 1 and out.stderr.startswith(
          'chain: cannot open the display: cannot reach the Wayland compositor through '
          '"chain-no-such-compositor"'),
          f'no compositor: one line, status 1 ({out.stderr.strip()})')
    sway = Sway(1)
    program = subprocess.Popen([chain], env=sway.env, stderr=subprocess.PIPE, text=True)
    wait(sway.form, 'a window titled Form1')
    sway.process.send_signal(signal.SIGKILL)
    sway.process.wait()
    status = program.wait(timeout=CEILING)
    said = program.stderr.read()
    check(status == 1 and said == 'chain: lost the connection to the Wayland compositor\n',
          f'the compositor gone: one line, status 1 ({said.strip()})')
    sway.close()


if __name__ == '__main__':
    chain, reference = sys.argv[1], sys.argv[2]
    os.environ.setdefault('CHAIN_JUDGE', reference)
    # The three scales side by side, each on a sway of its own: each spends
    # most of its time waiting for the chain to rest.
    with concurrent.futures.ThreadPoolExecutor(3) as scales:
        for done in [scales.submit(run_at, scale, chain, reference) for scale in ('1', '1.5', '2')]:
            done.result()
    rescaled(chain)
    protocol(chain)
    protocol(chain, 144)
    for refresh in (2, 144):
        resting(chain, refresh)
    decorations(chain)
    failures(chain)
    print(f'{driver.passed} passed, {driver.failed} failed')
    sys.exit(1 if driver.failed else 0)
