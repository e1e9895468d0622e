"""What the Wayland tests and benchmarks judge a running program by: the
pictures a compositor shows (width, height, RGB bytes, in device pixels),
and the program's own counters in /proc."""
import os
import subprocess
import tempfile
import time



def judge():
    """The one judge of pictures, which the C++ and JavaScript tests use too:
    CHAIN_JUDGE, or the release build's web-reference."""
    return os.environ.get('CHAIN_JUDGE') or os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', '..', 'build', 'release', 'tests', 'web-reference')


def pixel(shot, x, y):
    width, _, rgb = shot
    i = (y * width + x) * 3
    return rgb[i], rgb[i + 1], rgb[i + 2]


def region(shot, left, top, width, height):
    return b''.join(shot[2][((top + y) * shot[0] + left) * 3:((top + y) * shot[0] + left + width) * 3]
                    for y in range(height))


def circle(shot, x, y, scale):
    """The centre of the circle near device point (x, y), as every test judges
    it: web-reference's "circle" (tests/support/judge.hpp) over the pixels
    within 5.5 client pixels, read from the square of the shot around them."""
    r = 5.5 * scale
    left, top = max(0, int(x - r) - 1), max(0, int(y - r) - 1)
    width, height = min(shot[0], int(x + r) + 2) - left, min(shot[1], int(y + r) + 2) - top
    rgba = bytearray()
    for row in range(height):
        rgb = region(shot, left, top + row, width, 1)
        for i in range(0, len(rgb), 3):
            rgba += rgb[i:i + 3] + b'\xff'
    with tempfile.NamedTemporaryFile(suffix='.rgba') as f:
        f.write(b'RGBA %d %d\n' % (width, height) + bytes(rgba))
        f.flush()
        said = subprocess.run([judge(), 'circle', f.name, str(x - left), str(y - top), str(r)],
                              check=True, capture_output=True, text=True).stdout.split()
    cx, cy, mass = map(float, said)
    return (cx + left, cy + top) if mass else (float('nan'), float('nan'))


def on(shot, left, top, x, y, scale):
    """Whether a circle is centred on client point (x, y) of a window whose
    client area starts at device pixel (left, top): within a tenth of a
    client pixel."""
    cx, cy = circle(shot, left + x * scale, top + y * scale, scale)
    return abs(cx - left - x * scale) < 0.1 * scale and abs(cy - top - y * scale) < 0.1 * scale


def client_area(shot):
    """The device pixels of the window's background, 0xF0F0F0, as (left,
    top, right, bottom): the client area where nothing else shares that
    colour."""
    width, height, rgb = shot
    needle = b'\xf0\xf0\xf0' * 8
    rows = [y for y in range(height) if rgb.find(needle, y * width * 3, (y + 1) * width * 3) >= 0]
    if not rows:
        return None
    left = min(rgb.find(needle, y * width * 3, (y + 1) * width * 3) - y * width * 3 for y in rows)
    right = max(rgb.rfind(needle, y * width * 3, (y + 1) * width * 3) - y * width * 3 for y in rows)
    return left // 3, rows[0], right // 3 + 8, rows[-1] + 1


def from_bgrx(data, width, height, stride):
    """Pictures in 32-bit words, bytes B, G, R and one unused (or alpha), rows
    `stride` bytes apart, as (width, height, bytes RGB)."""
    rgb = bytearray(width * height * 3)
    for y in range(height):
        row = data[y * stride:y * stride + width * 4]
        for i in range(3):
            rgb[y * width * 3 + i:(y + 1) * width * 3:3] = row[2 - i::4]
    return width, height, bytes(rgb)


def ticks(pid):
    """Processor time used, in clock ticks."""
    with open(f'/proc/{pid}/stat') as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return int(fields[11]) + int(fields[12])


def switches(pid):
    """How often the program's main thread has given up the processor: once
    a frame while the chain moves (it waits for the compositor), never at
    rest (it sleeps until an event)."""
    with open(f'/proc/{pid}/task/{pid}/status') as f:
        return sum(int(line.split()[1]) for line in f if 'ctxt_switches' in line)


def still(pid, seconds=0.5):
    """No frame for `seconds`: at rest."""
    before = switches(pid)
    time.sleep(seconds)
    return switches(pid) == before


def status(pid, field):
    """A field of /proc/PID/status, in its own unit (KiB for memory)."""
    with open(f'/proc/{pid}/status') as f:
        return int(next(line.split()[1] for line in f if line.startswith(field)))



def png(path):
    """A PNG (a compositor's screenshot) as (width, height, bytes RGB),
    decoded by GStreamer."""
    import struct
    import subprocess
    with open(path, 'rb') as f:
        width, height = struct.unpack('>II', f.read(24)[16:24])
    rgb = subprocess.run(['gst-launch-1.0', '-q', 'filesrc', f'location={path}', '!', 'pngdec', '!',
                          'videoconvert', '!', 'video/x-raw,format=RGB', '!', 'fdsink', 'fd=1'],
                         capture_output=True, check=True).stdout
    if len(rgb) != width * height * 3:
        raise ValueError(f'{path}: {len(rgb)} bytes decoded for {width} x {height}')
    return width, height, rgb
