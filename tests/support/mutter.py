"""A headless mutter (GNOME's compositor) for tests: a D-Bus session of its
own with pipewire, one virtual monitor at a given scale, its RemoteDesktop
API for a pointer, a finger and keys, and its ScreenCast API for pictures
of what it shows (GStreamer's pipewiresrc, read in this process). It logs the protocol
mistakes it forgives as "Bug in client".

    mutter = Mutter(2)          # a 1280 x 800 desktop at scale 2
    mutter.touch_down(0, x, y)  # desktop pixels, as the screenshots count them
"""
import os
import time

import gi

gi.require_version('Gst', '1.0')
gi.require_version('GstApp', '1.0')
from gi.repository import GLib, Gst, GstApp  # noqa: E402,F401

from dbus_desktop import DbusDesktop  # noqa: E402
from judge import from_bgrx  # noqa: E402
from sway import CEILING, check, wait  # noqa: E402

WIDTH, HEIGHT = 1280, 800  # the desktop, in logical pixels
RD, SC = 'org.gnome.Mutter.RemoteDesktop', 'org.gnome.Mutter.ScreenCast'
MONITORS = """<monitors version="2"><configuration><logicalmonitor>
<x>0</x><y>0</y><scale>{scale}</scale><primary>yes</primary><monitor>
<monitorspec><connector>Meta-0</connector><vendor>MetaVendor</vendor>
<product>MetaVirtualMonitor</product><serial>0x00</serial></monitorspec>
<mode><width>{width}</width><height>{height}</height><rate>60</rate></mode>
</monitor></logicalmonitor></configuration></monitors>
"""
SESSION = """cat > "$XDG_CONFIG_HOME/monitors.xml" <<'END'
{monitors}END
pipewire >pipewire.log 2>&1 &
# Mutter casts through it, and tries it once, as it starts: wait until it
# answers, not only until its socket is there. Its session manager, which
# links the cast's stream, gives up at once without it: started only then,
# and waited for too.
until pw-cli info 0 >/dev/null 2>&1; do sleep 0.05; done
wireplumber >wireplumber.log 2>&1 &
until pw-cli ls Client 2>/dev/null | grep -q 'application.name = "WirePlumber"'; do sleep 0.05; done
exec mutter --headless --wayland --no-x11 --virtual-monitor {width}x{height} --wayland-display wayland-1
"""


class NoCast(RuntimeError):
    """The screen cast sent no frame."""


