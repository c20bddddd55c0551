#!/usr/bin/env python3
"""The fleet benchmark: what a collecting server sees of a fleet of relays when it
is down for a while and comes back.

A few hundred relays (each a velgor process in its own working directory, fed by
one fake receiver here at a low rate) connect to one `velgor-sink --many`. The sink
is stopped for --down seconds and started again on the same port. Measured, for
each relay program given (the older one first):

  - the attempts per second the server's address got while it was down: nothing
    listens then, so the kernel refuses each connect. They are counted from the
    network namespace's TCP counters (/proc/net/snmp, Tcp ActiveOpens, sampled
    each second), less the receiver's connections made again meanwhile (none when
    all is well). Run it in a network namespace of its own (scripts/bench-fleet
    does) so that nothing else on the machine adds to them;
  - the peak connections per second when it came back: the most connections the
    sink accepted in any one-second window, each timed as the sink reports it;
  - the time from the sink's return until every relay's handshake had arrived.

Prints a markdown table of the figures as measured and one scaled to 10,000
stations (attempts and connections per second scale with the fleet; the
recovery time does not).
"""
import argparse
import os
import re
import resource
import selectors
import signal
import socket
import subprocess
import sys
import threading
import time

LINE = b"*8D4840D6202CC371C32CE0576098;\r\n"
SCALE_TO = 10_000
START_SPREAD = 3.0  # seconds over which the relays are started (two reconnect cycles)
TAIL_SECONDS = 15  # the outage's last seconds: what a longer outage settles to


def now():
    return time.monotonic()


class FakeReceiver(threading.Thread):
    """One text line every `interval` seconds to every client, on 127.0.0.1."""

    def __init__(self, interval):
        super().__init__(daemon=True)
        self.interval = interval
        self.listener = socket.create_server(("127.0.0.1", 0), backlog=4096)
        self.listener.setblocking(False)
        self.port = self.listener.getsockname()[1]
        self.clients = set()
        self.accepted = 0
        self.stopping = False

    def run(self):
        selector = selectors.DefaultSelector()
        selector.register(self.listener, selectors.EVENT_READ)
        due = now()
        while not self.stopping:
            for key, _ in selector.select(max(0.0, due - now())):
                if key.fileobj is self.listener:
                    try:
                        client, _ = self.listener.accept()
                    except BlockingIOError:
                        continue
                    client.setblocking(False)
                    self.clients.add(client)
                    self.accepted += 1
                    selector.register(client, selectors.EVENT_READ)
                else:
                    try:
                        gone = not key.fileobj.recv(4096)
                    except OSError:
                        gone = True
                    if gone:
                        self.drop(selector, key.fileobj)
            if now() >= due:
                due += self.interval
                for client in list(self.clients):
                    try:
                        client.send(LINE)
                    except OSError:
                        self.drop(selector, client)

    def drop(self, selector, client):
        selector.unregister(client)
        self.clients.discard(client)
        client.close()


