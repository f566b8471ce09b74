# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    # What every module of the collection shares: where pinwright-cli is, and what the managed host needs.
    DOCUMENTATION = r'''
options:
  cli:
    description:
      - Path of C(pinwright-cli) on the managed host.
      - Found on C(PATH) when left out.
    type: path
requirements:
  - C(pinwright-cli) on the managed host (the Debian package C(pinwright)).
notes:
  - The module runs C(pinwright-cli --json) on the managed host; the printer work, its waits and retries are
    the CLI's. See C(man pinwright-cli).
  - A user of the managed host needs access to the printer's device (the C(dialout) group for a serial port,
    C(lp) for a USB or parallel printer); M(pinwright.escpos.ports_info) says who may open which.
  - Every module of the collection is in the action group C(pinwright.escpos.escpos), so one
    C(module_defaults) entry, C(group/pinwright.escpos.escpos), gives them all the same C(cli) or C(line).
'''
