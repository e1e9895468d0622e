"""A headless weston for tests: its headless backend with the pixman
renderer at a given scale, and weston-screenshooter's pictures (allowed by
--debug). It offers no seat, so nothing can point, touch or close: the
test ends weston itself."""
import glob
import os
import shutil
import subprocess
import tempfile

from judge import png
from sway import CEILING, check, wait


class Weston:
    def __init__(self, scale):
        self.scale = scale
        self.dir = tempfile.mkdtemp(prefix='chain-weston-')
        runtime = os.path.join(self.dir, 'run')
        os.mkdir(runtime, 0o700)
        self.env = {**os.environ, 'XDG_RUNTIME_DIR': runtime, 'HOME': self.dir, 'WAYLAND_DISPLAY': 'wayland-1'}
        for name in ('DISPLAY', 'SDL_VIDEODRIVER'):
            self.env.pop(name, None)
        self.log = os.path.join(self.dir, 'weston.log')
        self.process = subprocess.Popen(
            ['weston', '--backend=headless-backend.so', '--use-pixman', '--width=1280', '--height=800',
             f'--scale={scale}', '--socket=wayland-1', '--idle-time=0', '--debug', f'--log={self.log}'],
            cwd=self.dir, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait(lambda: os.path.exists(os.path.join(runtime, 'wayland-1')), 'weston to start')
        self.started = 0

    def mark(self):
        """From here on, the log is the program's."""
        self.started = os.path.getsize(self.log)

    def screenshot(self):
        """The output in device pixels: (width, height, bytes RGB)."""
        subprocess.run(['weston-screenshooter'], cwd=self.dir, env=self.env, check=True, timeout=CEILING)
        path = max(glob.glob(os.path.join(self.dir, 'wayland-screenshot-*.png')))
        shot = png(path)
        os.unlink(path)
        return shot

    def complaints(self):
        with open(self.log, errors='replace') as f:
            f.seek(self.started)
            return [line.strip() for line in f if any(w in line.lower() for w in ('error', 'bug', 'warn'))]

    def close(self):
        said = self.complaints()
        check(not said, f'nothing said in weston\'s log ({len(said)}: {said[:2]})')
        self.process.terminate()
        self.process.wait(timeout=CEILING)
        shutil.rmtree(self.dir, ignore_errors=True)
