# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

# What the modules share: their options, the settings by the collection's names and pinwright-cli's keys, and
# one run of pinwright-cli --json with its reply checked. The printer work itself is pinwright-cli's; nothing
# of it is here. Private to the collection: its names may change in any release.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os

# The settings in pinwright-cli's order (pinwright-cli --help lists the same). An option is the CLI's key with
# '_' for '-' (code_page is code-page); auto_line_feed is a boolean, as in the CLI's JSON, on or off on its
# command line.
CODE_PAGES = [
    'PC437', 'Katakana', 'PC850', 'PC860', 'PC863', 'PC865', 'WPC1252', 'PC866', 'PC852', 'PC858', 'PC864',
    'Thai42', 'WPC1253', 'WPC1251', 'PC737', 'Thai16', 'WPC1255', 'PC855', 'PC857',
]
RATES = [9600, 19200, 38400, 57600, 115200]
SETTINGS = ['baud_rate', 'data_bits', 'parity', 'flow_control', 'auto_cutter', 'auto_line_feed', 'code_page']
SETTINGS_SPEC = dict(
    baud_rate=dict(type='int', choices=RATES),
    data_bits=dict(type='int', choices=[7, 8]),
    parity=dict(type='str', choices=['none', 'odd', 'even']),
    flow_control=dict(type='str', choices=['dtr-dsr', 'xon-xoff']),
    auto_cutter=dict(type='str', choices=['partial', 'full']),
    auto_line_feed=dict(type='bool'),
    code_page=dict(type='str', choices=CODE_PAGES),
)

# The line to talk at, as the CLI's --baud, --data-bits, --parity and --stop-bits. baud is text: auto or a
# rate (a rate written as a number is taken too).
LINE_SPEC = dict(
    baud=dict(type='str', default='auto', choices=['auto'] + [str(r) for r in RATES]),
    data_bits=dict(type='int', choices=[7, 8]),
    parity=dict(type='str', choices=['none', 'odd', 'even']),
    stop_bits=dict(type='str', choices=['1', '1.5', '2']),
)
LINE_FLAGS = (('baud', '--baud'), ('data_bits', '--data-bits'), ('parity', '--parity'),
              ('stop_bits', '--stop-bits'))

# The CLI's --timeout.
TIMEOUT_RANGE = (1, 86400)

CLI_SPEC = dict(cli=dict(type='path'))
PRINTER_SPEC = dict(
    cli=dict(type='path'),
    line=dict(type='dict', options=LINE_SPEC, apply_defaults=True),
    timeout=dict(type='int'),
)

# How much of the CLI's output a failure shows.
SHOWN = 400


def text(value, limit=SHOWN):
    """Text from outside (the CLI's output, a printer's words) made safe to return: bytes that were not UTF-8
    (kept by run_command as lone surrogates) become U+FFFD, and it is cut at `limit` characters."""
    if not isinstance(value, str):
        value = str(value)
    value = value.encode('utf-8', 'surrogateescape').decode('utf-8', 'replace')
    return value if len(value) <= limit else value[:limit] + '...'


def option_name(key):
    """The collection's name for one of the CLI's keys: code-page is code_page."""
    return key.replace('-', '_') if isinstance(key, str) else key


def cli_key(option):
    return option.replace('_', '-')


def setting_argument(option, value):
    """KEY=VALUE as pinwright-cli set takes it."""
    if isinstance(value, bool):
        value = 'on' if value else 'off'
    return '{0}={1}'.format(cli_key(option), value)


def renamed(value):
    """A dict of the CLI's JSON with the collection's names for its keys ({} when it is no dict)."""
    if not isinstance(value, dict):
        return {}
    return dict((option_name(k), v) for k, v in value.items())


def renamed_list(value):
    """A list of the CLI's setting keys by the collection's names ([] when it is no list)."""
    if not isinstance(value, list):
        return []
    return [option_name(k) for k in value]


