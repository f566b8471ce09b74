#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: printer_info
short_description: Identity, settings and status of LTX-58x receipt printers
description:
  - Reads one or more printers through C(pinwright-cli get), all at once, and returns what each says it is and
    the settings and memory switches it holds; then asks each for its status (C(pinwright-cli status)), online,
    cover, paper, errors.
  - Each port's result or error is its own entry of C(printers). A port that cannot be read does not fail the
    task (it is warned about) unless I(fail_on_error=true); a printer that needs attention (offline, cover
    open, paper out, an error) never does, and is warned about.
  - Never changes anything.
version_added: 1.0.0
author:
  - Pinwright developers (@pinwright)
extends_documentation_fragment:
  - pinwright.escpos.cli
  - pinwright.escpos.line
options:
  ports:
    description:
      - The printers, each as C(pinwright-cli --port) takes it (see M(pinwright.escpos.memory_switches)).
    type: list
    elements: str
    required: true
    aliases: [port]
  fail_on_error:
    description:
      - Fail the task when a port could not be read (C(printers) still has every port's entry).
    type: bool
    default: false
attributes:
  action_group:
    description: In the action group C(pinwright.escpos.escpos), for C(module_defaults).
    support: full
    membership: [pinwright.escpos.escpos]
  check_mode:
    description: Runs as usual; it only reads.
    support: full
  diff_mode:
    description: Nothing changes, so there is nothing to show.
    support: none
  platform:
    description: Runs on the managed host the printers are attached to (or that reaches network printers).
    support: full
    platforms: posix
seealso:
  - module: pinwright.escpos.memory_switches
  - module: pinwright.escpos.ports_info
'''

EXAMPLES = r'''
- name: Read the till's receipt printer
  pinwright.escpos.printer_info:
    port: /dev/ttyUSB0
  register: printer

- name: Say what it is
  ansible.builtin.debug:
    msg: "{{ printer.printers[0].identity.model }} on {{ printer.printers[0].port }}: {{ printer.printers[0].settings }}"
  when: printer.printers[0].rc == 0

- name: Read the shop's network printers at once; fail if one cannot be read
  pinwright.escpos.printer_info:
    ports:
      - tcp://192.168.1.50
      - tcp://till3.shop.lan
    fail_on_error: true
  register: shop

- name: Name the printers out of paper
  ansible.builtin.debug:
    msg: "{{ shop.printers | selectattr('status', 'defined') | selectattr('status.paper', 'eq', 'out') | map(attribute='port') }}"
'''

RETURN = r'''
printers:
  description: One entry a port, in the order given; also when some failed.
  returned: always
  type: list
  elements: dict
  contains:
    port:
      description: The port as C(pinwright-cli) names it.
      type: str
      sample: /dev/ttyUSB0
    rc:
      description: The port's exit status of C(pinwright-cli get) (0 read, 2 cannot open, 3 no answer).
      type: int
      sample: 0
    error:
      description: What C(pinwright-cli) said when the printer could not be read.
      type: str
      returned: when the port failed
      sample: Can't connect printer. Please restart printer.
    line:
      description: The serial line the printer was talked to at (with C(line.baud=auto), the one found).
      type: dict
      returned: on a serial port
      sample: {"baud": 115200, "data_bits": 8, "parity": "none", "stop_bits": "1"}
    identity:
      description: What the printer says it is (maker, model, firmware).
      type: dict
      returned: when the printer was read
      sample: {"maker": "MERIDOX", "model": "LTX-580", "firmware": "2.10"}
    settings:
      description:
        - The seven settings the printer holds, by the names of the I(settings) of
          M(pinwright.escpos.memory_switches) (C(baud_rate) and C(code_page) null when its pins give no listed
          rate or code page).
      type: dict
      returned: when the printer was read
      sample: {"baud_rate": 115200, "data_bits": 8, "parity": "none", "flow_control": "dtr-dsr",
               "auto_cutter": "full", "auto_line_feed": false, "code_page": "PC850"}
    switches:
      description: Memory switches 1, 2 and 9, eight characters each, pin 8 first.
      type: dict
      returned: when the printer was read
      sample: {"1": "00000000", "2": "00010100", "9": "10000000"}
    status:
      description:
        - The printer's status (C(pinwright-cli status), DLE EOT 1 to 4).
      type: dict
      returned: when the printer answered the status queries
      contains:
        online:
          description: Whether the printer is online.
          type: bool
        cover_open:
          description: Whether its cover is open.
          type: bool
        paper:
          description: C(ok), C(near-end) (it can still print) or C(out).
          type: str
        feed_button:
          description: Whether the feed button is pressed.
          type: bool
        drawer_open:
          description: Whether the cash drawer is open (also true when none is connected).
          type: bool
        errors:
          description:
            - The errors it reports, C(cutter), C(unrecoverable), C(auto-recoverable), or C(unknown) when it
              says an error occurred but names none.
          type: list
          elements: str
      sample: {"online": true, "cover_open": false, "paper": "ok", "feed_button": false, "drawer_open": false,
               "errors": []}
    status_rc:
      description:
        - The port's exit status of C(pinwright-cli status). 0 the printer can print (paper near its end
          included), 5 it needs attention (offline, cover open, paper out, an error), 2 cannot open, 3 no
          answer.
      type: int
      returned: when the status was asked for
      sample: 5
    status_error:
      description: What C(pinwright-cli status) said when status_rc is not 0.
      type: str
      returned: when status_rc is not 0
      sample: 'needs attention: offline, paper out'
