"""A virtual pointer on a wlroots compositor, spoken in the Wayland wire
protocol directly (no library): with one, the seat has a pointer, and
`swaymsg seat seat0 cursor set X Y` reaches the window under it. It lives as
long as its connection.

    pointer = VirtualPointer(socket_path)   # then keep the object alive
"""
import socket
import struct


class VirtualPointer:
    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.next_id = 2  # 1 is wl_display
        registry = self._new()
        self._send(1, 1, struct.pack('<I', registry))  # wl_display.get_registry
        globals_ = self._roundtrip(registry)
        seat = self._bind(registry, globals_, 'wl_seat', 1)
        manager = self._bind(registry, globals_, 'zwlr_virtual_pointer_manager_v1', 1)
        # zwlr_virtual_pointer_manager_v1.create_virtual_pointer(seat, id)
        self._send(manager, 0, struct.pack('<II', seat, self._new()))
        self._roundtrip(None)

    def _new(self):
        self.next_id += 1
        return self.next_id - 1

    def _send(self, obj, opcode, payload):
        self.sock.sendall(struct.pack('<II', obj, (8 + len(payload)) << 16 | opcode) + payload)

    @staticmethod
    def _string(text):
        data = text.encode() + b'\0'
        return struct.pack('<I', len(data)) + data + b'\0' * (-len(data) % 4)

    def _bind(self, registry, globals_, interface, version):
        if interface not in globals_:
            raise RuntimeError(f'the compositor offers no {interface}')
        new = self._new()
        self._send(registry, 0, struct.pack('<I', globals_[interface]) + self._string(interface)
                   + struct.pack('<II', version, new))
        return new

    # Sends wl_display.sync and reads events until its callback is done;
    # returns the registry's globals seen meanwhile, name by interface.
    def _roundtrip(self, registry):
        callback = self._new()
        self._send(1, 0, struct.pack('<I', callback))
        found, data = {}, b''
        while True:
            while len(data) < 8 or len(data) < (struct.unpack_from('<I', data, 4)[0] >> 16):
                chunk = self.sock.recv(65536)
                if not chunk:
                    raise RuntimeError('the compositor closed the connection')
                data += chunk
            obj, word = struct.unpack_from('<II', data)
            size, opcode = word >> 16, word & 0xFFFF
            body, data = data[8:size], data[size:]
            if obj == registry and opcode == 0:  # wl_registry.global
                name, length = struct.unpack_from('<II', body)
                found[body[8:8 + length - 1].decode()] = name
            elif obj == 1 and opcode == 0:  # wl_display.error
                raise RuntimeError(f'protocol error: {body!r}')
            elif obj == callback:
                return found
