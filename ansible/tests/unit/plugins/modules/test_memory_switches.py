# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os

import pytest

from ansible_collections.pinwright.escpos.plugins.modules import memory_switches

PORT = '/dev/ttyUSB0'
SETTINGS = {'baud-rate': 115200, 'data-bits': 8, 'parity': 'none', 'flow-control': 'dtr-dsr',
            'auto-cutter': 'full', 'auto-line-feed': False, 'code-page': 'PC850'}
LINE = {'baud': 115200, 'data-bits': 8, 'parity': 'none', 'stop-bits': '1'}


def written(before=None, after=None, changes=('auto-cutter', 'code-page'), **extra):
    """What pinwright-cli set --json prints for a write that took."""
    before = dict(SETTINGS, **(before or {}))
    after = dict(before, **(after or {'auto-cutter': 'partial', 'code-page': 'PC858'}))
    result = {'port': PORT, 'line': LINE, 'written': 'yes', 'changed': bool(changes), 'changes': list(changes),
              'before': before, 'after': after, 'firmware': '2.10', 'maker': 'MERIDOX', 'model': 'LTX-580',
              'settings': after, 'switches': {'1': '00000000', '2': '01001000', '9': '10000000'}}
    result.update(extra)
    return result


def failure(rc, error, **extra):
    result = {'port': PORT, 'error': error, 'exit': rc}
    result.update(extra)
    return result


KEEP = {'port': PORT, 'settings': {'code_page': 'PC858', 'auto_cutter': 'partial'}}


class TestArguments:
    def test_settings_go_to_set_by_the_clis_keys_in_its_order(self, run_module, cli):
        run = run_module(memory_switches, dict(port=PORT, settings={
            'code_page': 'PC858', 'auto_line_feed': True, 'baud_rate': 19200}),
            [cli.reply(0, written())])
        assert run.commands == [[cli.path, '--json', '--baud', 'auto', '-p', PORT, 'set', 'baud-rate=19200',
                                 'auto-line-feed=on', 'code-page=PC858']]

    def test_the_line_is_its_own_option_apart_from_the_printers_settings(self, run_module, cli):
        # The printer is to hold 8N1; this run talks 7E1 at 9600.
        run = run_module(memory_switches, dict(port=PORT, line={'baud': 9600, 'data_bits': 7, 'parity': 'even'},
                                               settings={'data_bits': 8, 'parity': 'none'}),
                         [cli.reply(0, written())])
        assert run.commands == [[cli.path, '--json', '--baud', '9600', '--data-bits', '7', '--parity', 'even',
                                 '-p', PORT, 'set', 'data-bits=8', 'parity=none']]
        assert run.warnings == []

    def test_a_rate_written_as_a_number_is_taken(self, run_module, cli):
        run = run_module(memory_switches, dict(KEEP, line={'baud': 38400, 'stop_bits': 2}), [cli.reply(0, written())])
        assert run.commands[0][:6] == [cli.path, '--json', '--baud', '38400', '--stop-bits', '2']

    def test_line_options_beside_baud_auto_are_warned_of(self, run_module, cli):
        run = run_module(memory_switches, dict(KEEP, line={'data_bits': 7}), [cli.reply(0, written())])
        assert run.commands[0][:6] == [cli.path, '--json', '--baud', 'auto', '--data-bits', '7']
        assert any('data_bits not used with baud auto' in w for w in run.warnings), run.warnings

    def test_a_rate_the_printer_cannot_have_fails_before_the_cli_runs(self, run_module):
        run = run_module(memory_switches, dict(KEEP, line={'baud': 4800}))
        assert run.failed and 'baud' in run.result['msg'] and run.commands == []

    def test_a_setting_key_of_the_cli_is_refused_by_name(self, run_module):
        run = run_module(memory_switches, dict(port=PORT, settings={'code-page': 'PC858'}))
        assert run.failed and 'code-page' in run.result['msg'] and run.commands == []

    def test_no_setting_given_fails_naming_them_all(self, run_module):
        # (The action plugin drops the settings given as null.)
        run = run_module(memory_switches, dict(port=PORT, settings={}))
        assert run.failed and run.commands == []
        assert run.result['msg'] == ('settings: name at least one of baud_rate, data_bits, parity, flow_control, '
                                     'auto_cutter, auto_line_feed, code_page')

    def test_timeout_is_the_clis(self, run_module, cli):
        run = run_module(memory_switches, dict(KEEP, timeout=90), [cli.reply(0, written())])
        assert run.commands[0][:6] == [cli.path, '--json', '--baud', 'auto', '--timeout', '90']

    @pytest.mark.parametrize('timeout', [0, -5, 86401])
    def test_a_timeout_outside_the_clis_range_fails_before_it_runs(self, run_module, timeout):
        run = run_module(memory_switches, dict(KEEP, timeout=timeout))
        assert run.failed and run.commands == []
        assert run.result['msg'] == 'timeout: {0} is not from 1 to 86400 seconds'.format(timeout)

    def test_force_goes_after_set(self, run_module, cli):
        run = run_module(memory_switches, dict(KEEP, force=True), [cli.reply(0, written())])
        assert run.commands[0][-1] == '--force'

    def test_a_status_file_is_shown_first_then_applied(self, run_module, cli):
        show = cli.reply(0, {'file': '/etc/shop.sts', 'settings': SETTINGS, 'switches': {}})
        run = run_module(memory_switches, dict(port=PORT, status_file='/etc/shop.sts', remote_src=True),
                         [show, cli.reply(0, written())])
        assert run.commands == [[cli.path, 'show', '/etc/shop.sts'],
                                [cli.path, '--json', '--baud', 'auto', '-p', PORT, 'apply', '/etc/shop.sts']]

    def test_a_status_file_the_cli_refuses_fails_before_the_printer_is_touched(self, run_module, cli):
        run = run_module(memory_switches, dict(port=PORT, status_file='/etc/shop.STS', remote_src=True),
                         [(1, '', '/etc/shop.STS: Wrong format files loaded.\n')])
        assert run.failed and len(run.commands) == 1
        assert run.result['msg'] == 'status_file: /etc/shop.STS: Wrong format files loaded.'


