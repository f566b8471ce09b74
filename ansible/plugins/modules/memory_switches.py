#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: memory_switches
short_description: Keep an LTX-58x receipt printer's memory switches at their settings
description:
  - Reads the printer on I(port) and compares every setting it would write with what the printer holds,
    through C(pinwright-cli set) or C(pinwright-cli apply).
  - When the printer already holds them, nothing is written and the task is C(ok); the printer is not put into
    user setting mode and does not restart. Otherwise the settings are written, the printer restarts, and they
    are read back and compared.
  - Give the settings either as I(settings) or as a status file saved by the desktop program or
    C(pinwright-cli get -o) (I(status_file)).
version_added: 1.0.0
author:
  - Pinwright developers (@pinwright)
extends_documentation_fragment:
  - pinwright.escpos.line
options:
  port:
    description:
      - The printer, as C(pinwright-cli --port) takes it.
      - C(COM1) to C(COM7), C(LPT1) to C(LPT4), C(USB), a device file (a terminal such as C(/dev/ttyUSB0) is
        serial, C(/dev/lpN) parallel, C(/dev/usb/lpN) USB), or a network printer C(tcp://HOST[:PORT]).
    type: str
    required: true
  settings:
    description:
      - The settings to keep, by the keys and values of C(pinwright-cli set); the ones left out stay as the
        printer has them.
      - Mutually exclusive with I(status_file).
    type: dict
    suboptions:
      baud-rate:
        description: Serial line speed of the printer.
        type: int
        choices: [9600, 19200, 38400, 57600, 115200]
      data-bits:
        description: Data bits of the printer's serial line.
        type: int
        choices: [7, 8]
      parity:
        description: Parity of the printer's serial line.
        type: str
        choices: [none, odd, even]
      flow-control:
        description: Flow control of the printer's serial line.
        type: str
        choices: [dtr-dsr, xon-xoff]
      auto-cutter:
        description: The cut at the end of a receipt.
        type: str
        choices: [partial, full]
      auto-line-feed:
        description: Automatic line feed.
        type: bool
      code-page:
        description: Default code page.
        type: str
        choices: [PC437, Katakana, PC850, PC860, PC863, PC865, WPC1252, PC866, PC852, PC858, PC864, Thai42,
                  WPC1253, WPC1251, PC737, Thai16, WPC1255, PC855, PC857]
  status_file:
    description:
      - A status file on the managed host whose settings to keep, as C(pinwright-cli apply) writes them.
      - A file that the desktop program's Load Status would refuse fails the task before the printer is
        touched.
      - Mutually exclusive with I(settings).
    type: path
  force:
    description:
      - Write the settings even when the printer already holds them (the printer restarts).
    type: bool
    default: false
attributes:
  check_mode:
    description: Reads the printer and compares, through C(pinwright-cli --check); never writes.
    support: full
  diff_mode:
    description: The settings that differ, as the printer holds them and as they are to be.
    support: full
seealso:
  - module: pinwright.escpos.printer_info
'''

EXAMPLES = r'''
- name: Keep the receipt printer at PC858 and partial cut
  pinwright.escpos.memory_switches:
    port: /dev/ttyUSB0
    baud: 115200
    settings:
      code-page: PC858
      auto-cutter: partial

- name: Keep a network printer at the settings of a status file on the till
  pinwright.escpos.memory_switches:
    port: tcp://192.168.1.50
    status_file: /etc/pinwright/shop.sts

- name: Keep each till's printer at its group's settings (printer_port and receipt_printer from the inventory)
  pinwright.escpos.memory_switches:
    port: "{{ printer_port }}"
    settings: "{{ receipt_printer }}"
  register: printer
'''

RETURN = r'''
port:
  description: The port as C(pinwright-cli) names it.
  returned: always
  type: str
  sample: /dev/ttyUSB0
before:
  description: The seven settings as read from the printer.
  returned: once the printer was read
  type: dict
  sample: {"baud-rate": 115200, "data-bits": 8, "parity": "none", "flow-control": "dtr-dsr",
           "auto-cutter": "full", "auto-line-feed": false, "code-page": "PC850"}
after:
  description:
    - The seven settings as they are to be. After a successful write the printer holds them (they were read
      back).
    - C(baud-rate) is null where the printer's pins give no listed rate.
  returned: once the printer was read
  type: dict
  sample: {"baud-rate": 115200, "data-bits": 8, "parity": "none", "flow-control": "dtr-dsr",
           "auto-cutter": "partial", "auto-line-feed": false, "code-page": "PC858"}
changes:
  description: The settings that differ (that were written, or in check mode would be).
  returned: once the printer was read
  type: list
  elements: str
  sample: [auto-cutter, code-page]
identity:
  description: What the printer says it is.
  returned: once the printer was read
  type: dict
  contains:
    maker:
      description: The maker's name.
      type: str
      sample: MERIDOX
    model:
      description: The model.
      type: str
      sample: LTX-580
    firmware:
      description: The firmware version.
      type: str
      sample: "2.10"
switches:
  description: Memory switches 1, 2 and 9 as the printer holds them, eight characters each, pin 8 first.
  returned: once the printer was read
  type: dict
  sample: {"1": "00000000", "2": "01001100", "9": "10000000"}
rc:
  description:
    - The exit status of C(pinwright-cli) (0 on success). 1 usage or a bad status file, 2 the port cannot be
      opened, 3 the printer did not answer or sent an unreadable reply, 4 a setting did not take.
  returned: always
  type: int
  sample: 4
error:
  description: What C(pinwright-cli) said about the port.
  returned: failure
  type: str
  sample: the printer did not take code-page
not_taken:
  description: The settings the printer did not take (exit status 4).
  returned: when rc is 4
  type: list
  elements: str
  sample: [code-page]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.pinwright.escpos.plugins.module_utils.pinwright_cli import (
    LINE_SPEC, SETTINGS_SPEC, SETTING_KEYS, cli_path, failure_text, identity, messages_of, run_cli,
    setting_argument)


def check_status_file(module, path):
    """Refuses a status file the desktop program's Load Status would refuse, before the printer is touched:
    pinwright-cli show reads it as apply would, with no printer."""
    rc, out, err = module.run_command([cli_path(module), 'show', path])
    if rc != 0:
        module.fail_json(msg='status_file: ' + (err.strip() or out.strip()), rc=rc)


def main():
    argument_spec = dict(
        port=dict(type='str', required=True),
        settings=dict(type='dict', options=SETTINGS_SPEC),
        status_file=dict(type='path'),
        force=dict(type='bool', default=False),
    )
    argument_spec.update(LINE_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True,
                           mutually_exclusive=[('settings', 'status_file')],
                           required_one_of=[('settings', 'status_file')])
    port = module.params['port']
    settings = module.params['settings']

    arguments = ['-p', port]
    if module.check_mode:
        arguments.append('--check')
    if settings is not None:
        given = [key for key in SETTING_KEYS if settings.get(key) is not None]
        if not given:
            module.fail_json(msg='settings: name at least one of ' + ', '.join(SETTING_KEYS), rc=1)
        arguments += ['set'] + [setting_argument(key, settings[key]) for key in given]
    else:
        check_status_file(module, module.params['status_file'])
        arguments += ['apply', module.params['status_file']]
    if module.params['force']:
        arguments.append('--force')

    rc, results, stderr = run_cli(module, arguments)
    result = results[0] if results else {}
    port = result.get('port', port)
    out = dict(port=port, rc=rc, changed=bool(result.get('changed', False)))
    for key in ('before', 'after', 'changes', 'switches'):
        if key in result:
            out[key] = result[key]
    if 'model' in result:
        out['identity'] = identity(result)
    changes = result.get('changes', [])
    if module._diff and 'before' in result:
        out['diff'] = dict(before=dict((k, result['before'][k]) for k in changes),
                           after=dict((k, result['after'][k]) for k in changes),
                           before_header='{0} (as read)'.format(port),
                           after_header='{0} (to be)'.format(port))

    if rc != 0:
        out['error'] = result.get('error') or stderr.strip()
        if 'not-taken' in result:
            out['not_taken'] = result['not-taken']
        module.fail_json(msg=failure_text(port, rc, result, stderr), stderr=stderr, **out)
    # Warnings about the printer (another maker or model) that did not stop the work.
    for line in messages_of(port, stderr):
        if not line.startswith('reading back at '):
            module.warn('port {0}: {1}'.format(port, line))
    module.exit_json(**out)


if __name__ == '__main__':
    main()