def line_arguments(params):
    line = params.get('line') or {}
    args = []
    for option, flag in LINE_FLAGS:
        if line.get(option) is not None:
            args += [flag, str(line[option])]
    return args


def check_printer_options(module):
    """Refuses a timeout outside the CLI's range and warns of line options --baud auto does not use."""
    timeout = module.params.get('timeout')
    if timeout is not None and not TIMEOUT_RANGE[0] <= timeout <= TIMEOUT_RANGE[1]:
        module.fail_json(msg='timeout: {0} is not from {1} to {2} seconds'.format(timeout, *TIMEOUT_RANGE), rc=1)
    line = module.params.get('line') or {}
    if line.get('baud') == 'auto':
        unused = [o for o in ('data_bits', 'parity', 'stop_bits') if line.get(o) is not None]
        if unused:
            module.warn('line: {0} not used with baud auto, which finds the whole line the printer answers at; '
                        'give line.baud to talk at a line of your own'.format(', '.join(unused)))


def cli_path(module):
    given = module.params.get('cli')
    if given:
        if not (os.path.isfile(given) and os.access(given, os.X_OK)):
            module.fail_json(msg='cli: {0} is not an executable file'.format(given), rc=1)
        return given
    return module.get_bin_path('pinwright-cli', required=True)


def run_cli(module, arguments, printer=True, empty=None):
    """Runs pinwright-cli --json (with the line options and --timeout for a printer command) and `arguments`;
    returns (rc, results, stderr, command). results is a list of one dict per port, empty when the CLI printed
    nothing (a usage error). Anything else fails the task cleanly, with the CLI's standard error and the
    results that are always returned (`empty`)."""
    empty = empty or {}
    command = [cli_path(module), '--json']
    if printer:
        command += line_arguments(module.params)
        if module.params.get('timeout') is not None:
            command += ['--timeout', str(module.params['timeout'])]
    command += arguments
    rc, out, err = module.run_command(command)
    if rc is None or rc < 0:
        module.fail_json(msg='pinwright-cli was stopped by signal {0}'.format(-rc if rc else '?'), rc=rc,
                         stderr=text(err), cmd=command, **empty)
    if not out.strip():
        return rc, [], err, command
    try:
        parsed = json.loads(out)
    except ValueError:
        parsed = None
    results = parsed if isinstance(parsed, list) else [parsed]
    if not all(isinstance(r, dict) and isinstance(r.get('port', ''), str) for r in results):
        module.fail_json(msg='pinwright-cli printed no JSON result: {0}'.format(text(out.strip(), 200)),
                         rc=rc, stderr=text(err), cmd=command, **empty)
    return rc, results, err, command


def exit_of(result, rc):
    """The port's exit status: the result's own when it gives one, else the run's."""
    code = result.get('exit')
    return code if isinstance(code, int) and not isinstance(code, bool) else (rc if 'error' in result else 0)


def messages_of(port, stderr):
    """The lines pinwright-cli wrote about `port` on standard error, without the port's name."""
    prefix = port + ': '
    return [text(line[len(prefix):]) for line in stderr.splitlines() if line.startswith(prefix)]


def failure_text(port, rc, result, stderr):
    """Which port failed, what pinwright-cli said and its exit status."""
    said = result.get('error') if result else None
    if not said or not isinstance(said, str):
        said = ' '.join(line.strip() for line in stderr.splitlines() if line.strip()) or 'no message'
    return 'port {0}: {1} (pinwright-cli exit {2})'.format(port, text(said), rc)


def identity(result):
    return dict((k, text(result[k]) if isinstance(result.get(k), str) else None)
                for k in ('maker', 'model', 'firmware'))


def line_of(result):
    """The serial line the CLI talked at, by the collection's names; None on other ports."""
    return renamed(result['line']) if isinstance(result.get('line'), dict) else None


def is_network(port):
    return isinstance(port, str) and port.lower().startswith('tcp://')
