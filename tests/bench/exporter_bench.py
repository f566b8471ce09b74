#!/usr/bin/python3
"""pinwright_exporter's cost: a probe against pinwright-cli status on the same printer (both exchanges, medians),
and a real Prometheus scraping 256 simulated network printers every 15 s through it: the exporter's CPU and
memory over that time. Usage: exporter_bench.py BUILD_DIR [--quick]"""

import os
import re
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

build = sys.argv[1]
quick = len(sys.argv) > 2 and sys.argv[2] == '--quick'
work = tempfile.mkdtemp(prefix='pinwright-exporter-bench-')
procs = []


def start(args, **kw):
    p = subprocess.Popen(args, **kw)
    procs.append(p)
    return p


def lines(proc, count, what, seconds=20):
    out, end = [], time.monotonic() + seconds
    buf = b''
    while len(out) < count:
        ready, _, _ = select.select([proc.stdout], [], [], max(0, end - time.monotonic()))
        if not ready:
            sys.exit('exporter_bench: waited {0} s for {1}'.format(seconds, what))
        chunk = os.read(proc.stdout.fileno(), 65536)
        if not chunk:
            sys.exit('exporter_bench: {0}: the program ended'.format(what))
        buf += chunk
        *done, buf = buf.split(b'\n')
        out += [d.decode() for d in done]
    return out


def exporter(config, name):
    path = os.path.join(work, name + '.yml')
    with open(path, 'w') as f:
        f.write(config)
    log = os.path.join(work, name + '.log')
    p = start([os.path.join(build, 'pinwright_exporter'), '--config.file', path, '--web.listen-address',
               '127.0.0.1:0', '--log.level', 'info'], stderr=open(log, 'wb'))
    end = time.monotonic() + 10
    while time.monotonic() < end:
        with open(log) as f:
            m = re.search(r'address="([^"]+)"', f.read())
        if m:
            return p, m.group(1)
        time.sleep(0.02)
    sys.exit('exporter_bench: waited 10 s for pinwright_exporter to listen')


def cpu_seconds(pid):
    with open('/proc/{0}/stat'.format(pid)) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def rss_kb(pid, key='VmRSS'):
    with open('/proc/{0}/status'.format(pid)) as f:
        for line in f:
            if line.startswith(key + ':'):
                return int(line.split()[1])
    return 0


try:
    # One printer: pinwright-cli status against a probe (a new exchange each time) of the same printer.
    sim = start([os.path.join(build, 'pinwright-sim'), '--listen', '127.0.0.1:0'], stdout=subprocess.PIPE)
    target = 'tcp://' + lines(sim, 1, 'pinwright-sim to listen')[0].split(': ', 1)[1]
    ex, address = exporter('targets:\n  allow: ["{0}"]\nmin_interval: 1ms\n'.format(target[6:]), 'one')
    url = 'http://{0}/probe?target={1}'.format(address, urllib.parse.quote(target, safe=''))
    runs = 5 if quick else 20
    cli, probe = [], []
    for _ in range(runs):
        t = time.monotonic()
        subprocess.run([os.path.join(build, 'pinwright-cli'), '-p', target, 'status'], capture_output=True, timeout=30)
        cli.append((time.monotonic() - t) * 1000)
        time.sleep(0.01)
        t = time.monotonic()
        with urllib.request.urlopen(url, timeout=30) as r:
            body = r.read().decode()
        probe.append((time.monotonic() - t) * 1000)
        assert 'probe_success 1' in body and 'pinwright_probe_result_age_seconds 0\n' in body, body
        time.sleep(0.01)
    c, p = statistics.median(cli), statistics.median(probe)
    print('| pinwright-cli status, one network printer (process start included) | {0:.1f} ms |'.format(c))
    print('| pinwright_exporter /probe of the same printer (a new exchange) | {0:.1f} ms ({1:+.1f} ms) |'.format(p, p - c))
    ex.send_signal(signal.SIGTERM)
    ex.wait(timeout=10)

    # 256 printers scraped every 15 s by a real Prometheus.
    n = 256
    args = [os.path.join(build, 'pinwright-sim')]
    for _ in range(n):
        args += ['--listen', '127.0.0.1:0']
    fleet = start(args, stdout=subprocess.PIPE)
    targets = ['tcp://' + l.split(': ', 1)[1] for l in lines(fleet, n, 'pinwright-sim to name its 256 printers')]
    ex, address = exporter('targets:\n  allow: [{0}]\n'.format(', '.join('"{0}"'.format(t[6:]) for t in targets)), 'fleet')
    prom_config = os.path.join(work, 'prometheus.yml')
    with open(prom_config, 'w') as f:
        f.write('global: {{scrape_interval: 15s, scrape_timeout: 10s}}\nscrape_configs:\n'
                '  - job_name: receipt_printers\n    metrics_path: /probe\n    static_configs:\n'
                '      - targets: [{0}]\n    relabel_configs:\n'
                '      - {{source_labels: [__address__], target_label: __param_target}}\n'
                '      - {{source_labels: [__param_target], target_label: instance}}\n'
                '      - {{target_label: __address__, replacement: "{1}"}}\n'
                .format(', '.join('"{0}"'.format(t) for t in targets), address))
    import socket
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        prom_port = s.getsockname()[1]
    prom = start(['prometheus', '--config.file=' + prom_config, '--storage.tsdb.path=' + os.path.join(work, 'tsdb'),
                  '--web.listen-address=127.0.0.1:{0}'.format(prom_port)],
                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = 30 if quick else 90
    time.sleep(2)
    cpu0, t0 = cpu_seconds(ex.pid), time.monotonic()
    time.sleep(seconds)
    cpu1, t1 = cpu_seconds(ex.pid), time.monotonic()
    query = 'http://127.0.0.1:{0}/api/v1/query?query={1}'.format(prom_port, urllib.parse.quote('sum(probe_success)'))
    with urllib.request.urlopen(query, timeout=10) as r:
        import json
        result = json.loads(r.read())['data']['result']
    up = float(result[0]['value'][1]) if result else 0
    print('| 256 printers scraped every 15 s by Prometheus, {0} s | exporter CPU {1:.2f}% of one core, resident {2} kB '
          '(peak {3} kB); printers read at the last scrape: {4:.0f} |'
          .format(seconds, 100 * (cpu1 - cpu0) / (t1 - t0), rss_kb(ex.pid), rss_kb(ex.pid, 'VmHWM'), up))
    if up != n:
        sys.exit('exporter_bench: Prometheus read {0:.0f} of {1} printers'.format(up, n))
finally:
    for p in procs:
        try:
            p.send_signal(signal.SIGTERM)
            p.wait(timeout=15)
        except Exception:
            p.kill()
    shutil.rmtree(work, ignore_errors=True)
