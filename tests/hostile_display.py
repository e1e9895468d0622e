#!/usr/bin/python3
"""Display servers that misbehave while the program starts or ends: it must
end at every stage, with the status the manual page gives and never more
than one line on standard error.

- A server that accepts the connection and never answers (X11, Wayland):
  SIGINT, SIGTERM and SIGHUP end the program, status 0.
- An X server whose connection is cut after so many bytes of its answers,
  from the handshake to the running window: status 1, one line.
- Two ending signals a few milliseconds apart once the window is up, so the
  second arrives during the teardown: status 0.
- Two ending signals while the server is stopped, so that the first close
  is never answered: the second ends it, status 0.

    tests/hostile_display.py CHAIN
"""
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

CEILING = 60  # seconds any one wait may take: a busy machine only makes it slower
passed = failed = 0


def check(ok, what):
    global passed, failed
    passed, failed = passed + bool(ok), failed + (not ok)
    print(f'{"ok  " if ok else "FAIL"} {what}', flush=True)


def listen(path):
    if os.path.exists(path):
        os.unlink(path)
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(8)
    return server


def silent(server):
    """Accepts every connection, reads what comes, answers nothing."""
    held = []
    def serve():
        while True:
            try:
                conn, _ = server.accept()
            except OSError:
                return
            held.append(conn)
    threading.Thread(target=serve, daemon=True).start()
    return held


def finish(program):
    try:
        out, err = program.communicate(timeout=CEILING)
        return program.returncode, err
    except subprocess.TimeoutExpired:
        program.kill()
        program.communicate()
        return 'still running', ''


def env_for(**changes):
    env = {k: v for k, v in os.environ.items()
           if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'WAYLAND_SOCKET', 'SDL_VIDEODRIVER', 'CHAIN_BACKEND')}
    env.update(changes)
    return env


def deaf_servers(chain, workdir):
    x11dir = '/tmp/.X11-unix'
    os.makedirs(x11dir, exist_ok=True)
    number = 4000 + os.getpid() % 1000
    x_path = os.path.join(x11dir, f'X{number}')
    cases = [('X11', listen(x_path), env_for(DISPLAY=f':{number}')),
             ('Wayland', listen(os.path.join(workdir, 'deaf')),
              env_for(XDG_RUNTIME_DIR=workdir, WAYLAND_DISPLAY='deaf'))]
    for name, server, env in cases:
        held = silent(server)
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            program = subprocess.Popen([chain], env=env, stderr=subprocess.PIPE, text=True)
            end = time.monotonic() + CEILING  # until it has connected and waits
            while time.monotonic() < end and len(held) == 0:
                time.sleep(0.02)
            time.sleep(0.3)
            program.send_signal(sig)
            status, err = finish(program)
            check(status == 0 and err == '',
                  f'{name} server that never answers, {sig.name}: status {status} {err.strip()}')
            for conn in held:
                conn.close()
            held.clear()
        server.close()
    os.unlink(x_path)


