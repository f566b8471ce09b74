# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible_collections.pinwright.escpos.plugins.modules import self_test

PORT = '/dev/ttyUSB0'
LINE = {'baud': 9600, 'data-bits': 8, 'parity': 'none', 'stop-bits': '1'}


def test_check_mode_sends_nothing_and_says_so(run_module):
    run = run_module(self_test, dict(port=PORT, page=2), check=True)
    assert run.commands == []
    assert run.result['changed'] is False and run.result['skipped'] is True
    assert run.result['msg'] == 'check mode: test page 2 not printed on {0} (it would be)'.format(PORT)


def test_a_printed_page_is_a_change(run_module, cli):
    run = run_module(self_test, dict(port=PORT, page=2, timeout=30),
                     [cli.reply(0, {'port': PORT, 'line': LINE, 'self-test': 'sent'})])
    assert run.commands == [[cli.path, '--json', '--baud', 'auto', '--timeout', '30', '-p', PORT, 'self-test', '2']]
    assert run.result['changed'] is True and run.result['page'] == 2
    assert run.result['line'] == {'baud': 9600, 'data_bits': 8, 'parity': 'none', 'stop_bits': '1'}


def test_page_1_by_default(run_module, cli):
    run = run_module(self_test, dict(port=PORT), [cli.reply(0, {'port': PORT, 'self-test': 'sent'})])
    assert run.commands[0][-2:] == ['self-test', '1']


def test_a_printer_that_does_not_answer_prints_nothing(run_module, cli):
    error = "Can't connect printer. Please restart printer."
    run = run_module(self_test, dict(port=PORT), [cli.reply(3, {'port': PORT, 'error': error, 'exit': 3})])
    assert run.failed and run.result['changed'] is False and run.result['rc'] == 3
    assert run.result['msg'] == 'port {0}: {1} (pinwright-cli exit 3)'.format(PORT, error)


def test_a_reply_that_does_not_say_sent_is_no_page(run_module, cli):
    run = run_module(self_test, dict(port=PORT), [cli.reply(0, {'port': PORT})])
    assert run.failed and run.result['changed'] is False
    assert run.result['msg'] == 'pinwright-cli did not say the page was sent'


def test_malformed_json(run_module):
    run = run_module(self_test, dict(port=PORT), [(0, 'sent', '')])
    assert run.failed and run.result['msg'] == 'pinwright-cli printed no JSON result: sent'
