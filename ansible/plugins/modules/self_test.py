#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: self_test
short_description: Make an LTX-58x receipt printer print its self-test page
description:
  - Checks the connection to the printer on I(port) and has it print its test page 1 or 2
    (C(pinwright-cli self-test)). The memory switches are not touched.
  - It prints a page every time, so the task is C(changed) whenever it ran; in check mode nothing is sent and
    the task is skipped, saying so.
version_added: 2.0.0
author:
  - Pinwright developers (@pinwright)
extends_documentation_fragment:
  - pinwright.escpos.cli
  - pinwright.escpos.line
options:
  port:
    description:
      - The printer, as C(pinwright-cli --port) takes it (see M(pinwright.escpos.memory_switches)).
    type: str
    required: true
  page:
    description:
      - The test page to print.
    type: int
    choices: [1, 2]
    default: 1
attributes:
  action_group:
    description: In the action group C(pinwright.escpos.escpos), for C(module_defaults).
    support: full
    membership: [pinwright.escpos.escpos]
  check_mode:
    description: Nothing is sent to the printer; the task is skipped and says it would have printed.
    support: partial
  diff_mode:
    description: A page printed is no state to show.
    support: none
  platform:
    description: Runs on the managed host the printer is attached to (or that reaches a network printer).
    support: full
    platforms: posix
seealso:
  - module: pinwright.escpos.printer_info
'''

EXAMPLES = r'''
- name: Print the test page of the till's printer
  pinwright.escpos.self_test:
    port: /dev/ttyUSB0

- name: Print test page 2 on a network printer, giving up after a minute
  pinwright.escpos.self_test:
    port: tcp://192.168.1.50
    page: 2
    timeout: 60
'''

RETURN = r'''
port:
  description: The port as C(pinwright-cli) names it.
  returned: always
  type: str
  sample: /dev/ttyUSB0
page:
  description: The test page asked for.
  returned: always
  type: int
  sample: 1
line:
  description: The serial line C(pinwright-cli) talked at (with C(line.baud=auto), the one found).
  returned: on a serial port, when it was run
  type: dict
  sample: {"baud": 115200, "data_bits": 8, "parity": "none", "stop_bits": "1"}
rc:
  description: The exit status of C(pinwright-cli) (0 printed, 2 cannot open, 3 no answer).
  returned: when it was run
  type: int
  sample: 0
error:
  description: What C(pinwright-cli) said about the port.
  returned: failure
  type: str
  sample: Can't connect printer. Please restart printer.
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.pinwright.escpos.plugins.module_utils._pinwright_cli import (
    PRINTER_SPEC, check_printer_options, failure_text, line_of, messages_of, run_cli, text)


def main():
    argument_spec = dict(
        port=dict(type='str', required=True),
        page=dict(type='int', choices=[1, 2], default=1),
    )
    argument_spec.update(PRINTER_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    check_printer_options(module)
    port, page = module.params['port'], module.params['page']
    if module.check_mode:
        module.exit_json(changed=False, skipped=True, port=port, page=page,
                         msg='check mode: test page {0} not printed on {1} (it would be)'.format(page, port))

    rc, results, stderr, command = run_cli(module, ['-p', port, 'self-test', str(page)])
    result = results[0] if len(results) == 1 else {}
    port = text(result.get('port') or port)
    out = dict(port=port, page=page, rc=rc)
    line = line_of(result)
    if line is not None:
        out['line'] = line
    if rc != 0:
        out['error'] = text(result.get('error') or stderr.strip() or 'no message')
        module.fail_json(msg=failure_text(port, rc, result, stderr), stderr=text(stderr), changed=False, **out)
    if result.get('self-test') != 'sent':
        module.fail_json(msg='pinwright-cli did not say the page was sent', stderr=text(stderr), cmd=command,
                         changed=False, **out)
    for said in messages_of(port, stderr):
        module.warn('port {0}: {1}'.format(port, said))
    module.exit_json(changed=True, msg='test page {0} printed on {1}'.format(page, port), **out)


if __name__ == '__main__':
    main()