rc:
  description:
    - The exit status of C(pinwright-cli get), the highest of its ports, when the task failed. A task that goes
      on returns none (Ansible takes a result with a non-zero rc for a failure); each port's is in
      C(printers).
  returned: failure
  type: int
  sample: 2
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.pinwright.escpos.plugins.module_utils._pinwright_cli import (
    PRINTER_SPEC, check_printer_options, exit_of, failure_text, identity, line_of, messages_of, renamed,
    run_cli, text)


def matched(ports, results):
    """The CLI's results by the given ports: in their order, as the CLI gives them, when there is one each."""
    if len(results) == len(ports):
        return list(results)
    by_port = dict((r.get('port'), r) for r in results)
    return [by_port.get(port) for port in ports]


def status_of(module, ports, printers):
    """Adds each port's status (pinwright-cli status) to its entry; says what needs attention."""
    arguments = []
    for port in ports:
        arguments += ['-p', port]
    rc, results, stderr, command = run_cli(module, arguments + ['status'])
    if not results:
        said = text(' '.join(line.strip() for line in stderr.splitlines() if line.strip()) or 'no result')
        for printer in printers:
            printer.update(status_rc=rc, status_error=said)
        module.warn('printer status not read: {0} (pinwright-cli exit {1})'.format(said, rc))
        return
    for printer, result in zip(printers, matched(ports, results)):
        if result is None:
            printer.update(status_rc=rc, status_error='pinwright-cli gave no status for this port')
            continue
        code = exit_of(result, rc)
        printer['status_rc'] = code
        if isinstance(result.get('status'), dict):
            printer['status'] = renamed(result['status'])
        if code != 0:
            said = text(result.get('error') or 'no message')
            printer['status_error'] = said
            if code == 5:
                # pinwright-cli says "needs attention: offline, paper out"; an older or other text is
                # given the same start.
                if not said.startswith('needs attention'):
                    said = 'needs attention: ' + said
                module.warn('port {0} {1}'.format(printer['port'], said))
            elif said != printer.get('error'):
                module.warn('port {0}: status not read: {1} (pinwright-cli exit {2})'.format(printer['port'], said, code))


def main():
    argument_spec = dict(
        ports=dict(type='list', elements='str', required=True, aliases=['port']),
        fail_on_error=dict(type='bool', default=False),
    )
    argument_spec.update(PRINTER_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    check_printer_options(module)
    ports = module.params['ports']
    if not ports:
        module.fail_json(msg='ports: name at least one printer', rc=1, printers=[])

    arguments = []
    for port in ports:
        arguments += ['-p', port]
    rc, results, stderr, command = run_cli(module, arguments + ['get'], empty=dict(printers=[], changed=False))
    if not results:
        # No port was tried: a usage error of the whole run.
        module.fail_json(msg=failure_text(', '.join(ports), rc, None, stderr), rc=rc, printers=[],
                         stderr=text(stderr), cmd=command, changed=False)

    printers, failures = [], []
    for port, result in zip(ports, matched(ports, results)):
        if result is None:
            result = dict(port=port, error='pinwright-cli gave no result for this port', exit=rc or 1)
        printer = dict(port=text(result.get('port') or port), rc=exit_of(result, rc))
        if printer['rc'] != 0:
            printer['error'] = text(result.get('error') or 'no message')
            failures.append(failure_text(printer['port'], printer['rc'], result, stderr))
        line = line_of(result)
        if line is not None:
            printer['line'] = line
        if 'model' in result:
            printer['identity'] = identity(result)
        if isinstance(result.get('settings'), dict):
            printer['settings'] = renamed(result['settings'])
        if isinstance(result.get('switches'), dict):
            printer['switches'] = result['switches']
        printers.append(printer)
    # What the CLI warned of about a printer it read (another maker or model); a failed port's failure says
    # all there is.
    for printer in printers:
        if printer['rc'] != 0:
            continue
        for said in messages_of(printer['port'], stderr):
            module.warn('port {0}: {1}'.format(printer['port'], said))
    status_of(module, ports, printers)
    if failures and module.params['fail_on_error']:
        module.fail_json(msg='; '.join(failures), rc=rc, printers=printers, stderr=text(stderr), changed=False)
    for failure in failures:
        module.warn(failure)
    module.exit_json(changed=False, printers=printers)


if __name__ == '__main__':
    main()
