# The results of a playbook run as one JSON document on standard output, for the tests to read: every task
# with its result on each host, then the stats. (ansible-core's own callbacks have no JSON one; the json
# callback of the ansible.posix collection is not installed with it.)
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

from ansible.plugins.callback import CallbackBase

DOCUMENTATION = '''
name: results_json
type: stdout
short_description: the playbook's results as one JSON document
description: Every task with its result on each host, and the stats, for the tests to read.
'''


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'stdout'
    CALLBACK_NAME = 'results_json'

    def __init__(self):
        super(CallbackModule, self).__init__()
        self.plays = []

    def v2_playbook_on_play_start(self, play):
        self.plays.append({'play': {'name': play.get_name()}, 'tasks': []})

    def v2_playbook_on_task_start(self, task, is_conditional):
        self.plays[-1]['tasks'].append({'task': {'name': task.get_name()}, 'hosts': {}})

    def _record(self, result, **extra):
        outcome = dict(result._result)
        outcome.update(extra)
        self.plays[-1]['tasks'][-1]['hosts'][result._host.get_name()] = outcome

    def v2_runner_on_ok(self, result):
        self._record(result)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._record(result, failed=True)

    def v2_runner_on_unreachable(self, result):
        self._record(result, unreachable=True)

    def v2_runner_on_skipped(self, result):
        self._record(result, skipped=True)

    def v2_playbook_on_stats(self, stats):
        summary = dict((host, stats.summarize(host)) for host in sorted(stats.processed))
        self._display.display(json.dumps({'plays': self.plays, 'stats': summary}, indent=2, sort_keys=True))
