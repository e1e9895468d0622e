#!/usr/bin/python3
"""The native Wayland backend against its floor, on a headless sway, in one
run: peak resident memory, resident memory once at rest, and launch to the
first frame (the window mapped, as sway's IPC reports it), for chain and for
a bare wl_shm window drawing 41 circles (bare_wayland); ROUNDS rounds each
(default 10), alternating.

    bench/wayland.py [CHAIN BARE]    (default: the release build's)
"""
import json
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'support'))
from sway import Sway, wait  # noqa: E402
from judge import status, still  # noqa: E402

if len(sys.argv) not in (1, 3):
    sys.exit('usage: bench/wayland.py [CHAIN BARE]')
root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
chain, bare = sys.argv[1:3] if len(sys.argv) == 3 else (
    os.path.join(root, 'build/release/app/chain'), os.path.join(root, 'build/release/bench/bare_wayland'))
for program in (chain, bare):
    if not os.access(program, os.X_OK):
        sys.exit(f'bench/wayland.py: no program at {program} (build the release first: tools/dev bench)')
rounds = int(os.environ.get('ROUNDS', 10))


sway = Sway(1)
events = subprocess.Popen(['swaymsg', '-t', 'subscribe', '-m', '["window"]'], env=sway.env,
                          stdout=subprocess.PIPE, text=True)
time.sleep(0.5)
results = {chain: [], bare: []}
for i in range(rounds):
    for program in ((chain, bare) if i % 2 == 0 else (bare, chain)):
        started = time.monotonic()
        process = subprocess.Popen([program], env=sway.env)
        while True:  # the window's "new" event: its first frame is on the screen
            event = json.loads(events.stdout.readline())
            if event.get('change') == 'new' and event['container'].get('pid') == process.pid:
                break
        launch = (time.monotonic() - started) * 1000
        time.sleep(0.5)
        peak = status(process.pid, 'VmHWM')
        wait(lambda: still(process.pid, 1), 'the program to come to rest')
        resting = status(process.pid, 'VmRSS')
        sway.msg(f'[pid={process.pid}]', 'kill')
        process.wait(timeout=60)
        results[program].append((launch, peak, resting))
events.terminate()
sway.close()
for what, index, unit, goal in (('peak resident memory', 1, 'KiB', None), ('resident memory at rest', 2, 'KiB', 1.3),
                                ('launch to the first frame', 0, 'ms', 1.2)):
    c = statistics.median(r[index] for r in results[chain])
    b = statistics.median(r[index] for r in results[bare])
    print(f'{what}: chain {c:.1f} {unit}, bare wl_shm window {b:.1f} {unit}: {c / b:.2f} x' +
          (f' (goal <= {goal} x)' if goal else ''))
