# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    # The options of the modules that talk to a printer: the serial line to talk at and the run's time limit.
    DOCUMENTATION = r'''
options:
  line:
    description:
      - The serial line to talk at, as C(pinwright-cli --baud), C(--data-bits), C(--parity) and C(--stop-bits).
        These are the line of this run, not printer settings (those are I(settings) of
        M(pinwright.escpos.memory_switches)).
      - Only serial ports have a line; on USB, parallel and network ports it is not used.
    type: dict
    suboptions:
      baud:
        description:
          - The rate to talk at, or C(auto) to find the line the printer answers at first (C(pinwright-cli
            --baud auto)), so a printer whose rate an earlier run changed is found at its new one.
          - C(auto) tries up to 30 lines (the five rates with 8 and 7 data bits and no, even or odd parity;
            115200 and 9600 8N1 first) with queries only, never a write; a silent printer is given up in under
            5 s. It finds the data bits and parity too, so I(data_bits), I(parity) and I(stop_bits) are not
            used with it.
          - A rate written as a number (C(9600)) is taken as well.
        type: str
        choices: [auto, '9600', '19200', '38400', '57600', '115200']
        default: auto
      data_bits:
        description:
          - Data bits to talk at with a given I(baud); 8 when left out.
        type: int
        choices: [7, 8]
      parity:
        description:
          - Parity to talk at with a given I(baud); none when left out.
        type: str
        choices: [none, odd, even]
      stop_bits:
        description:
          - Stop bits to talk at with a given I(baud); 1 when left out.
        type: str
        choices: ['1', '1.5', '2']
  timeout:
    description:
      - Seconds the whole C(pinwright-cli) run may take (C(pinwright-cli --timeout)), from 1 to 86400. When
        they pass, every port still working is stopped as on Ctrl-C (a printer in user setting mode is first
        taken out of it) and fails with rc 3.
      - Without it the run ends by the printer's own waits, which bound every step. Each reply is read as soon
        as it has come whole, so a printer that answers at once is read in well under a second and written in
        about a second. For one that does not answer, a reply on a serial line is waited for 5 s; a network
        printer's connection is given up after 5 s; C(line.baud=auto) gives up a silent printer in about
        2 s; the status of M(pinwright.escpos.printer_info) waits 2 s for each of its four replies; after a
        write the printer is asked whether it is back from its restart for up to 15 s, and a network printer
        is connected to again for up to 10 s.
      - Give it where a run must end by a time of its own (a till that opens at nine), or against a printer
        that answers so slowly that every step takes its full wait.
    type: int
'''
