# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

# Runs a module's main() in the test's process with pinwright-cli mocked: run_command answers from a list of
# (rc, stdout, stderr) replies and records every command; exit_json and fail_json end the run with the result.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

import pytest

from ansible.module_utils import basic
from ansible.module_utils.common import warnings
from ansible.module_utils.common.text.converters import to_bytes

CLI = '/usr/bin/pinwright-cli'


class ModuleEnded(Exception):
    def __init__(self, result):
        super(ModuleEnded, self).__init__(result)
        self.result = result


class Run(object):
    def __init__(self, result, commands, warnings):
        self.result = result
        self.commands = commands
        self.warnings = warnings

    @property
    def failed(self):
        return self.result.get('failed', False)


@pytest.fixture
def run_module(monkeypatch):
    def run(module, args, replies=(), check=False, diff=False, cli_found=True):
        commands = []
        replies = list(replies)

        def run_command(self, command, **kwargs):
            commands.append(list(command))
            assert replies, 'pinwright-cli run once more than the test expects: {0}'.format(command)
            return replies.pop(0)

        def get_bin_path(self, name, required=False, opt_dirs=None):
            if cli_found:
                return CLI
            if required:
                self.fail_json(msg='Failed to find required executable "{0}" in paths'.format(name))
            return None

        def exit_json(self, **result):
            raise ModuleEnded(result)

        def fail_json(self, msg, **result):
            result.update(failed=True, msg=msg)
            raise ModuleEnded(result)

        monkeypatch.setattr(basic.AnsibleModule, 'run_command', run_command)
        monkeypatch.setattr(basic.AnsibleModule, 'get_bin_path', get_bin_path)
        monkeypatch.setattr(basic.AnsibleModule, 'exit_json', exit_json)
        monkeypatch.setattr(basic.AnsibleModule, 'fail_json', fail_json)
        monkeypatch.setattr(warnings, '_global_warnings', [])
        args = dict(args, _ansible_check_mode=check, _ansible_diff=diff, _ansible_remote_tmp='/tmp',
                    _ansible_keep_remote_files=False)
        monkeypatch.setattr(basic, '_ANSIBLE_ARGS', to_bytes(json.dumps({'ANSIBLE_MODULE_ARGS': args})))
        with pytest.raises(ModuleEnded) as ended:
            module.main()
        result = ended.value.result
        # What a module returns goes to the controller as JSON.
        json.dumps(result)
        assert not replies, 'pinwright-cli was not run as often as the test expects'
        return Run(result, commands, list(warnings.get_warning_messages()))

    return run


def reply(rc, out=None, err=''):
    """A pinwright-cli run: its exit status, its JSON (given as Python data) and its standard error."""
    return rc, json.dumps(out) if out is not None else '', err


@pytest.fixture
def cli():
    """The mocked pinwright-cli's path and a maker of its replies."""
    class Cli(object):
        path = CLI

        @staticmethod
        def reply(rc, out=None, err=''):
            return reply(rc, out, err)
    return Cli