class TestCheckDiffBackup:
    def test_check_mode_asks_the_cli_to_compare_only_and_makes_no_backup(self, run_module, cli):
        run = run_module(memory_switches, dict(KEEP, backup=True), [cli.reply(0, written(written='no'))],
                         check=True)
        assert run.commands[0] == [cli.path, '--json', '--baud', 'auto', '-p', PORT, '--check', 'set',
                                   'auto-cutter=partial', 'code-page=PC858']
        assert run.result['changed'] is True and 'backup_file' not in run.result

    def test_diff_shows_the_settings_that_differ_by_the_option_names(self, run_module, cli):
        run = run_module(memory_switches, KEEP, [cli.reply(0, written())], diff=True)
        assert run.result['diff'] == {'before': {'auto_cutter': 'full', 'code_page': 'PC850'},
                                      'after': {'auto_cutter': 'partial', 'code_page': 'PC858'},
                                      'before_header': PORT + ' (as read)', 'after_header': PORT + ' (to be)'}

    def test_no_diff_unless_asked(self, run_module, cli):
        run = run_module(memory_switches, KEEP, [cli.reply(0, written())])
        assert 'diff' not in run.result

    def test_backup_goes_to_an_absolute_directory_and_comes_back_as_backup_file(self, run_module, cli, tmp_path,
                                                                                monkeypatch):
        monkeypatch.chdir(tmp_path)
        saved = str(tmp_path / 'bk' / 'ttyUSB0-20261208T101500Z.sts')
        run = run_module(memory_switches, dict(KEEP, backup=True, backup_dir='bk'),
                         [cli.reply(0, written(backup=saved))])
        assert run.commands[0][4:8] == ['-p', PORT, '--backup', str(tmp_path / 'bk')]
        assert run.result['backup_file'] == saved

    def test_backup_dir_defaults_to_the_home_of_the_managed_hosts_user(self, run_module, cli):
        run = run_module(memory_switches, dict(KEEP, backup=True), [cli.reply(0, written(changes=[]))])
        assert run.commands[0][6:8] == ['--backup', os.path.expanduser('~/pinwright-backups')]
        assert 'backup_file' not in run.result, 'nothing written, no backup'


