# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

# What the modules share: the options of the line to talk at, the settings as pinwright-cli names them,
# and one run of pinwright-cli --json. The printer work itself is pinwright-cli's; nothing of it is here.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

# The settings by pinwright-cli's keys and values, in its order (pinwright-cli --help lists the same), so
# that a playbook, the CLI and its JSON name them alike. auto-line-feed is a boolean, as in the CLI's JSON;
# on its command line it is on or off.
CODE_PAGES = [
    'PC437', 'Katakana', 'PC850', 'PC860', 'PC863', 'PC865', 'WPC1252', 'PC866', 'PC852', 'PC858', 'PC864',
    'Thai42', 'WPC1253', 'WPC1251', 'PC737', 'Thai16', 'WPC1255', 'PC855', 'PC857',
]
SETTING_KEYS = ['baud-rate', 'data-bits', 'parity', 'flow-control', 'auto-cutter', 'auto-line-feed',
                'code-page']
SETTINGS_SPEC = {
    'baud-rate': dict(type='int', choices=[9600, 19200, 38400, 57600, 115200]),
    'data-bits': dict(type='int', choices=[7, 8]),
    'parity': dict(type='str', choices=['none', 'odd', 'even']),
    'flow-control': dict(type='str', choices=['dtr-dsr', 'xon-xoff']),
    'auto-cutter': dict(type='str', choices=['partial', 'full']),
    'auto-line-feed': dict(type='bool'),
    'code-page': dict(type='str', choices=CODE_PAGES),
}

# The line to talk at, as the CLI's --baud, --data-bits, --parity and --stop-bits.
LINE_SPEC = dict(
    cli=dict(type='path'),
    baud=dict(type='int', choices=[9600, 19200, 38400, 57600, 115200]),
    data_bits=dict(type='int', choices=[7, 8]),
    parity=dict(type='str', choices=['none', 'odd', 'even']),
    stop_bits=dict(type='str', choices=['1', '1.5', '2']),
)


def setting_argument(key, value):
    """KEY=VALUE as pinwright-cli set takes it."""
    if isinstance(value, bool):
        value = 'on' if value else 'off'
    return '{0}={1}'.format(key, value)


def line_arguments(params):
    args = []
    for option, flag in (('baud', '--baud'), ('data_bits', '--data-bits'), ('parity', '--parity'),
                         ('stop_bits', '--stop-bits')):
        if params.get(option) is not None:
            args += [flag, str(params[option])]
    return args


def cli_path(module):
    return module.params.get('cli') or module.get_bin_path('pinwright-cli', required=True)


def identity(result):
    return dict(maker=result.get('maker'), model=result.get('model'), firmware=result.get('firmware'))


def run_cli(module, arguments):
    """Runs pinwright-cli --json with the line options and `arguments`; returns (rc, results, stderr), the
    results as a list of one JSON object per port, empty when it printed none (a usage error)."""
    command = [cli_path(module), '--json'] + line_arguments(module.params) + arguments
    rc, out, err = module.run_command(command)
    results = []
    if out.strip():
        try:
            parsed = json.loads(out)
        except ValueError:
            module.fail_json(msg='pinwright-cli printed no JSON: {0}'.format(out.strip()[:200]), rc=rc,
                             stderr=err, cmd=command)
        results = parsed if isinstance(parsed, list) else [parsed]
    return rc, results, err


def messages_of(port, stderr):
    """The lines pinwright-cli wrote about `port` on standard error, without the port's name."""
    prefix = port + ': '
    return [line[len(prefix):] for line in stderr.splitlines() if line.startswith(prefix)]


def failure_text(port, rc, result, stderr):
    """Which port failed, what pinwright-cli said and its exit status."""
    text = result.get('error') if result else None
    if not text:
        text = ' '.join(line for line in stderr.splitlines() if line.strip()) or 'no message'
    return 'port {0}: {1} (pinwright-cli exit {2})'.format(port, text, rc)
