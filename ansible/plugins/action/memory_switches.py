# -*- coding: utf-8 -*-
# Copyright: Pinwright developers
# GNU General Public License v3.0+ (see LICENSE or https://www.gnu.org/licenses/gpl-3.0.txt)

# memory_switches on the controller: a status_file kept with the playbook (as copy's src) goes to the managed
# host's temporary directory for the module's run and goes with it; settings given as null are dropped.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os

from ansible.errors import AnsibleError
from ansible.module_utils.common.text.converters import to_text
from ansible.module_utils.parsing.convert_bool import boolean
from ansible.plugins.action import ActionBase

MODULE = 'pinwright.escpos.memory_switches'


class ActionModule(ActionBase):

    TRANSFERS_FILES = True

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        del tmp
        args = dict(self._task.args)
        # A setting given as null is left as the printer has it, as one left out is (the module's choices
        # would refuse None).
        if isinstance(args.get('settings'), dict):
            args['settings'] = dict((k, v) for k, v in args['settings'].items() if v is not None)
        source = args.get('status_file')
        try:
            remote_src = boolean(args.get('remote_src', False), strict=True)
        except TypeError as e:
            result.update(failed=True, msg='remote_src: {0}'.format(to_text(e)))
            return result
        try:
            if source is None or remote_src:
                result.update(self._execute_module(module_name=MODULE, module_args=args, task_vars=task_vars))
                return result
            try:
                found = self._find_needle('files', source)
            except AnsibleError as e:
                result.update(failed=True, rc=1, msg='status_file: {0}'.format(to_text(e)))
                return result
            # The file keeps its name: the CLI reads a status file by its name's end, as Load Status does.
            remote = self._connection._shell.join_path(self._connection._shell.tmpdir, os.path.basename(found))
            self._transfer_file(found, remote)
            self._fixup_perms2((self._connection._shell.tmpdir, remote))
            args.update(status_file=remote, remote_src=True)
            result.update(self._execute_module(module_name=MODULE, module_args=args, task_vars=task_vars))
            # Name the file the playbook gave, not its passing copy.
            if isinstance(result.get('msg'), str):
                result['msg'] = result['msg'].replace(remote, found)
            return result
        finally:
            self._remove_tmp_path(self._connection._shell.tmpdir)
