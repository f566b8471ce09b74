# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    # The options every module of the collection shares: where pinwright-cli is, and the serial line to
    # talk at.
    DOCUMENTATION = r'''
options:
  cli:
    description:
      - Path of C(pinwright-cli) on the managed host.
      - Found on C(PATH) when left out.
    type: path
  baud:
    description:
      - Line speed to talk at on a serial port, as C(pinwright-cli --baud); the rate the printer uses now.
      - After a write that changes the printer's line, C(pinwright-cli) reads back at the new one.
      - 9600 when left out.
    type: int
    choices: [9600, 19200, 38400, 57600, 115200]
  data_bits:
    description:
      - Data bits of the line to talk at, as C(pinwright-cli --data-bits); 8 when left out.
    type: int
    choices: [7, 8]
  parity:
    description:
      - Parity of the line to talk at, as C(pinwright-cli --parity); none when left out.
    type: str
    choices: [none, odd, even]
  stop_bits:
    description:
      - Stop bits of the line to talk at, as C(pinwright-cli --stop-bits); 1 when left out.
    type: str
    choices: ['1', '1.5', '2']
requirements:
  - C(pinwright-cli) on the managed host (the C(pinwright) package).
notes:
  - The module runs C(pinwright-cli --json) on the managed host; the printer work, its waits and retries are
    the CLI's. See C(man pinwright-cli).
  - A user of the managed host needs access to the printer's device (the C(dialout) group for a serial port,
    C(lp) for a USB or parallel printer).
'''
