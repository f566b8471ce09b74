#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: printer_info
short_description: Identity and settings of LTX-58x receipt printers
description:
  - Reads one or more printers through C(pinwright-cli get), all at once, and returns what each says it is and
    the settings and memory switches it holds.
  - Never changes anything.
version_added: 1.0.0
author:
  - Pinwright developers (@pinwright)
extends_documentation_fragment:
  - pinwright.escpos.line
options:
  ports:
    description:
      - The printers, each as C(pinwright-cli --port) takes it (see M(pinwright.escpos.memory_switches)).
    type: list
    elements: str
    required: true
    aliases: [port]
attributes:
  check_mode:
    description: Runs as usual; it only reads.
    support: full
  diff_mode:
    description: Nothing changes, so there is nothing to show.
    support: none
seealso:
  - module: pinwright.escpos.memory_switches
'''

EXAMPLES = r'''
- name: Read the till's receipt printer
  pinwright.escpos.printer_info:
    port: /dev/ttyUSB0
  register: printer

- name: Say what it is
  ansible.builtin.debug:
    msg: "{{ printer.printers[0].identity.model }} on {{ printer.printers[0].port }}: {{ printer.printers[0].settings }}"

- name: Read the shop's network printers at once
  pinwright.escpos.printer_info:
    ports:
      - tcp://192.168.1.50
      - tcp://till3.shop.lan
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
    identity:
      description: What the printer says it is (maker, model, firmware).
      type: dict
      returned: when the printer was read
      sample: {"maker": "MERIDOX", "model": "LTX-580", "firmware": "2.10"}
    settings:
      description: The seven settings the printer holds (C(baud-rate) null when its pins give no listed rate).
      type: dict
      returned: when the printer was read
      sample: {"baud-rate": 115200, "data-bits": 8, "parity": "none", "flow-control": "dtr-dsr",
               "auto-cutter": "full", "auto-line-feed": false, "code-page": "PC850"}
    switches:
      description: Memory switches 1, 2 and 9, eight characters each, pin 8 first.
      type: dict
      returned: when the printer was read
      sample: {"1": "00000000", "2": "00010100", "9": "10000000"}
    error:
      description: What C(pinwright-cli) said when the printer could not be read.
      type: str
      returned: when the port failed
      sample: Can't connect printer. Please restart printer.
    rc:
      description: The port's exit status in C(pinwright-cli) (0 read, 2 cannot open, 3 no answer).
      type: int
      sample: 0
rc:
  description: The exit status of C(pinwright-cli), the highest of its ports.
  returned: always
  type: int
  sample: 0
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.pinwright.escpos.plugins.module_utils.pinwright_cli import (
    LINE_SPEC, failure_text, identity, messages_of, run_cli)


def main():
    argument_spec = dict(ports=dict(type='list', elements='str', required=True, aliases=['port']))
    argument_spec.update(LINE_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    ports = module.params['ports']
    if not ports:
        module.fail_json(msg='ports: name at least one printer', rc=1, printers=[])

    arguments = []
    for port in ports:
        arguments += ['-p', port]
    rc, results, stderr = run_cli(module, arguments + ['get'])

    printers, failures = [], []
    for result in results:
        printer = dict(port=result['port'], rc=result.get('exit', 0))
        if 'error' in result:
            printer['error'] = result['error']
            failures.append(failure_text(result['port'], printer['rc'], result, stderr))
        if 'model' in result:
            printer.update(identity=identity(result), settings=result['settings'], switches=result['switches'])
        printers.append(printer)
    if rc != 0:
        if not failures:
            failures.append(failure_text(', '.join(ports), rc, None, stderr))
        module.fail_json(msg='; '.join(failures), rc=rc, printers=printers, stderr=stderr, changed=False)
    for printer in printers:
        for line in messages_of(printer['port'], stderr):
            module.warn('port {0}: {1}'.format(printer['port'], line))
    module.exit_json(changed=False, rc=rc, printers=printers)


if __name__ == '__main__':
    main()
