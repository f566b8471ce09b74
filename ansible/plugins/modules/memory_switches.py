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
  - One printer is written by one host at a time. Several hosts that share a network printer must not run
    this module on it at once (see the notes).
version_added: 1.0.0
author:
  - Pinwright developers (@pinwright)
extends_documentation_fragment:
  - pinwright.escpos.cli
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
      - The printer settings to keep. A setting left out, or null, stays as the printer has it; at least one
        must be given.
      - C(baud_rate), C(data_bits) and C(parity) here are what the printer is to use from now on; the line to
        talk at now is I(line).
      - Mutually exclusive with I(status_file).
    type: dict
    suboptions:
      baud_rate:
        description:
          - Serial line speed of the printer.
          - After a write that changes it, the read-back talks at the new rate, and so does the next run with
            C(line.baud=auto).
        type: int
        choices: [9600, 19200, 38400, 57600, 115200]
      data_bits:
        description: Data bits of the printer's serial line.
        type: int
        choices: [7, 8]
      parity:
        description: Parity of the printer's serial line.
        type: str
        choices: [none, odd, even]
      flow_control:
        description: Flow control of the printer's serial line.
        type: str
        choices: [dtr-dsr, xon-xoff]
      auto_cutter:
        description: The cut at the end of a receipt.
        type: str
        choices: [partial, full]
      auto_line_feed:
        description: Automatic line feed.
        type: bool
      code_page:
        description: Default code page.
        type: str
        choices: [PC437, Katakana, PC850, PC860, PC863, PC865, WPC1252, PC866, PC852, PC858, PC864, Thai42,
                  WPC1253, WPC1251, PC737, Thai16, WPC1255, PC855, PC857]
  status_file:
    description:
      - A status file whose settings to keep, as C(pinwright-cli apply) writes them.
      - A file on the controller, looked for as ansible.builtin.copy's I(src) is (in the role's or the
        playbook's C(files/) first); it is sent to the managed host for the run and removed after it. With
        I(remote_src=true), a file on the managed host.
      - A file that the desktop program's Load Status would refuse (its name not ending in C(sts), or not 88
        bytes) fails the task before the printer is touched.
      - Mutually exclusive with I(settings).
    type: path
  remote_src:
    description:
      - Whether I(status_file) is on the managed host (true) or on the controller (false).
    type: bool
    default: false
  force:
    description:
      - Write the settings even when the printer already holds them (the printer restarts).
    type: bool
    default: false
  backup:
    description:
      - Before a write, save the printer's settings as read as a status file on the managed host (in
        I(backup_dir), named for the port and the UTC time), and return its path as C(backup_file).
      - No backup is made when nothing is written (the printer held the settings, or check mode). A backup
        that cannot be saved fails the task before anything is written.
      - To put the printer back, give that file as I(status_file) with I(remote_src=true).
    type: bool
    default: false
  backup_dir:
    description:
      - The directory on the managed host the backups go to, made when missing.
    type: path
    default: ~/pinwright-backups
attributes:
  action:
    description: An action plugin sends a controller's I(status_file) to the managed host.
    support: full
  action_group:
    description: In the action group C(pinwright.escpos.escpos), for C(module_defaults).
    support: full
    membership: [pinwright.escpos.escpos]
  check_mode:
    description: Reads the printer and compares, through C(pinwright-cli --check); never writes.
    support: full
  diff_mode:
    description: The settings that differ, as the printer holds them and as they are to be.
    support: full
  platform:
    description: Runs on the managed host the printer is attached to (or that reaches a network printer).
    support: full
    platforms: posix
notes:
  - The read-back after a write runs over a new connection on a network printer, since some printers drop
    theirs when they restart. Another host's run may connect in between and change the printer, and then
    this run fails with rc 4 though the printer is fine. Give each network printer to one host (one inventory
    host per network printer, or the task C(throttle=1)).
