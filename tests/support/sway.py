"""A headless sway for tests and benchmarks: wlroots' headless backend and
pixman renderer, no XWayland, our own virtual pointer, grim's screenshots,
and sway's log read for the protocol mistakes it forgives."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from virtual_pointer import VirtualPointer  # noqa: E402

CEILING = 120  # seconds any one wait may take: a busy machine only makes it slower
passed = failed = 0
_counting = threading.Lock()  # checks may come from several compositors at once


def check(ok, what):
    global passed, failed
    with _counting:
        if ok:
            passed += 1
            print(f'ok   {what}', flush=True)
        else:
            failed += 1
            print(f'FAIL {what}', flush=True)
    return ok


def wait(condition, what):
    end = time.monotonic() + CEILING
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise RuntimeError(f'gave up waiting for {what}')


class Sway:
    """A headless sway, run as an unprivileged user when we are root."""

    def __init__(self, scale, refresh=None):
        self.dir = tempfile.mkdtemp(prefix='chain-sway-')
        os.chmod(self.dir, 0o755)
        runtime, home = os.path.join(self.dir, 'run'), os.path.join(self.dir, 'home')
        for d in (runtime, home):
            os.mkdir(d, 0o700)
        config = os.path.join(self.dir, 'config')
        with open(config, 'w') as f:
            mode = f'--custom 1280x1024@{refresh}Hz' if refresh else '1280x1024'
            f.write(f'output HEADLESS-1 resolution {mode} position 0,0 scale {scale}\n'
                    'xwayland disable\ndefault_border none\ndefault_floating_border none\n'
                    'focus_follows_mouse no\nseat seat0 hide_cursor 100\n'
                    'for_window [title="Form1"] floating enable\n')
        os.chmod(config, 0o644)
        # -d: sway then logs the protocol mistakes it forgives ("Client bug:
        # ..."), which stricter compositors end a client for.
        command = ['sway', '-d', '-c', config]
        if os.geteuid() == 0:  # sway refuses root
            for d in (runtime, home):
                os.chown(d, 65534, 65534)
            command = ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups'] + command
        env = {'PATH': os.environ.get('PATH', '/usr/bin:/bin'), 'HOME': home,
               'XDG_RUNTIME_DIR': runtime, 'WLR_BACKENDS': 'headless',
               'WLR_LIBINPUT_NO_DEVICES': '1', 'WLR_RENDERER': 'pixman'}
        self.log = os.path.join(self.dir, 'sway.log')
        with open(self.log, 'w') as log:
            self.process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=log)
        socket = os.path.join(runtime, 'wayland-1')
        wait(lambda: os.path.exists(socket) and any(n.startswith('sway-ipc.') for n in os.listdir(runtime)),
             'sway to start')
        ipc = next(n for n in os.listdir(runtime) if n.startswith('sway-ipc.'))
        self.env = {**os.environ, 'XDG_RUNTIME_DIR': runtime, 'WAYLAND_DISPLAY': 'wayland-1',
                    'SWAYSOCK': os.path.join(runtime, ipc)}
        self.env.pop('DISPLAY', None)  # only a native client can appear
        self.env.pop('SDL_VIDEODRIVER', None)
        self.pointer = VirtualPointer(socket)
        self.scale = float(scale)

    def msg(self, *args):
        out = subprocess.run(['swaymsg', *args], env=self.env, capture_output=True, text=True)
        return json.loads(out.stdout) if out.stdout.strip() else None

    def form(self):
        def walk(node):
            if node.get('name') == 'Form1':
                return node
            for child in node.get('nodes', []) + node.get('floating_nodes', []):
                found = walk(child)
                if found:
                    return found
        return walk(self.msg('-t', 'get_tree'))

    def screenshot(self):
        """The output in device pixels: (width, height, bytes RGB)."""
        data = subprocess.run(['grim', '-t', 'ppm', '-o', 'HEADLESS-1', '-'], env=self.env,
                              capture_output=True, check=True).stdout
        fields, offset = [], 0
        while len(fields) < 4:  # P6 width height maxval, then one byte of white space
            end = data.index(b'\n', offset) if len(fields) == 3 else min(
                i for i in (data.find(b' ', offset), data.find(b'\n', offset)) if i >= 0)
            if end > offset:
                fields.append(data[offset:end])
            offset = end + 1
        return int(fields[1]), int(fields[2]), data[offset:]

    def close_form(self, program):
        """Closes the window as the compositor's close does; the status."""
        self.msg('[title="Form1"]', 'kill')
        return program.wait(timeout=CEILING)

    def client_bugs(self):
        with open(self.log, errors='replace') as f:
            return [line.strip() for line in f if 'Client bug' in line]

    def close(self):
        bugs = self.client_bugs()
        check(not bugs, f'no protocol mistake in sway\'s log ({len(bugs)}: {bugs[:2]})')
        self.process.terminate()
        self.process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)
