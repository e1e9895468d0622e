#!/usr/bin/python3
"""The real program on the Wayland compositors beside sway that users run,
each headless and judged by its own pictures: GNOME's mutter at scales 1
and 2, with a finger (wl_touch) through its RemoteDesktop API; weston with
pixman at 1 and 2; KDE's KWin at 1, 1.25, 1.5 and 2, fractional scales at
full density through wp_fractional_scale_v1.

On each: "Form1" shown, opaque, at 556 x 425 logical pixels; the anchor's
circle on (280, 300) at its device pixels; nothing in the compositor's log
about chain. On mutter, the head under a finger, the first finger only, and
under the pointer after it, a scale change under the moving chain, and the
compositor's close ending it with status 0 and nothing said; on KWin, its buffers at the output's density under a
556 x 425 viewport, and its close ending it with 0; weston has no seat, and
its end is the lost connection's one line.

    tests/wayland/compositors.py CHAIN
"""
import concurrent.futures
import math
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
import sway as driver  # noqa: E402
from judge import client_area, on, still  # noqa: E402
from kwin import Kwin  # noqa: E402
from mutter import Mutter, NoCast  # noqa: E402
from weston import Weston  # noqa: E402
from sway import CEILING, check, wait  # noqa: E402


def shown(desktop, program):
    """Waits for the window's client area at its size and the chain at
    rest; returns a screenshot and the area's top-left device pixel. Where
    the size in device pixels is fractional (425 x 1.5 = 637.5) the
    compositor shows the whole pixels its placement covers, either way of
    the half: the buffer's own size is checked from the protocol."""
    sizes = [{math.floor(n * desktop.scale), math.ceil(n * desktop.scale)} for n in (556, 425)]
    def settled():
        if not still(program.pid):
            return None
        shot = desktop.screenshot()
        area = client_area(shot)
        fits = area and area[2] - area[0] in sizes[0] and area[3] - area[1] in sizes[1]
        return fits and (shot, area[:2])
    want = ' x '.join('/'.join(map(str, sorted(s))) for s in sizes)
    return wait(settled, f'Form1 shown at {want} device pixels, at rest')


def gnome(chain, scale, tries=2):
    """A session whose screen cast sends no frame is started again, once."""
    try:
        gnome_once(chain, scale)
    except NoCast as e:
        if tries == 1:
            raise RuntimeError(f'mutter, scale {scale}: {e}') from None
        print(f'note mutter, scale {scale}: {e}; starting its session again', flush=True)
        gnome(chain, scale, tries - 1)


def gnome_once(chain, scale):
    name = f'mutter, scale {scale}'
    desktop = Mutter(scale)
    try:
        program = subprocess.Popen([chain], env=desktop.env, stderr=subprocess.PIPE, text=True)
        shot, (left, top) = shown(desktop, program)
        check(on(shot, left, top, 280, 300, scale), f'{name}: the anchor on (280, 300)')
        at = lambda x, y: (left / scale + x, top / scale + y)  # client point to desktop point
        desktop.touch_down(0, *at(100, 100))
        for i in range(1, 21):
            desktop.touch_motion(0, *at(100 + 10 * i, 100 + 2 * i))
        desktop.touch_down(1, *at(450, 80))  # a second finger, while the first is down
        desktop.touch_motion(1, *at(400, 60))
        desktop.touch_up(0)
        desktop.touch_motion(1, *at(420, 90))
        desktop.touch_up(1)
        shot, _ = shown(desktop, program)
        check(on(shot, left, top, 300, 140, scale), f'{name}: the head under the first finger, not the second')
        desktop.pointer(*at(60, 200))
        shot, _ = shown(desktop, program)
        check(on(shot, left, top, 60, 200, scale), f'{name}: then under the pointer')
        if scale == 2:  # its scale changed under the moving chain, and back
            for step in range(40):
                desktop.pointer(*at(*((60, 60), (500, 380))[step % 2]))
                if step in (10, 30):
                    desktop.rescale(1 if step == 10 else 2)
                time.sleep(0.05)
            shot, (left, top) = shown(desktop, program)
            check(on(shot, left, top, 500, 380, scale), f'{name}: scales 2, 1, 2 under a moving chain')
        status = desktop.close_form(program)
        said = program.stderr.read()
        check(status == 0 and said == '', f'{name}: Alt+F4 ends it with 0 ({status}, {said.strip()})')
    finally:
        desktop.close()


def kde(chain, scale):
    """With the client's protocol log: the buffers it draws, at full
    density, and the size they are shown at."""
    name = f'KWin, scale {scale}'
    desktop = Kwin(scale)
    try:
        env = {**desktop.env, 'WAYLAND_DEBUG': 'client'}
        with tempfile.TemporaryFile('w+') as said:  # more than a pipe holds
            program = subprocess.Popen([chain], env=env, stderr=said, text=True)
            shot, (left, top) = shown(desktop, program)
            check(on(shot, left, top, 280, 300, scale), f'{name}: the anchor on (280, 300)')
            status = desktop.close_form(program)
            said.seek(0)
            log = said.read().splitlines()
    finally:
        desktop.close()
    said = [line for line in log if not line.startswith('[')]
    check(status == 0 and not said, f'{name}: its close ends it with 0 ({status}, {said})')
    sizes = {tuple(map(int, line.split('(')[1].split(', ')[2:4])) for line in log if '.create_buffer(' in line}
    shown_at = {line.split('(')[1].rstrip(')') for line in log if '.set_destination(' in line}
    want = (round(556 * scale), round(425 * scale))
    check(sizes == {want} and shown_at <= {'556, 425'},
          f'{name}: buffers {sizes} for {want}, shown at {shown_at or "their own size"}')


def weston(chain, scale):
    name = f'weston, scale {scale}'
    desktop = Weston(scale)
    try:
        desktop.mark()
        program = subprocess.Popen([chain], env=desktop.env, stderr=subprocess.PIPE, text=True)
        shot, (left, top) = shown(desktop, program)
        check(on(shot, left, top, 280, 300, scale), f'{name}: the anchor on (280, 300)')
    finally:
        desktop.close()
    status = program.wait(timeout=CEILING)
    said = program.stderr.read()
    check(status == 1 and said == 'chain: lost the connection to the Wayland compositor\n',
          f'{name}: weston ended, one line and status 1 ({status}, {said.strip()})')


def gnome_and_weston(chain):
    for scale in (1, 2):
        gnome(chain, scale)
        weston(chain, scale)


def kdes(chain):
    for scale in (1, 1.25, 1.5, 2):
        kde(chain, scale)


if __name__ == '__main__':
    chain = sys.argv[1]
    # KWin beside the others, each a session of its own: most of each is
    # waiting for a compositor or for the chain to rest.
    with concurrent.futures.ThreadPoolExecutor(2) as sides:
        for done in [sides.submit(gnome_and_weston, chain), sides.submit(kdes, chain)]:
            done.result()
    print(f'{driver.passed} passed, {driver.failed} failed')
    sys.exit(1 if driver.failed else 0)