seealso:
  - module: pinwright.escpos.printer_info
  - module: pinwright.escpos.ports_info
'''

EXAMPLES = r'''
- name: Keep the receipt printer at PC858 and partial cut
  pinwright.escpos.memory_switches:
    port: /dev/ttyUSB0
    settings:
      code_page: PC858
      auto_cutter: partial

- name: Move a printer from 115200 to 19200 baud (the next run finds it at 19200 by itself)
  pinwright.escpos.memory_switches:
    port: /dev/ttyUSB0
    settings:
      baud_rate: 19200
    backup: true
  register: moved

- name: Put that printer back as it was
  pinwright.escpos.memory_switches:
    port: /dev/ttyUSB0
    status_file: "{{ moved.backup_file }}"
    remote_src: true
  when: moved.backup_file is defined

- name: Keep a network printer at the settings of the playbook's files/shop.sts
  pinwright.escpos.memory_switches:
    port: tcp://192.168.1.50
    status_file: shop.sts

- name: Talk at 9600 7E1, and leave the printer's own line alone
  pinwright.escpos.memory_switches:
    port: COM1
    line:
      baud: 9600
      data_bits: 7
      parity: even
    settings:
      code_page: PC850
'''

RETURN = r'''
port:
  description: The port as C(pinwright-cli) names it.
  returned: always
  type: str
  sample: /dev/ttyUSB0