def xvfb():
    read, write = os.pipe()
    # -noreset: a server that resets as its last client leaves refuses the
    # next one for a moment (xdotool's "Can't open display"), which left a
    # test signalling a program that had not yet shown its window.
    server = subprocess.Popen(['Xvfb', '-displayfd', str(write), '-screen', '0', '1280x1024x24',
                               '-nolisten', 'tcp', '-noreset'], pass_fds=(write,),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        return server, int(f.readline())


class CuttingProxy:
    """Forwards every connection to the real server's socket and cuts them
    all once the server has sent `limit` bytes in all (or when told to)."""

    def __init__(self, path, target, limit):
        self.limit, self.sent = limit, 0
        self.server = listen(path)
        threading.Thread(target=self.accept, args=(target,), daemon=True).start()

    def accept(self, target):
        while True:
            try:
                client, _ = self.server.accept()
            except OSError:
                return
            upstream = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            upstream.connect(target)
            threading.Thread(target=self.forward, args=(client, upstream), daemon=True).start()

    def forward(self, client, upstream):
        while self.sent < self.limit:
            ready, _, _ = select.select([client, upstream], [], [], 0.05)
            for s in ready:
                data = s.recv(65536)
                if not data:
                    self.limit = 0
                    break
                if s is upstream:
                    data = data[:max(0, self.limit - self.sent)]
                    self.sent += len(data)
                (client if s is upstream else upstream).sendall(data)
        client.close()
        upstream.close()

    def close(self):
        self.limit = 0
        self.server.close()


def cut_x_server(chain):
    server, display = xvfb()
    number = 5000 + os.getpid() % 1000
    path = f'/tmp/.X11-unix/X{number}'
    env = env_for(DISPLAY=f':{number}', CHAIN_VSYNC='0')
    try:
        # How much the server says until the window is up; then the cut.
        proxy = CuttingProxy(path, f'/tmp/.X11-unix/X{display}', 1 << 40)
        program = subprocess.Popen([chain], env=env, stderr=subprocess.PIPE, text=True)
        subprocess.run(['xdotool', 'search', '--sync', '--onlyvisible', '--name', '^Form1$'],
                       env=env_for(DISPLAY=f':{display}'), stdout=subprocess.DEVNULL, timeout=CEILING,
                       check=True)
        total = proxy.sent
        proxy.close()
        status, err = finish(program)
        check(status == 1 and err == 'chain: lost the connection to the X display\n',
              f'X connection cut with the window up ({total} bytes): status {status}, {err.strip()!r}')
        for part in (0.01, 0.2, 0.4, 0.6, 0.8, 0.95):
            proxy = CuttingProxy(path, f'/tmp/.X11-unix/X{display}', int(total * part))
            program = subprocess.Popen([chain], env=env, stderr=subprocess.PIPE, text=True)
            status, err = finish(program)
            proxy.close()
            check(status == 1 and err.count('\n') == 1 and err.startswith('chain: '),
                  f'X connection cut at {part:.0%} of the start-up: status {status}, {err.strip()!r}')
    finally:
        if os.path.exists(path):
            os.unlink(path)
        server.terminate()
        server.wait()


def signals_during_teardown(chain):
    server, display = xvfb()
    try:
        env = env_for(DISPLAY=f':{display}')
        for first, second in ((signal.SIGINT, signal.SIGTERM), (signal.SIGTERM, signal.SIGHUP),
                              (signal.SIGHUP, signal.SIGINT)):
            program = subprocess.Popen([chain], env=env, stderr=subprocess.PIPE, text=True)
            subprocess.run(['xdotool', 'search', '--sync', '--onlyvisible', '--name', '^Form1$'],
                           env=env, stdout=subprocess.DEVNULL, timeout=CEILING, check=True)
            program.send_signal(first)
            time.sleep(0.008)
            if program.poll() is None:
                program.send_signal(second)
            status, err = finish(program)
            check(status == 0 and err == '',
                  f'{first.name} then {second.name} 8 ms apart: status {status} {err.strip()}')
    finally:
        server.terminate()
        server.wait()


def unanswered_close(chain):
    """The server stopped while the chain swings, so that the program waits
    on it with a close request unanswered: the second ending signal ends it
    at once, status 0, rather than asking again."""
    server, display = xvfb()
    try:
        env = env_for(DISPLAY=f':{display}')
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            program = subprocess.Popen([chain], env=env, stderr=subprocess.PIPE, text=True)
            subprocess.run(['xdotool', 'search', '--sync', '--onlyvisible', '--name', '^Form1$',
                            'windowmove', '0', '0', 'mousemove', '500', '30'],
                           env=env, stdout=subprocess.DEVNULL, timeout=CEILING, check=True)
            server.send_signal(signal.SIGSTOP)
            time.sleep(0.2)  # the chain swings for seconds: its next picture waits on the server
            program.send_signal(sig)
            time.sleep(0.2)
            program.send_signal(sig)
            status, err = finish(program)
            server.send_signal(signal.SIGCONT)
            check(status == 0 and err == '', f'{sig.name} twice, the first unanswered: status {status} {err.strip()}')
    finally:
        server.send_signal(signal.SIGCONT)
        server.terminate()
        server.wait()


if __name__ == '__main__':
    chain = sys.argv[1]
    with tempfile.TemporaryDirectory() as workdir:
        deaf_servers(chain, workdir)
    cut_x_server(chain)
    signals_during_teardown(chain)
    unanswered_close(chain)
    print(f'{passed} passed, {failed} failed')
    sys.exit(1 if failed else 0)