class Mutter(DbusDesktop):
    def __init__(self, scale):
        self.scale = scale
        self.width, self.height = int(WIDTH * scale), int(HEIGHT * scale)
        super().__init__('mutter', SESSION.format(
            width=self.width, height=self.height,
            monitors=MONITORS.format(scale=scale, width=self.width, height=self.height)),
                         {'GSETTINGS_BACKEND': 'memory'}, (RD, SC))
        if self._pipewire_lost():
            self.end()
            raise NoCast('mutter could not reach its PipeWire')
        try:
            self._open_session()
        except GLib.Error as e:
            self.end()
            if 'pipewire' in e.message.lower():  # "Couldn't connect pipewire context"
                raise NoCast(f'mutter could not reach its PipeWire: {e.message}') from None
            raise
        # Its virtual devices come with their first events: made now, before
        # a client asks the seat what it has.
        self.pointer(WIDTH - 1, HEIGHT - 1)
        self.touch_down(0, WIDTH - 1, HEIGHT - 1)
        self.touch_up(0)

    def _pipewire_lost(self):
        """Mutter or its session manager could not reach PipeWire, so the
        cast would never send a frame: looked for as mutter starts and while
        a screenshot waits."""
        return any('Failed to connect to PipeWire' in line
                   for name in ('mutter.log', 'wireplumber.log') for line in self.tail(name, 50))

    def _remote(self, method, signature, *args):
        self.call(RD, self.session, RD + '.Session', method, GLib.Variant(signature, args))

    def _open_session(self):
        self.session = self.call(RD, '/org/gnome/Mutter/RemoteDesktop', RD, 'CreateSession')[0]
        sid = self.call(RD, self.session, 'org.freedesktop.DBus.Properties', 'Get',
                         GLib.Variant('(ss)', (RD + '.Session', 'SessionId')))[0]
        cast = self.call(SC, '/org/gnome/Mutter/ScreenCast', SC, 'CreateSession', GLib.Variant(
            '(a{sv})', ({'remote-desktop-session-id': GLib.Variant('s', sid)},)))[0]
        self.stream = self.call(SC, cast, SC + '.Session', 'RecordMonitor',
                                 GLib.Variant('(sa{sv})', ('Meta-0', {})))[0]
        nodes = []
        self.bus.signal_subscribe(SC, SC + '.Stream', 'PipeWireStreamAdded', self.stream, None, 0,
                                  lambda *signal: nodes.append(signal[5].unpack()[0]))
        self.call(RD, self.session, RD + '.Session', 'Start')
        def added():
            GLib.MainContext.default().iteration(False)
            return nodes[0] if nodes else None
        self.node = wait(added, 'mutter\'s screen cast')
        # One reader for the desktop's life, which keeps the newest frame:
        # the cast sends one each time the picture changes.
        Gst.init(None)
        os.environ['PIPEWIRE_RUNTIME_DIR'] = self.env['XDG_RUNTIME_DIR']  # where its pipewire listens
        self.cast = Gst.parse_launch(
            f'pipewiresrc path={self.node} ! video/x-raw,format={{BGRx,BGRA}} ! '
            'appsink name=frames drop=true max-buffers=1 sync=false')
        self.frames = self.cast.get_by_name('frames')
        self.frame = None
        self.cast.set_state(Gst.State.PLAYING)

    # Positions in the desktop's logical pixels.
    def pointer(self, x, y):
        self._remote('NotifyPointerMotionAbsolute', '(sdd)', self.stream, x * self.scale, y * self.scale)

    def touch_down(self, slot, x, y):
        self._remote('NotifyTouchDown', '(sudd)', self.stream, slot, x * self.scale, y * self.scale)

    def touch_motion(self, slot, x, y):
        self._remote('NotifyTouchMotion', '(sudd)', self.stream, slot, x * self.scale, y * self.scale)

    def touch_up(self, slot):
        self._remote('NotifyTouchUp', '(u)', slot)

    def keys(self, *keysyms):
        """Pressed in order, released in the reverse."""
        for keysym in keysyms:
            self._remote('NotifyKeyboardKeysym', '(ub)', keysym, True)
        for keysym in reversed(keysyms):
            self._remote('NotifyKeyboardKeysym', '(ub)', keysym, False)

    def screenshot(self):
        """The monitor in device pixels, as last shown: (width, height, bytes
        RGB)."""
        context = GLib.MainContext.default()
        asked = time.monotonic()
        def latest():
            nonlocal asked
            context.iteration(False)
            sample = self.frames.try_pull_sample(0)
            if sample:
                self.frame = sample
            elif self.frame is None and self._pipewire_lost():
                raise NoCast('mutter could not reach its PipeWire')
            if self.frame is None and time.monotonic() - asked > 15:
                # The cast sends a frame when the picture changes; one sent
                # before the reader was ready (a loaded machine) is lost, and
                # a still desktop sends no other. Connecting again asks for one.
                self.cast.set_state(Gst.State.NULL)
                self.cast.set_state(Gst.State.PLAYING)
                asked = time.monotonic()
            return self.frame is not None
        try:
            wait(latest, 'a frame of mutter\'s screen cast')
        except RuntimeError:
            tail = ' | '.join(line for name in ('mutter.log', 'pipewire.log', 'wireplumber.log')
                              for line in self.tail(name))
            raise NoCast(f'no frame of its screen cast (its logs end: {tail[-600:]})') from None
        caps = self.frame.get_caps().get_structure(0)
        width, height = caps.get_value('width'), caps.get_value('height')
        if (width, height) != (self.width, self.height):
            raise RuntimeError(f'a screen cast frame of {width} x {height}, not {self.width} x {self.height}')
        return from_bgrx(self.frame.get_buffer().extract_dup(0, width * height * 4), width, height, width * 4)

    def close_form(self, program):
        """Alt+F4, as a user closes the focused window; the status."""
        self.keys(0xFFE9, 0xFFC1)  # Alt_L, F4
        return program.wait(timeout=CEILING)

    def rescale(self, scale):
        """The monitor's scale changed, as its settings change it, for now."""
        config = 'org.gnome.Mutter.DisplayConfig'
        serial, monitors, _, _ = self.call(config, '/org/gnome/Mutter/DisplayConfig', config, 'GetCurrentState')
        mode = monitors[0][1][0][0]
        self.call(config, '/org/gnome/Mutter/DisplayConfig', config, 'ApplyMonitorsConfig', GLib.Variant(
            '(uua(iiduba(ssa{sv}))a{sv})', (serial, 1, [(0, 0, float(scale), 0, True, [('Meta-0', mode, {})])], {})))

    def close(self):
        self.cast.set_state(Gst.State.NULL)
        bugs = self.log_lines('Bug in client')
        check(not bugs, f'no protocol mistake in mutter\'s log ({len(bugs)}: {bugs[:2]})')
        self.end()
