"""A compositor in a D-Bus session of its own, for tests: a folder with its
runtime, home and configuration, the session's bus to call its APIs on, its
log, and an end that takes the whole session down."""
import os
import shutil
import signal
import subprocess
import tempfile

from gi.repository import Gio, GLib

from sway import wait


class DbusDesktop:
    def __init__(self, name, script, env=None, ready=(), prepare=None):
        """Runs `script` (sh, in the folder, after `prepare` of it) in the
        session; it starts the compositor on the socket wayland-1. Ready
        once the bus names `ready` are owned."""
        self.dir = tempfile.mkdtemp(prefix=f'chain-{name}-')
        runtime, home, config = (os.path.join(self.dir, d) for d in ('run', 'home', 'config'))
        for d in (runtime, home, config):
            os.mkdir(d, 0o700)
        if prepare:
            prepare(self.dir)
        self.env = {**os.environ, 'XDG_RUNTIME_DIR': runtime, 'HOME': home, 'XDG_CONFIG_HOME': config,
                    'WAYLAND_DISPLAY': 'wayland-1', **(env or {})}
        for variable in ('DISPLAY', 'SDL_VIDEODRIVER', 'DBUS_SESSION_BUS_ADDRESS', 'PIPEWIRE_RUNTIME_DIR'):
            self.env.pop(variable, None)
        self.log = os.path.join(self.dir, f'{name}.log')
        with open(self.log, 'w') as log:
            self.process = subprocess.Popen(
                ['dbus-run-session', '--', 'sh', '-c', 'echo "$DBUS_SESSION_BUS_ADDRESS" > bus\n' + script],
                cwd=self.dir, env=self.env, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        address = os.path.join(self.dir, 'bus')
        wait(lambda: os.path.exists(os.path.join(runtime, 'wayland-1')) and os.path.getsize(address),
             f'{name} to start')
        with open(address) as f:
            self.bus = Gio.DBusConnection.new_for_address_sync(
                f.read().strip(), Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
                Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        wait(lambda: all(self.owned(n) for n in ready), f'{name}\'s D-Bus APIs')

    def call(self, dest, path, interface, method, args=None, fds=None):
        if fds is None:
            return self.bus.call_sync(dest, path, interface, method, args, None, 0, -1, None).unpack()
        return self.bus.call_with_unix_fd_list_sync(dest, path, interface, method, args, None, 0, -1,
                                                    fds, None)[0].unpack()

    def owned(self, name):
        return self.call('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                         'NameHasOwner', GLib.Variant('(s)', (name,)))[0]

    def log_lines(self, *words):
        with open(self.log, errors='replace') as f:
            return [line.strip() for line in f if any(w in line for w in words)]

    def tail(self, name, lines=6):
        """The last lines of a log in the session's folder, for a failure's
        message."""
        try:
            with open(os.path.join(self.dir, name), errors='replace') as f:
                return [line.strip() for line in f.readlines()[-lines:]]
        except OSError:
            return []

    def end(self):
        """The whole session: the bus and everything in it, which may not
        stop for a TERM."""
        os.killpg(self.process.pid, signal.SIGTERM)
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
        os.killpg(self.process.pid, signal.SIGKILL)
        self.process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)