class TestResults:
    def test_a_write_returns_the_settings_by_the_option_names(self, run_module, cli):
        run = run_module(memory_switches, KEEP, [cli.reply(0, written())])
        r = run.result
        assert r['changed'] is True and not run.failed
        assert r['changes'] == ['auto_cutter', 'code_page']
        assert r['before'] == {'baud_rate': 115200, 'data_bits': 8, 'parity': 'none', 'flow_control': 'dtr-dsr',
                               'auto_cutter': 'full', 'auto_line_feed': False, 'code_page': 'PC850'}
        assert r['after']['code_page'] == 'PC858'
        assert r['line'] == {'baud': 115200, 'data_bits': 8, 'parity': 'none', 'stop_bits': '1'}
        assert r['written'] == 'yes' and r['rc'] == 0
        assert r['identity'] == {'maker': 'MERIDOX', 'model': 'LTX-580', 'firmware': '2.10'}
        assert r['switches']['2'] == '01001000'

    def test_a_printer_that_holds_its_settings_is_ok(self, run_module, cli):
        run = run_module(memory_switches, KEEP, [cli.reply(0, written(changes=[], after={}, written='no',
                                                                      changed=False))])
        assert run.result['changed'] is False and run.result['changes'] == []

    def test_the_clis_warnings_about_the_printer_are_kept_but_not_the_read_back_line(self, run_module, cli):
        err = PORT + ': This printer don\'t match our company name.\n' + PORT + ': reading back at 19200 8N1\n'
        run = run_module(memory_switches, KEEP, [cli.reply(0, written(), err)])
        assert run.warnings == ['port {0}: This printer don\'t match our company name.'.format(PORT)]


