# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible_collections.pinwright.escpos.plugins.modules import printer_info

GOOD = '/dev/ttyUSB0'
GONE = '/dev/ttyUSB9'
NET = 'tcp://192.168.1.50'
SETTINGS = {'baud-rate': 115200, 'data-bits': 8, 'parity': 'none', 'flow-control': 'dtr-dsr',
            'auto-cutter': 'full', 'auto-line-feed': False, 'code-page': 'PC850'}
SWITCHES = {'1': '00000000', '2': '00010100', '9': '10000000'}
READY = {'online': True, 'cover-open': False, 'paper': 'ok', 'feed-button': False, 'drawer-open': False,
         'errors': []}


def read(port, line=True):
    result = {'port': port, 'firmware': '2.10', 'maker': 'MERIDOX', 'model': 'LTX-580', 'settings': SETTINGS,
              'switches': SWITCHES}
    if line:
        result['line'] = {'baud': 115200, 'data-bits': 8, 'parity': 'none', 'stop-bits': '1'}
    return result


def unread(port, rc=2, error=None):
    return {'port': port, 'error': error or "Can't open port " + port, 'exit': rc}


def status(port, rc=0, error=None, **state):
    result = {'port': port, 'status': dict(READY, **state)}
    if rc:
        result.update(exit=rc, error=error)
    return result


class TestPorts:
    def test_get_then_status_on_every_port_with_the_line(self, run_module, cli):
        run = run_module(printer_info, dict(ports=[GOOD, NET], line={'baud': 115200}, timeout=60), [
            cli.reply(0, [read(GOOD), read(NET, line=False)]),
            cli.reply(0, [status(GOOD), status(NET)])])
        common = [cli.path, '--json', '--baud', '115200', '--timeout', '60', '-p', GOOD, '-p', NET]
        assert run.commands == [common + ['get'], common + ['status']]
        assert not run.failed and run.result['changed'] is False

    def test_a_printer_by_the_option_names(self, run_module, cli):
        run = run_module(printer_info, dict(port=GOOD), [cli.reply(0, read(GOOD)), cli.reply(0, status(GOOD))])
        assert run.result['printers'] == [{
            'port': GOOD, 'rc': 0,
            'line': {'baud': 115200, 'data_bits': 8, 'parity': 'none', 'stop_bits': '1'},
            'identity': {'maker': 'MERIDOX', 'model': 'LTX-580', 'firmware': '2.10'},
            'settings': {'baud_rate': 115200, 'data_bits': 8, 'parity': 'none', 'flow_control': 'dtr-dsr',
                         'auto_cutter': 'full', 'auto_line_feed': False, 'code_page': 'PC850'},
            'switches': SWITCHES,
            'status': {'online': True, 'cover_open': False, 'paper': 'ok', 'feed_button': False,
                       'drawer_open': False, 'errors': []},
            'status_rc': 0}]
        assert run.warnings == []

    def test_a_missing_port_is_reported_not_failed_and_the_good_printers_warnings_stay(self, run_module, cli):
        err = (GOOD + ": This printer don't match our company name.\n" + GONE + ": Can't open port " + GONE + "\n")
        run = run_module(printer_info, dict(ports=[GOOD, GONE]), [
            cli.reply(2, [read(GOOD), unread(GONE)], err),
            cli.reply(2, [status(GOOD), unread(GONE)])])
        assert not run.failed
        good, gone = run.result['printers']
        assert good['rc'] == 0 and good['settings']['code_page'] == 'PC850'
        assert gone == {'port': GONE, 'rc': 2, 'error': "Can't open port " + GONE, 'status_rc': 2,
                        'status_error': "Can't open port " + GONE}
        assert 'rc' not in run.result, 'Ansible would take the task for failed'
        assert run.warnings == ["port {0}: This printer don't match our company name.".format(GOOD),
                                "port {0}: Can't open port {0} (pinwright-cli exit 2)".format(GONE)]

    def test_fail_on_error_fails_with_every_ports_entry(self, run_module, cli):
        run = run_module(printer_info, dict(ports=[GOOD, GONE], fail_on_error=True), [
            cli.reply(2, [read(GOOD), unread(GONE)]), cli.reply(2, [status(GOOD), unread(GONE)])])
        assert run.failed and run.result['msg'] == "port {0}: Can't open port {0} (pinwright-cli exit 2)".format(GONE)
        assert [p['rc'] for p in run.result['printers']] == [0, 2]

    def test_fail_on_error_passes_when_every_port_was_read(self, run_module, cli):
        run = run_module(printer_info, dict(ports=[GOOD], fail_on_error=True),
                         [cli.reply(0, read(GOOD)), cli.reply(0, status(GOOD))])
        assert not run.failed

    def test_a_usage_error_of_the_whole_run_fails(self, run_module, cli):
        run = run_module(printer_info, dict(ports=[GOOD, GOOD]), [(1, '', 'a port may be given once\n')])
        assert run.failed and run.result['rc'] == 1 and run.result['printers'] == []
        assert run.result['msg'] == 'port {0}, {0}: a port may be given once (pinwright-cli exit 1)'.format(GOOD)

    def test_malformed_json_fails_cleanly(self, run_module):
        run = run_module(printer_info, dict(ports=[GOOD]), [(0, '[{"port": "/dev/ttyUSB0"},', 'oops\n')])
        assert run.failed and run.result['msg'].startswith('pinwright-cli printed no JSON result')
        assert run.result['stderr'] == 'oops\n' and run.result['printers'] == []

    def test_a_port_the_cli_left_out_is_an_error_of_its_own(self, run_module, cli):
        run = run_module(printer_info, dict(ports=[GOOD, GONE]), [
            cli.reply(3, [read(GOOD)]), cli.reply(0, [status(GOOD)])])
        assert not run.failed
        gone = run.result['printers'][1]
        assert gone['port'] == GONE and gone['rc'] == 3
        assert gone['error'] == 'pinwright-cli gave no result for this port'
        assert gone['status_error'] == 'pinwright-cli gave no status for this port'
        assert run.result['printers'][0]['status_rc'] == 0