line:
  description:
    - The serial line C(pinwright-cli) talked at last (the one C(line.baud=auto) found or the one given; after
      a write that changed the printer's line, the new one the read-back talked at).
  returned: on a serial port
  type: dict
  sample: {"baud": 115200, "data_bits": 8, "parity": "none", "stop_bits": "1"}
before:
  description: The seven settings as read from the printer, by the names of I(settings).
  returned: once the printer was read
  type: dict
  sample: {"baud_rate": 115200, "data_bits": 8, "parity": "none", "flow_control": "dtr-dsr",
           "auto_cutter": "full", "auto_line_feed": false, "code_page": "PC850"}
after:
  description:
    - The seven settings as they are to be. After a successful write the printer holds them (they were read
      back).
    - C(baud_rate) and C(code_page) are null where the printer's pins give no listed rate or code page.
  returned: once the printer was read
  type: dict
  sample: {"baud_rate": 115200, "data_bits": 8, "parity": "none", "flow_control": "dtr-dsr",
           "auto_cutter": "partial", "auto_line_feed": false, "code_page": "PC858"}
changes:
  description: The settings that differ (that were written, or in check mode would be).
  returned: once the printer was read
  type: list
  elements: str
  sample: [auto_cutter, code_page]
written:
  description:
    - How much reached the printer, whatever the run ended in. C(no) no change command; C(partly) the line
      failed during the write (the printer may hold some of the new settings); C(yes) the whole write (a
      failure after it is the read-back's).
  returned: when C(pinwright-cli) got as far as the printer
  type: str
  sample: "yes"
backup_file:
  description: The status file of the settings before the write, on the managed host (I(backup=true)).
  returned: when a backup was made
  type: str
  sample: /home/till/pinwright-backups/ttyUSB0-20261208T101500Z.sts
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
      opened, 3 the printer did not answer, sent an unreadable reply or the I(timeout) passed, 4 a setting did
      not take.
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
  sample: [code_page]
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.pinwright.escpos.plugins.module_utils._pinwright_cli import (
    PRINTER_SPEC, SETTINGS, SETTINGS_SPEC, check_printer_options, cli_path, failure_text, identity, is_network,
    line_of, messages_of, renamed, renamed_list, run_cli, setting_argument, text)


def check_status_file(module, path):
    """Refuses a status file the desktop program's Load Status would refuse, before the printer is touched:
    pinwright-cli show reads it as apply would, with no printer."""
    rc, out, err = module.run_command([cli_path(module), 'show', path])
    if rc != 0:
        module.fail_json(msg='status_file: ' + text(err.strip() or out.strip() or 'pinwright-cli exit %d' % rc),
                         rc=rc)


def hint(port, rc, line):
    """What a failure of this kind usually means, where the CLI's words do not say it."""
    if rc == 4 and is_network(port):
        return ('; a network printer is read back over a new connection, so another host may have changed it '
                'in between: give each network printer to one host (throttle: 1)')
    if rc == 3 and line and line.get('baud') != 'auto':
        return '; with line.baud auto the printer is looked for at every line it can be set to'
    return ''


def main():
    argument_spec = dict(
        port=dict(type='str', required=True),
        settings=dict(type='dict', options=SETTINGS_SPEC),
        status_file=dict(type='path'),
        remote_src=dict(type='bool', default=False),
        force=dict(type='bool', default=False),
        backup=dict(type='bool', default=False),
        backup_dir=dict(type='path', default='~/pinwright-backups'),
    )
    argument_spec.update(PRINTER_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True,
                           mutually_exclusive=[('settings', 'status_file')],
                           required_one_of=[('settings', 'status_file')])
    check_printer_options(module)
    port = module.params['port']
    settings = module.params['settings']

    arguments = ['-p', port]
    if module.check_mode:
        arguments.append('--check')
    elif module.params['backup']:
        arguments += ['--backup', os.path.abspath(module.params['backup_dir'])]
    if settings is not None:
        given = [option for option in SETTINGS if settings.get(option) is not None]
        if not given:
            module.fail_json(msg='settings: name at least one of ' + ', '.join(SETTINGS), rc=1)
        arguments += ['set'] + [setting_argument(option, settings[option]) for option in given]
    else:
        check_status_file(module, module.params['status_file'])
        arguments += ['apply', module.params['status_file']]
    if module.params['force']:
        arguments.append('--force')

    rc, results, stderr, command = run_cli(module, arguments)
    if len(results) > 1:
        module.fail_json(msg='pinwright-cli gave {0} results for one port'.format(len(results)), rc=rc,
                         stderr=text(stderr), cmd=command)
    result = results[0] if results else {}
    port = text(result.get('port') or port)
    out = dict(port=port, rc=rc, changed=result.get('changed') is True)
    line = line_of(result)
    if line is not None:
        out['line'] = line
    for key in ('before', 'after', 'switches'):
        if isinstance(result.get(key), dict):
            out[key] = renamed(result[key]) if key != 'switches' else result[key]
    if 'changes' in result:
        out['changes'] = renamed_list(result['changes'])
    if isinstance(result.get('written'), str):
        out['written'] = result['written']
    if isinstance(result.get('backup'), str):
        out['backup_file'] = os.path.abspath(result['backup'])
    if 'model' in result:
        out['identity'] = identity(result)
    if module._diff and 'before' in out and 'after' in out:
        changes = [k for k in out.get('changes', []) if k in out['before'] and k in out['after']]
        out['diff'] = dict(before=dict((k, out['before'][k]) for k in changes),
                           after=dict((k, out['after'][k]) for k in changes),
                           before_header='{0} (as read)'.format(port),
                           after_header='{0} (to be)'.format(port))

    if rc != 0:
        out['error'] = text(result.get('error') or stderr.strip() or 'no message')
        if 'not-taken' in result:
            out['not_taken'] = renamed_list(result['not-taken'])
        module.fail_json(msg=failure_text(port, rc, result, stderr) + hint(port, rc, module.params['line']),
                         stderr=text(stderr), **out)
    if not results:
        module.fail_json(msg='pinwright-cli printed no result (exit 0)', stderr=text(stderr), cmd=command, **out)
    # Warnings about the printer (another maker or model) that did not stop the work.
    for said in messages_of(port, stderr):
        if not said.startswith('reading back at '):
            module.warn('port {0}: {1}'.format(port, said))
    module.exit_json(**out)


if __name__ == '__main__':
    main()