class TestFailures:
    def test_usage_error_without_json_fails_with_the_clis_words(self, run_module, cli):
        run = run_module(memory_switches, KEEP, [(1, '', 'set: unknown key\nRun with --help for more information.\n')])
        assert run.failed and run.result['rc'] == 1
        assert run.result['msg'] == ('port {0}: set: unknown key Run with --help for more information. '
                                     '(pinwright-cli exit 1)'.format(PORT))

    def test_a_port_that_cannot_be_opened(self, run_module, cli):
        run = run_module(memory_switches, KEEP, [cli.reply(2, failure(2, "Can't open port " + PORT, written='no'))])
        assert run.failed and run.result['rc'] == 2 and run.result['changed'] is False
        assert run.result['msg'] == "port {0}: Can't open port {0} (pinwright-cli exit 2)".format(PORT)

    def test_no_answer_at_a_given_rate_points_to_baud_auto(self, run_module, cli):
        error = "Can't connect printer. Please restart printer."
        run = run_module(memory_switches, dict(KEEP, line={'baud': 9600}), [cli.reply(3, failure(3, error))])
        assert run.failed and run.result['rc'] == 3 and run.result['error'] == error
        assert run.result['msg'].endswith('(pinwright-cli exit 3); with line.baud auto the printer is looked for '
                                          'at every line it can be set to')

    def test_no_answer_with_baud_auto_says_no_more_than_the_cli(self, run_module, cli):
        run = run_module(memory_switches, KEEP, [cli.reply(3, failure(3, 'no line answered'))])
        assert run.result['msg'] == 'port {0}: no line answered (pinwright-cli exit 3)'.format(PORT)

    def test_a_setting_not_taken_names_it_by_its_option(self, run_module, cli):
        out = written(error='the printer did not take code-page', exit=4, **{'not-taken': ['code-page']})
        run = run_module(memory_switches, KEEP, [cli.reply(4, out)])
        assert run.failed and run.result['rc'] == 4 and run.result['changed'] is True
        assert run.result['not_taken'] == ['code_page']
        assert 'another host' not in run.result['msg'], 'a serial printer is no one else\'s'

    def test_a_setting_not_taken_on_a_network_printer_says_another_host_may_have_written(self, run_module, cli):
        port = 'tcp://192.168.1.50:9100'
        out = dict(written(error='the printer did not take code-page', exit=4, **{'not-taken': ['code-page']}),
                   port=port)
        del out['line']
        run = run_module(memory_switches, dict(KEEP, port='tcp://192.168.1.50'), [cli.reply(4, out)])
        assert run.failed and 'line' not in run.result
        assert run.result['msg'] == (
            'port tcp://192.168.1.50:9100: the printer did not take code-page (pinwright-cli exit 4); a network '
            'printer is read back over a new connection, so another host may have changed it in between: give '
            'each network printer to one host (throttle: 1)')

    def test_a_run_stopped_by_its_timeout(self, run_module, cli):
        out = failure(3, 'stopped: the --timeout of 5 s passed; user setting mode was ended', written='partly')
        run = run_module(memory_switches, dict(KEEP, timeout=5), [cli.reply(3, out)])
        assert run.failed and run.result['written'] == 'partly'
        assert 'the --timeout of 5 s passed' in run.result['msg']

    def test_a_cli_killed_by_a_signal(self, run_module, cli):
        run = run_module(memory_switches, KEEP, [(-9, '', '')])
        assert run.failed and run.result['msg'] == 'pinwright-cli was stopped by signal 9'

    @pytest.mark.parametrize('out', ['{"port": "/dev/ttyUSB0", "chan', 'Segmentation fault', '[1, 2]', '"text"',
                                     '{"port": 7}', 'null'])
    def test_malformed_json_fails_cleanly_with_the_clis_stderr(self, run_module, out):
        run = run_module(memory_switches, KEEP, [(0, out, 'something broke\n')])
        assert run.failed and run.result['msg'].startswith('pinwright-cli printed no JSON result: ')
        assert run.result['stderr'] == 'something broke\n'

    def test_bytes_that_are_not_utf8_come_back_as_replacement_characters(self, run_module):
        run = run_module(memory_switches, KEEP, [(3, '\udcff\udcfe garbage', PORT + ': \udc9b2J\n')])
        assert run.failed and '\ufffd\ufffd garbage' in run.result['msg']
        assert '\udcff' not in run.result['msg'] and '\udc9b' not in run.result['stderr']

    def test_no_result_at_exit_0_fails(self, run_module):
        run = run_module(memory_switches, KEEP, [(0, '', '')])
        assert run.failed and run.result['msg'] == 'pinwright-cli printed no result (exit 0)'

    def test_two_results_for_one_port_fail(self, run_module, cli):
        run = run_module(memory_switches, KEEP, [cli.reply(0, [written(), written()])])
        assert run.failed and run.result['msg'] == 'pinwright-cli gave 2 results for one port'

    def test_a_missing_cli_fails_without_a_traceback(self, run_module):
        run = run_module(memory_switches, KEEP, cli_found=False)
        assert run.failed and 'pinwright-cli' in run.result['msg'] and run.commands == []

    def test_a_cli_path_that_is_no_program_fails_before_it_runs(self, run_module, tmp_path):
        run = run_module(memory_switches, dict(KEEP, cli=str(tmp_path / 'pinwright-cli')))
        assert run.failed and run.commands == []
        assert run.result['msg'] == 'cli: {0} is not an executable file'.format(tmp_path / 'pinwright-cli')