class TestStatus:
    def test_a_printer_that_needs_attention_is_reported_and_warned_of_not_failed(self, run_module, cli):
        run = run_module(printer_info, dict(ports=[GOOD]), [
            cli.reply(0, read(GOOD)),
            cli.reply(5, status(GOOD, 5, 'needs attention: offline, paper out', paper='out', online=False))])
        assert not run.failed and 'rc' not in run.result
        p = run.result['printers'][0]
        assert p['status']['paper'] == 'out' and p['status']['online'] is False
        assert p['status_rc'] == 5 and p['status_error'] == 'needs attention: offline, paper out'
        assert run.warnings == ['port {0} needs attention: offline, paper out'.format(GOOD)]

    def test_paper_near_its_end_is_no_warning(self, run_module, cli):
        run = run_module(printer_info, dict(ports=[GOOD]), [
            cli.reply(0, read(GOOD)), cli.reply(0, status(GOOD, paper='near-end'))])
        assert run.result['printers'][0]['status']['paper'] == 'near-end' and run.warnings == []

    def test_a_status_that_cannot_be_read_is_warned_of(self, run_module, cli):
        run = run_module(printer_info, dict(ports=[GOOD]), [
            cli.reply(0, read(GOOD)), cli.reply(3, unread(GOOD, 3, 'no status reply'))])
        assert not run.failed
        p = run.result['printers'][0]
        assert 'status' not in p and p['status_rc'] == 3 and p['status_error'] == 'no status reply'
        assert run.warnings == ['port {0}: status not read: no status reply (pinwright-cli exit 3)'.format(GOOD)]

    def test_a_cli_without_the_status_command_leaves_the_reading_whole(self, run_module, cli):
        run = run_module(printer_info, dict(ports=[GOOD]), [
            cli.reply(0, read(GOOD)),
            (109, '', 'The following argument was not expected: status\nRun with --help for more information.\n')])
        assert not run.failed and run.result['printers'][0]['settings']['code_page'] == 'PC850'
        assert run.result['printers'][0]['status_rc'] == 109
        assert run.warnings == ['printer status not read: The following argument was not expected: status Run '
                                'with --help for more information. (pinwright-cli exit 109)']