class Sink:
    """velgor-sink --many --count, its output read and timed line by line."""

    def __init__(self, program, port):
        self.accepts = []
        self.handshakes = {}  # station name -> time its handshake arrived
        self.listening_at = None
        self.port = None
        self.changed = threading.Condition()
        self.process = subprocess.Popen(
            [program, "--many", "--count", "--port", str(port)],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()
        if not self.wait(lambda: self.listening_at is not None, 10):
            raise SystemExit(f"fleet: velgor-sink did not start on port {port}")

    def read(self):
        for raw in self.process.stdout:
            at = now()
            text = raw.decode("utf-8", "replace").rstrip("\n")
            with self.changed:
                if text.startswith("connection ") and " from " in text:
                    self.accepts.append(at)
                elif text.startswith("name: "):
                    self.handshakes.setdefault(text[6:], at)
                elif text.startswith("listening on "):
                    self.port = int(text.rsplit(":", 1)[1])
                    self.listening_at = at
                self.changed.notify_all()

    def wait(self, condition, timeout):
        with self.changed:
            return self.changed.wait_for(condition, timeout)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.reader.join(5)


def tcp_counters():
    with open("/proc/net/snmp") as f:
        rows = [line.split() for line in f if line.startswith("Tcp:")]
    return dict(zip(rows[0][1:], map(int, rows[1][1:])))


def memory_kib(pid):
    """VmRSS and Pss of a process, in KiB."""
    with open(f"/proc/{pid}/status") as f:
        rss = int(re.search(r"^VmRSS:\s+(\d+)", f.read(), re.M).group(1))
    with open(f"/proc/{pid}/smaps_rollup") as f:
        pss = int(re.search(r"^Pss:\s+(\d+)", f.read(), re.M).group(1))
    return rss, pss


def peak_per_second(times):
    """The most events in any window of one second."""
    times = sorted(times)
    best, first = 0, 0
    for last, at in enumerate(times):
        while at - times[first] >= 1.0:
            first += 1
        best = max(best, last - first + 1)
    return best


def start_relays(program, work, count, receiver_port, sink_port, running):
    """Starts `count` relays, each in its own directory, appending them to `running`."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    runtime = os.path.join(work, "runtime")  # the fleet's own send lock
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env["XDG_RUNTIME_DIR"] = runtime
    for i in range(count):
        station = os.path.join(work, f"relay{i:04d}")
        os.makedirs(station, exist_ok=True)
        settings = {"initmkp1.ini": f"{receiver_port}\n127.0.0.1\n",
                    "initmkp2.ini": f"{sink_port}\n127.0.0.1\n",
                    "BinarComOn.ini": "0\n0\n0\n60\n",
                    "name.ini": f"fleet-{i:04d}\n"}
        for name, text in settings.items():
            with open(os.path.join(station, name), "w") as f:
                f.write(text)
        with open(os.path.join(station, "relay.log"), "wb") as log:
            running.append(subprocess.Popen([program], cwd=station, env=env,
                                            stdin=subprocess.DEVNULL, stdout=log,
                                            stderr=subprocess.STDOUT))
        # Started at different moments over START_SPREAD, as stations in the field
        # are: their reconnect cycles are out of step.
        time.sleep(START_SPREAD / count)


def stop_processes(processes):
    for p in processes:
        if p.poll() is None:
            p.send_signal(signal.SIGTERM)
    deadline = now() + 10
    for p in processes:
        try:
            p.wait(max(0.1, deadline - now()))
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
    processes.clear()


def run_cycle(label, program, args, receiver):
    n = args.relays
    work = os.path.join(args.work, label)
    print(f"fleet: {label}: {n} relays ({program})", flush=True)
    sink = Sink(args.sink, 0)
    port = sink.port
    relays = []
    try:
        start_relays(program, work, n, receiver.port, port, relays)
        if not sink.wait(lambda: len(sink.handshakes) == n, 30 + n * 0.1):
            raise SystemExit(f"fleet: {label}: only {len(sink.handshakes)} of {n} relays "
                             f"came up (logs in {work})")
        time.sleep(args.settle)
        dead = [p for p in relays if p.poll() is not None]
        if dead:
            raise SystemExit(f"fleet: {label}: {len(dead)} relays ended (logs in {work})")
        memory = [memory_kib(p.pid) for p in relays]

        sink.stop()
        down_at = now()
        receiver_accepts = receiver.accepted
        samples = [tcp_counters()["ActiveOpens"]]
        for second in range(1, args.down + 1):
            time.sleep(max(0.0, down_at + second - now()))
            samples.append(tcp_counters()["ActiveOpens"])
        remade = receiver.accepted - receiver_accepts  # receiver links made again
        sink = Sink(args.sink, port)
        up_at = sink.listening_at
        all_up = sink.wait(lambda: len(sink.handshakes) == n, args.down + 120)
        with sink.changed:
            accepts = list(sink.accepts)
            handshakes = list(sink.handshakes.values())
        if not all_up:
            raise SystemExit(f"fleet: {label}: only {len(handshakes)} of {n} relays "
                             f"came back (logs in {work})")
        per_second = [b - a for a, b in zip(samples, samples[1:])]
        tail = min(TAIL_SECONDS, args.down)
        return {
            "label": label,
            "relays": n,
            "down": args.down,
            "attempts": samples[-1] - samples[0] - remade,
            "remade": remade,
            "attempts_per_s": (samples[-1] - samples[0] - remade) / args.down,
            "tail_per_s": (samples[-1] - samples[-1 - tail]) / tail,
            "peak_attempts_per_s": max(per_second),
            "peak_connections_per_s": peak_per_second(accepts),
            "connections": len(accepts),
            "half_up_s": sorted(handshakes)[n // 2] - up_at,
            "all_up_s": max(handshakes) - up_at,
            "rss_kib": sum(m[0] for m in memory) / n,
            "pss_kib": sum(m[1] for m in memory) / n,
        }
    finally:
        stop_processes(relays)
        if sink.process.poll() is None:
            sink.stop()


def report(results, args, shared_namespace, seconds):
    factor = SCALE_TO / args.relays
    out = [f"Fleet of {args.relays} relays, server down {args.down} s, "
           f"one receiver line per {args.interval:g} s per relay; run took {seconds:.0f} s.", ""]
    if shared_namespace:
        out += ["(Run in the machine's own network namespace: the attempt counts include "
                "every other connection made meanwhile.)", ""]
    out += ["| Cycle | Attempts/s while down (mean) | Last 15 s of the outage | Busiest second "
            "| Peak connections/s on return | Half up after | All up after "
            "| RSS per relay | PSS per relay |",
            "|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for r in results:
        out.append(f"| {r['label']} | {r['attempts_per_s']:.1f} | {r['tail_per_s']:.1f} "
                   f"| {r['peak_attempts_per_s']} | {r['peak_connections_per_s']} "
                   f"| {r['half_up_s']:.1f} s | {r['all_up_s']:.1f} s "
                   f"| {r['rss_kib'] / 1024:.1f} MiB | {r['pss_kib'] / 1024:.1f} MiB |")
    out += ["", f"Scaled to {SCALE_TO:,} stations (x{factor:.1f}; the times do not scale):", "",
            "| Cycle | Attempts/s while down (mean) | Last 15 s of the outage "
            "| Peak connections/s on return | All up after |",
            "|---|---:|---:|---:|---:|"]
    for r in results:
        out.append(f"| {r['label']} | {r['attempts_per_s'] * factor:,.0f} "
                   f"| {r['tail_per_s'] * factor:,.0f} "
                   f"| {r['peak_connections_per_s'] * factor:,.0f} | {r['all_up_s']:.1f} s |")
    out += [""]
    for r in results:
        out.append(f"{r['label']}: {r['attempts']} attempts refused in {r['down']} s, "
                   f"{r['connections']} connections accepted on return"
                   + (f", {r['remade']} receiver links made again" if r["remade"] else ""))
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--relay", required=True, help="the relay program to measure")
    parser.add_argument("--baseline", help="an older relay program, measured first")
    parser.add_argument("--sink", required=True, help="velgor-sink")
    parser.add_argument("--relays", type=int, default=300)
    parser.add_argument("--down", type=int, default=60, help="seconds the server is down")
    parser.add_argument("--interval", type=float, default=1.0,
                        help="seconds between the receiver's lines")
    parser.add_argument("--settle", type=float, default=5.0,
                        help="seconds of traffic before the server is stopped")
    parser.add_argument("--work", required=True, help="scratch directory")
    parser.add_argument("--out", help="also write the report here")
    args = parser.parse_args()
    if args.relays < 2 or args.down < 1:
        parser.error("--relays must be at least 2 and --down at least 1")

    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    if hard < 2 * args.relays + 64:
        raise SystemExit(f"fleet: {args.relays} relays need more descriptors than {hard}")
    # A network namespace made for the run has its loopback and nothing else.
    with open("/proc/net/dev") as f:
        shared_namespace = any(line.split(":")[0].strip() != "lo" for line in f if ":" in line)
    # SIGTERM (and SIGHUP) end the run as Ctrl-C does: through the clean-up below.
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda *_: sys.exit(130))

    started = now()
    receiver = FakeReceiver(args.interval)
    receiver.start()
    results = []
    cycles = ([("baseline", args.baseline)] if args.baseline else []) + [("new", args.relay)]
    for label, program in cycles:
        results.append(run_cycle(label, os.path.abspath(program), args, receiver))
    receiver.stopping = True
    text = report(results, args, shared_namespace, now() - started)
    print(text, end="")
    if args.out:
        with open(args.out, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
