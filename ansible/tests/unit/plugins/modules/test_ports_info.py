# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import pytest

from ansible_collections.pinwright.escpos.plugins.modules import ports_info

PORTS = [
    {'port': 'COM1', 'device': '/dev/ttyS0', 'present': True, 'product': None, 'usb-id': None,
     'access': {'usable': False, 'group': 'dialout', 'command': 'sudo usermod -aG dialout till'}},
    {'port': 'COM2', 'device': '/dev/ttyUSB0', 'present': True, 'product': 'FTDI FT232R USB UART',
     'usb-id': '0403:6001', 'access': {'usable': True, 'group': None, 'command': None}},
    {'port': 'USB', 'device': None, 'present': False, 'product': None, 'usb-id': None, 'access': None},
]


def test_the_ports_by_the_option_names_access_included(run_module, cli):
    run = run_module(ports_info, {}, [cli.reply(0, PORTS)], check=True)
    assert run.commands == [[cli.path, '--json', 'ports']], 'no line, no port'
    assert not run.failed and run.result['changed'] is False
    assert run.result['ports'] == [
        {'port': 'COM1', 'device': '/dev/ttyS0', 'present': True, 'product': None, 'usb_id': None,
         'access': {'usable': False, 'group': 'dialout', 'command': 'sudo usermod -aG dialout till'}},
        {'port': 'COM2', 'device': '/dev/ttyUSB0', 'present': True, 'product': 'FTDI FT232R USB UART',
         'usb_id': '0403:6001', 'access': {'usable': True, 'group': None, 'command': None}},
        {'port': 'USB', 'device': None, 'present': False, 'product': None, 'usb_id': None, 'access': None}]


def test_a_device_text_that_is_not_utf8_is_made_safe(run_module):
    out = '[{"port": "COM3", "device": "/dev/ttyUSB1", "present": true, "product": "\udcff\udcfeX", ' \
          '"usb-id": null, "access": null}]'
    run = run_module(ports_info, {}, [(0, out, '')])
    assert run.result['ports'][0]['product'] == '\ufffd\ufffdX'


@pytest.mark.parametrize('out', ['', 'ports: nothing', '{"port": 1}'])
def test_no_list_fails_cleanly(run_module, out):
    run = run_module(ports_info, {}, [(0 if out else 1, out, 'broken\n')])
    assert run.failed and run.result['ports'] == []


def test_a_missing_cli(run_module):
    run = run_module(ports_info, {}, cli_found=False)
    assert run.failed and 'pinwright-cli' in run.result['msg']
