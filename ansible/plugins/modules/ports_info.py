#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: ports_info
short_description: The printer ports of a host, what each stands for and who may open it
description:
  - Lists the ports the desktop program offers, C(COM1) to C(COM7), C(LPT1) to C(LPT4) and C(USB), with
    what each stands for on the managed host (C(pinwright-cli ports)); the device it opens, whether that is
    present, for a USB serial adapter or a USB printer its maker, product and vendor:product id, and whether
    the user Ansible runs as may open it (when not, which group may, and the command that adds the user).
  - No printer is needed and nothing is opened.
version_added: 2.0.0
author:
  - Pinwright developers (@pinwright)
extends_documentation_fragment:
  - pinwright.escpos.cli
options: {}
attributes:
  action_group:
    description: In the action group C(pinwright.escpos.escpos), for C(module_defaults).
    support: full
    membership: [pinwright.escpos.escpos]
  check_mode:
    description: Runs as usual; it only looks.
    support: full
  diff_mode:
    description: Nothing changes, so there is nothing to show.
    support: none
  platform:
    description: Runs on the managed host whose ports it lists.
    support: full
    platforms: posix
seealso:
  - module: pinwright.escpos.printer_info
'''

EXAMPLES = r'''
- name: See the till's ports
  pinwright.escpos.ports_info:
  register: till

- name: Let the user in where a present port is refused
  ansible.builtin.debug:
    msg: "{{ item.port }} ({{ item.device }}): {{ item.access.command }}"
  loop: "{{ till.ports | selectattr('present') | rejectattr('access.usable') }}"
'''

RETURN = r'''
ports:
  description: The twelve ports, in the desktop program's order.
  returned: always
  type: list
  elements: dict
  contains:
    port:
      description: The port's name, as the I(port) of the other modules takes it.
      type: str
      sample: COM1
    device:
      description: The device the port opens (null where it stands for none).
      type: str
      sample: /dev/ttyS0
    present:
      description: Whether that device is there.
      type: bool
      sample: true
    product:
      description: The maker and product a USB device reports (null for other devices, or none present).
      type: str
      sample: FTDI FT232R USB UART
    usb_id:
      description: The vendor:product id of a USB device (null otherwise).
      type: str
      sample: 0403:6001
    access:
      description: For a present device, whether the user may open it (null when none is present).
      type: dict
      contains:
        usable:
          description: Whether the user may open the device.
          type: bool
        group:
          description: When not, the group whose members may (null when none would help).
          type: str
          sample: dialout
        command:
          description: The command that lets the user in (null likewise); it takes effect at the next login.
          type: str
          sample: sudo usermod -aG dialout till
rc:
  description: The exit status of C(pinwright-cli ports).
  returned: always
  type: int
  sample: 0
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.pinwright.escpos.plugins.module_utils._pinwright_cli import (
    CLI_SPEC, failure_text, renamed, run_cli, text)

TEXTS = ('port', 'device', 'product', 'usb_id')


def port_entry(result):
    entry = renamed(result)
    for key in TEXTS:
        entry[key] = text(entry[key]) if isinstance(entry.get(key), str) else None
    entry['present'] = entry.get('present') is True
    access = entry.get('access')
    if isinstance(access, dict):
        entry['access'] = dict(usable=access.get('usable') is True,
                               group=text(access['group']) if isinstance(access.get('group'), str) else None,
                               command=text(access['command']) if isinstance(access.get('command'), str) else None)
    else:
        entry['access'] = None
    return dict((k, entry[k]) for k in TEXTS[:2] + ('present',) + TEXTS[2:] + ('access',))


def main():
    module = AnsibleModule(argument_spec=dict(CLI_SPEC), supports_check_mode=True)
    rc, results, stderr, command = run_cli(module, ['ports'], printer=False, empty=dict(ports=[]))
    if rc != 0 or not results:
        module.fail_json(msg=failure_text('list', rc, None, stderr), rc=rc, ports=[], stderr=text(stderr), cmd=command)
    module.exit_json(changed=False, rc=rc, ports=[port_entry(r) for r in results])


if __name__ == '__main__':
    main()
