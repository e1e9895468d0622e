"""A headless KWin (KDE's compositor) for tests: its virtual backend at any
scale, fractional ones too (it offers wp_fractional_scale_v1), in a D-Bus
session of its own; pictures from its ScreenShot2 API at the output's own
resolution, and a window closed by a KWin script, as its close button does.
Its installed program carries a file capability that a container may refuse
to run, so a plain copy runs."""
import os
import shutil

from gi.repository import Gio, GLib

from dbus_desktop import DbusDesktop
from judge import from_bgrx
from sway import check, CEILING

KWIN = 'org.kde.KWin'
CLOSE = "for (const w of workspace.clientList()) if (w.caption === 'Form1') w.closeWindow();\n"


class Kwin(DbusDesktop):
    def __init__(self, scale):
        self.scale = scale
        super().__init__(
            'kwin', f'exec ./kwin_wayland --virtual --width 1280 --height 800 --scale {scale} '
            '--socket wayland-1 --no-lockscreen --no-global-shortcuts --no-kactivities',
            {'KWIN_SCREENSHOT_NO_PERMISSION_CHECKS': '1', 'QT_QPA_PLATFORM': 'offscreen'}, (KWIN,),
            prepare=lambda folder: shutil.copy('/usr/bin/kwin_wayland', folder))
        self.started = os.path.getsize(self.log)

    def screenshot(self):
        """The output at its own resolution: (width, height, bytes RGB)."""
        read, write = os.pipe()
        fds = Gio.UnixFDList.new()
        fds.append(write)
        os.close(write)
        meta = self.call(KWIN, '/org/kde/KWin/ScreenShot2', KWIN + '.ScreenShot2', 'CaptureActiveScreen',
                         GLib.Variant('(a{sv}h)', ({'native-resolution': GLib.Variant('b', True)}, 0)), fds)[0]
        del fds  # its copy of the pipe's end
        width, height, stride = meta['width'], meta['height'], meta['stride']
        data = bytearray()
        while len(data) < stride * height:
            chunk = os.read(read, 1 << 20)
            if not chunk:
                raise RuntimeError(f'a KWin screenshot of {len(data)} bytes, not {stride} x {height}')
            data += chunk
        os.close(read)
        return from_bgrx(data, width, height, stride)  # ARGB words, little-endian

    def close_form(self, program):
        """Closes "Form1" as its close button does; the status."""
        script = os.path.join(self.dir, 'close.js')
        with open(script, 'w') as f:
            f.write(CLOSE)
        number = self.call(KWIN, '/Scripting', 'org.kde.kwin.Scripting', 'loadScript',
                           GLib.Variant('(ss)', (script, 'chain-close')))[0]
        self.call(KWIN, f'/{number}', 'org.kde.kwin.Script', 'run')
        return program.wait(timeout=CEILING)

    def close(self):
        with open(self.log, errors='replace') as f:
            f.seek(self.started)
            said = [line.strip() for line in f if 'chain' in line.lower() or 'wl_' in line]
        check(not said, f'nothing about chain in KWin\'s log ({len(said)}: {said[:2]})')
        self.end()
