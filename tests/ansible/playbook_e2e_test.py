#!/usr/bin/python3
"""The collection pinwright.escpos end to end: ansible-playbook with the local connection against pinwright-sim
printers, on pseudo-terminals and as network printers over loopback, running the collection's own examples;
and plays over the inventory pinwright-cli discover writes and over the modules' results, against printers
whose texts are templates.

Usage: playbook_e2e_test.py --cli PINWRIGHT_CLI --sim PINWRIGHT_SIM --collection ANSIBLE_DIR [unittest args]
"""

import argparse
import importlib.util
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
PLAY_LIMIT = 240  # seconds for one ansible-playbook run
ENTERED = '-- user setting mode'


class Sim:
    """One pinwright-sim with its switches in a state file and its trace in a log."""

    def __init__(self, work, name, network, extra=()):
        self.name = name
        self.log_path = os.path.join(work, name + '.log')
        args = [ARGS.sim, '--state', os.path.join(work, name + '.state'), '--trace'] + list(extra)
        if network:
            args += ['--listen', '127.0.0.1:0']
        with open(self.log_path, 'wb') as log:
            self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=log, bufsize=0)
        line = b''
        while not line.endswith(b'\n'):
            ready, _, _ = select.select([self.proc.stdout], [], [], 10)
            if not ready:
                self.stop()
                raise RuntimeError('waited 10 s for pinwright-sim {0} to say where it is'.format(name))
            byte = self.proc.stdout.read(1)
            if not byte:
                raise RuntimeError('pinwright-sim {0} ended at start: {1}'.format(name, self.log()))
            line += byte
        kind, where = line.decode().strip().split(': ', 1)
        self.port = 'tcp://' + where if kind == 'tcp' else where

    def log(self):
        with open(self.log_path, encoding='utf-8', errors='replace') as f:
            return f.read()

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=10)
        self.proc.stdout.close()


def ansible_environment(work):
    """The environment of ansible-playbook offline: the collection and pinwright-cli found as on a managed
    host, home and temporary files in `work`."""
    tree = os.path.join(work, 'collections', 'ansible_collections', 'pinwright')
    os.makedirs(tree)
    os.symlink(os.path.abspath(ARGS.collection), os.path.join(tree, 'escpos'))
    os.makedirs(os.path.join(work, 'bin'))
    os.symlink(os.path.abspath(ARGS.cli), os.path.join(work, 'bin', 'pinwright-cli'))
    for d in ('home', 'tmp'):
        os.makedirs(os.path.join(work, d))
    env = dict(os.environ)
    env.update({
        'PATH': os.path.join(work, 'bin') + os.pathsep + os.environ.get('PATH', '/usr/bin:/bin'),
        'HOME': os.path.join(work, 'home'),
        'ANSIBLE_COLLECTIONS_PATH': os.path.join(work, 'collections'),
        'ANSIBLE_LOCAL_TEMP': os.path.join(work, 'tmp'),
        'ANSIBLE_REMOTE_TEMP': os.path.join(work, 'tmp'),
        'ANSIBLE_PYTHON_INTERPRETER': sys.executable,
        'ANSIBLE_NOCOLOR': '1',
        'ANSIBLE_RETRY_FILES_ENABLED': '0',
        'ANSIBLE_LOCALHOST_WARNING': '0',
        'ANSIBLE_FORKS': '8',
        'ANSIBLE_CALLBACK_PLUGINS': os.path.join(os.path.dirname(os.path.abspath(__file__)), 'callback_plugins'),
    })
    env.pop('ANSIBLE_CONFIG', None)
    return env


def fake_usb_printer(root, maker, product):
    """A sysfs tree at `root`, shaped like the kernel's, with one USB printer lp0 reporting `maker` and `product`;
    the environment that points pinwright-cli at it."""
    device = os.path.join(root, 'devices', 'pci0000:00', '0000:00:14.0', 'usb1', '1-1')
    interface = os.path.join(device, '1-1:1.0')
    entry = os.path.join(interface, 'usbmisc', 'lp0')
    os.makedirs(entry)
    for name, value in (('manufacturer', maker), ('product', product), ('idVendor', '0fe6'), ('idProduct', '811e')):
        with open(os.path.join(device, name), 'w') as f:
            f.write(value + '\n')
    os.symlink(interface, os.path.join(entry, 'device'))
    for d in ('class/usbmisc', 'class/tty', 'dev/usb'):
        os.makedirs(os.path.join(root, d))
    os.symlink(entry, os.path.join(root, 'class', 'usbmisc', 'lp0'))
    open(os.path.join(root, 'dev', 'usb', 'lp0'), 'w').close()
    return {'PINWRIGHT_SYSFS': root, 'PINWRIGHT_USB_DIR': os.path.join(root, 'dev', 'usb')}


class Plays(unittest.TestCase):
    """Playbook runs in the class's folder `work` with its environment `env`, their results read as JSON."""

    work = None
    env = None
    inventory = None

    def play(self, playbook, *options, inventory=None, callback='results_json'):
        """Runs a playbook, bounded; returns (exit status, stdout)."""
        env = dict(self.env, ANSIBLE_STDOUT_CALLBACK=callback)
        command = ['ansible-playbook', '-i', inventory or self.inventory, playbook] + list(options)
        try:
            run = subprocess.run(command, env=env, cwd=self.work, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, timeout=PLAY_LIMIT, check=False)
        except subprocess.TimeoutExpired:
            self.fail('ansible-playbook {0} did not end within {1} s'.format(playbook, PLAY_LIMIT))
        out = run.stdout.decode()
        if callback == 'results_json' and not out.strip().startswith('{'):
            self.fail('no JSON from ansible-playbook {0} (status {1}):\n{2}\n{3}'.format(
                playbook, run.returncode, out, run.stderr.decode()))
        return run.returncode, out

    @staticmethod
    def results(out, task=0):
        """The results of one task by host, and the play's stats, from the results_json callback."""
        data = json.loads(out)
        return data['plays'][0]['tasks'][task]['hosts'], data['stats']


class Fleet(Plays):
    """Five tills: two printers on pseudo-terminals, two on the network, and one whose printer is not there.
    The tests run in order on the same printers."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='pinwright-ansible-')
        cls.sims = []
        try:
            cls._set_up()
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def _set_up(cls):
        work = cls.work
        cls.env = ansible_environment(work)

        tills = [('till1', False), ('till2', False), ('till3', True), ('till4', True)]
        cls.printers = {}
        for name, network in tills:
            sim = Sim(work, name, network)
            cls.sims.append(sim)
            cls.printers[name] = sim
        cls.missing = os.path.join(work, 'no-such-device')
        hosts = dict((name, dict(printer_port=sim.port)) for name, sim in cls.printers.items())
        hosts['till5'] = dict(printer_port=cls.missing)
        for h in hosts.values():
            h['ansible_connection'] = 'local'
        cls.inventory = os.path.join(work, 'inventory.json')
        with open(cls.inventory, 'w') as f:
            json.dump({'tills': {'hosts': hosts}}, f)

    @classmethod
    def tearDownClass(cls):
        for sim in cls.sims:
            sim.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def entered(self, name):
        return self.printers[name].log().count(ENTERED)

    def example(self, name):
        return os.path.join(ARGS.collection, 'examples', name)

    def test_0_the_settings_choices_are_the_clis(self):
        found = importlib.util.spec_from_file_location(
            '_pinwright_cli', os.path.join(ARGS.collection, 'plugins', 'module_utils', '_pinwright_cli.py'))
        utils = importlib.util.module_from_spec(found)
        found.loader.exec_module(utils)
        shown = subprocess.run([ARGS.cli, '--help'], stdout=subprocess.PIPE, timeout=30, check=True)
        table = shown.stdout.decode().split('Setting keys and values of set')[1].split('\n\n')[0]
        cli = [line.split() for line in table.splitlines()[1:]]
        self.assertEqual([key for key, _ in cli], [utils.cli_key(option) for option in utils.SETTINGS])
        self.assertEqual(sorted(utils.SETTINGS_SPEC), sorted(utils.SETTINGS))
        for key, values in cli:
            name = utils.option_name(key)
            self.assertTrue(name.isidentifier(), name)
            option = utils.SETTINGS_SPEC[name]
            if option['type'] == 'bool':
                self.assertEqual(values, 'off|on', key)
                self.assertEqual(utils.setting_argument(name, False), key + '=off')
                self.assertEqual(utils.setting_argument(name, True), key + '=on')
            else:
                self.assertEqual('|'.join(str(v) for v in option['choices']), values, key)

    def test_1_check_mode_writes_nothing_and_diff_shows_the_code_page(self):
        status, out = self.play(self.example('printers.yml'), '--check', '--diff', callback='default')
        self.assertEqual(status, 2, 'a failed host\n' + out)
        for name, sim in self.printers.items():
            self.assertIn('changed: [{0}]'.format(name), out)
            self.assertIn('--- before: {0} (as read)'.format(sim.port), out)
        self.assertEqual(out.count('-    "code_page": "PC850"'), 4, out)
        self.assertEqual(out.count('+    "code_page": "PC858"'), 4, out)
        self.assertEqual(out.count('-    "auto_cutter": "full"'), 4, out)
        self.assertNotIn('baud_rate', out, 'only the settings that differ')
        self.assertRegex(out, r'fatal: \[till5\]: FAILED! => .*port {0}: Can.t open port'.format(
            re.escape(self.missing)))
        self.assertRegex(out, r'till1 +: ok=1 +changed=1 .*failed=0')
        self.assertRegex(out, r'till5 +: ok=0 +changed=0 .*failed=1')
        for name, sim in self.printers.items():
            self.assertEqual(self.entered(name), 0, sim.log())
            self.assertIn('<- 1D 28 45 02 00 04 02', sim.log(), 'read')

    def test_2_the_first_run_writes_and_the_second_writes_nothing(self):
        status, out = self.play(self.example('printers.yml'))
        self.assertEqual(status, 2)
        hosts, stats = self.results(out)
        for name, sim in self.printers.items():
            r = hosts[name]
            self.assertTrue(r['changed'], r)
            self.assertFalse(r.get('failed', False), r)
            self.assertEqual(r['changes'], ['auto_cutter', 'code_page'])
            self.assertEqual(r['before']['code_page'], 'PC850')
            self.assertEqual(r['after'], {'baud_rate': 115200, 'data_bits': 8, 'parity': 'none',
                                          'flow_control': 'dtr-dsr', 'auto_cutter': 'partial',
                                          'auto_line_feed': False, 'code_page': 'PC858'})
            if name in ('till1', 'till2'):
                self.assertEqual(r['line'], {'baud': 115200, 'data_bits': 8, 'parity': 'none', 'stop_bits': '1'},
                                 'found by baud auto')
            else:
                self.assertNotIn('line', r, 'a network printer has no line')
            self.assertEqual(r['switches']['2'], '01001000', 'as read back')
            self.assertEqual(r['identity'], {'maker': 'MERIDOX', 'model': 'LTX-580', 'firmware': '2.10 SIM'})
            self.assertEqual(r['port'], sim.port)
            self.assertEqual(self.entered(name), 1, sim.log())
        failed = hosts['till5']
        self.assertTrue(failed['failed'])
        self.assertEqual(failed['rc'], 2)
        self.assertTrue(failed['msg'].startswith('port {0}: Can\'t open port'.format(self.missing)), failed)
        self.assertTrue(failed['msg'].endswith('(pinwright-cli exit 2)'), failed)
        self.assertEqual(stats['till5']['failures'], 1)
        self.assertEqual(stats['till1']['changed'], 1)

        status, out = self.play(self.example('printers.yml'), '--diff')
        self.assertEqual(status, 2)
        hosts, stats = self.results(out)
        for name, sim in self.printers.items():
            self.assertFalse(hosts[name]['changed'], hosts[name])
            self.assertEqual(hosts[name]['changes'], [])
            self.assertEqual(hosts[name]['before'], hosts[name]['after'])
            self.assertEqual(hosts[name]['diff'], {'before': {}, 'after': {},
                                                   'before_header': sim.port + ' (as read)',
                                                   'after_header': sim.port + ' (to be)'})
            self.assertEqual(stats[name]['ok'], 1)
            self.assertEqual(stats[name]['changed'], 0)
            self.assertEqual(self.entered(name), 1, 'no write the second time\n' + sim.log())
        self.assertEqual(stats['till5']['failures'], 1)

    def test_3_printer_info_reads_reports_a_missing_printer_and_changes_nothing(self):
        status, out = self.play(self.example('report.yml'), '--check')
        self.assertEqual(status, 0, 'a printer that cannot be read is reported, not failed\n' + out)
        hosts, stats = self.results(out)
        for name, sim in self.printers.items():
            printer = hosts[name]['printers'][0]
            self.assertFalse(hosts[name]['changed'])
            self.assertFalse(hosts[name].get('failed', False), hosts[name])
            self.assertEqual(printer['port'], sim.port)
            self.assertEqual(printer['rc'], 0)
            self.assertEqual(printer['identity']['model'], 'LTX-580')
            self.assertEqual(printer['settings']['code_page'], 'PC858')
            self.assertEqual(printer['switches'], {'1': '00000000', '2': '01001000', '9': '10000000'})
            self.assertEqual(self.entered(name), 1, 'nothing written since the first run')
            self.assertEqual(printer['status_rc'], 0, printer)
            self.assertEqual(printer['status']['paper'], 'ok')
            self.assertTrue(printer['status']['online'])
            self.assertIn('<- 10 04 04', sim.log(), 'status asked with DLE EOT 4')
        missing = hosts['till5']['printers'][0]
        self.assertEqual(missing['rc'], 2)
        self.assertEqual(missing['status_rc'], 2)
        self.assertTrue(missing['error'].startswith("Can't open port"), missing)
        self.assertIn(self.missing, missing['error'])
        self.assertIn("port {0}: Can't open port".format(self.missing), ' '.join(hosts['till5']['warnings']))
        for name in ('till1', 'till5'):
            self.assertEqual(stats[name]['failures'], 0, name)
            self.assertEqual(stats[name]['ok'], 2, 'read, and shown or said what failed')
        shown, _ = self.results(out, task=1)
        self.assertIn('MERIDOX LTX-580 (firmware 2.10 SIM): {"baud_rate": 115200', shown['till3']['msg'])
        said, _ = self.results(out, task=2)
        self.assertIn("{0}: Can't open port".format(self.missing), said['till5']['msg'])
        self.assertTrue(said['till1'].get('skipped'), said['till1'])

    def test_4_bad_input_fails_before_the_printer_is_touched(self):
        untouched = Sim(self.work, 'untouched', False)
        self.sims.append(untouched)
        stubborn = Sim(self.work, 'stubborn', True, ['--fault', 'ignore-writes'])
        self.sims.append(stubborn)
        files = os.path.join(self.work, 'files')
        os.makedirs(files)
        with open(os.path.join(files, 'short.sts'), 'w') as f:
            f.write('not 88 bytes')
        held = os.path.join(files, 'held.sts')
        saved = subprocess.run([ARGS.cli, '-p', stubborn.port, 'get', '-o', held], stdout=subprocess.PIPE,
                               timeout=60, check=False)
        self.assertEqual(saved.returncode, 0)
        shutil.copy(held, os.path.join(files, 'held.STS'))
        tasks = [
            ('a code page the printer has not', untouched, {'settings': {'code_page': 'PC999'}}),
            ('a key as the CLI spells it', untouched, {'settings': {'code-page': 'PC858'}}),
            ('an unknown key', untouched, {'settings': {'speed': 9600}}),
            ('no setting', untouched, {'settings': {}}),
            ('both', untouched, {'settings': {'parity': 'odd'}, 'status_file': held}),
            ('a short status file', untouched, {'status_file': os.path.join(files, 'short.sts')}),
            ('an upper-case extension', untouched, {'status_file': os.path.join(files, 'held.STS')}),
            ('no status file', untouched, {'status_file': os.path.join(files, 'absent.sts')}),
            ('no status file on the managed host', untouched,
             {'status_file': os.path.join(files, 'absent.sts'), 'remote_src': True}),
            ('a printer that does not take it', stubborn, {'settings': {'code_page': 'PC858'}}),
            ('a file the printer holds', stubborn, {'status_file': held}),
        ]
        playbook = [{'name': 'Bad input', 'hosts': 'lab', 'gather_facts': False, 'tasks': [
            dict({'name': name, 'ignore_errors': True,
                  'pinwright.escpos.memory_switches': dict(port=sim.port, **options)})
            for name, sim, options in tasks]}]
        path = os.path.join(self.work, 'bad_input.json')
        with open(path, 'w') as f:
            json.dump(playbook, f)
        inventory = os.path.join(self.work, 'lab.json')
        with open(inventory, 'w') as f:
            json.dump({'all': {'hosts': {'lab': {'ansible_connection': 'local'}}}}, f)
        status, out = self.play(path, inventory=inventory)
        self.assertEqual(status, 0, 'every error ignored')
        data = json.loads(out)
        result = dict((t['task']['name'], t['hosts']['lab']) for t in data['plays'][0]['tasks'])

        def failed(name, *texts):
            r = result[name]
            self.assertTrue(r.get('failed'), r)
            for text in texts:
                self.assertIn(text, r['msg'], name)
            return r

        failed('a code page the printer has not', 'code_page', 'PC999', 'settings')
        failed('a key as the CLI spells it', 'code-page', 'settings')
        failed('an unknown key', 'speed', 'settings')
        failed('no setting', 'settings: name at least one of baud_rate')
        failed('both', 'mutually exclusive', 'settings|status_file')
        failed('a short status file', 'status_file', 'short.sts: Wrong format files loaded.')
        failed('an upper-case extension', 'status_file', 'held.STS: Wrong format files loaded.')
        failed('no status file', 'status_file', 'absent.sts')
        failed('no status file on the managed host', 'status_file', 'absent.sts')
        self.assertNotIn('<-', untouched.log(), 'the printer got nothing')

        r = failed('a printer that does not take it',
                   'port {0}: the printer did not take code-page (pinwright-cli exit 4)'.format(stubborn.port))
        self.assertEqual(r['rc'], 4)
        self.assertEqual(r['not_taken'], ['code_page'])
        self.assertTrue(r['changed'], 'written, though not taken')
        self.assertEqual(r['after']['code_page'], 'PC858')
        self.assertIn('another host may have changed it', r['msg'], 'a network printer')
        self.assertEqual(r['switches']['2'], '00010100', 'what the printer holds after all')
        r = result['a file the printer holds']
        self.assertFalse(r.get('failed'), r)
        self.assertFalse(r['changed'])
        self.assertEqual(stubborn.log().count(ENTERED), 1, 'written once, by the task that changed something')


class HostilePrinterTexts(Plays):
    """Network printers whose maker, model and firmware, and a USB printer whose maker and product, are Jinja
    templates that would run commands on the controller: what Pinwright hands Ansible of them stays data,
    through the inventory discover writes and through the modules' results (which Ansible marks unsafe
    itself), also once a template has used them."""

    # At most 64 bytes each, as a printer's identity text is kept; the simulator takes \xHH for a byte.
    MAKER = "{{ lookup('pipe','touch maker-ran') }}"
    MODEL = "{{ lookup('pipe','touch model-ran') }}\\x22\\x5c\\x1b\\xff"
    FIRMWARE = "{% if 1 %}{{ lookup('pipe','touch firmware-ran') }}{% endif %}"
    USB_MAKER = "{{ lookup('pipe','touch usb-ran') }}"
    USB_PRODUCT = "{% if 1 %}{{ lookup('pipe','touch usb-ran') }}{% endif %}"
    MARKERS = ('maker-ran', 'model-ran', 'firmware-ran', 'usb-ran')
    # The model as Ansible reads it: the byte that is not UTF-8 as U+FFFD.
    MODEL_READ = "{{ lookup('pipe','touch model-ran') }}\"\\\x1b\ufffd"

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='pinwright-ansible-')
        cls.sims = []
        try:
            cls.env = ansible_environment(cls.work)
            cls.env.update(fake_usb_printer(os.path.join(cls.work, 'sysfs'), cls.USB_MAKER, cls.USB_PRODUCT))
            # The CLI's get and set ask no model of a printer of another maker: one printer for each text.
            cls.strange_maker = Sim(cls.work, 'strange-maker', True,
                                    ['--maker', cls.MAKER, '--model', cls.MODEL, '--firmware', cls.FIRMWARE])
            cls.sims.append(cls.strange_maker)
            cls.strange_model = Sim(cls.work, 'strange-model', True,
                                    ['--model', cls.MODEL, '--firmware', cls.FIRMWARE])
            cls.sims.append(cls.strange_model)
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for sim in cls.sims:
            sim.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        # What a test before left is no sign of this one's run.
        for marker in self.MARKERS:
            if os.path.exists(os.path.join(self.work, marker)):
                os.remove(os.path.join(self.work, marker))

    def assertNothingRan(self):
        ran = [m for m in self.MARKERS if os.path.exists(os.path.join(self.work, m))]
        self.assertEqual(ran, [], 'a printer\'s text ran as a template on the controller')

    def playbook(self, name, hosts, tasks):
        path = os.path.join(self.work, name + '.json')
        with open(path, 'w') as f:
            json.dump([{'name': name, 'hosts': hosts, 'connection': 'local', 'gather_facts': False,
                        'tasks': tasks}], f)
        return path

    @staticmethod
    def messages(out, host):
        """The tasks' messages by task name."""
        data = json.loads(out)
        return dict((t['task']['name'], t['hosts'][host].get('msg')) for t in data['plays'][0]['tasks'])

    def test_the_inventory_discover_writes_keeps_the_printers_texts_data(self):
        port = self.strange_maker.port.rsplit(':', 1)[1]
        try:
            run = subprocess.run([ARGS.cli, 'discover', '127.0.0.1/32', '--port', port, '--inventory'],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60, check=False)
        except subprocess.TimeoutExpired:
            self.fail('pinwright-cli discover did not end within 60 s')
        self.assertEqual(run.returncode, 0, run.stderr.decode())
        inventory = os.path.join(self.work, 'printers.yml')
        with open(inventory, 'wb') as f:
            f.write(run.stdout)
        debug = [
            ('maker', '{{ printer_maker }}'),
            ('model', '{{ printer_model }}'),
            ('in a text', 'Printer {{ printer_maker }} / {{ printer_model | lower }}.'),
        ]
        tasks = [{'name': name, 'ansible.builtin.debug': {'msg': msg}} for name, msg in debug]
        # A value a template made of them, kept and used again.
        tasks += [{'name': 'kept', 'ansible.builtin.set_fact': {'kept': '{{ printer_maker ~ printer_model }}'}},
                  {'name': 'used again', 'ansible.builtin.debug': {'msg': '{{ kept }}'}}]
        status, out = self.play(self.playbook('discovered', 'receipt_printers', tasks), inventory=inventory)
        self.assertNothingRan()
        self.assertEqual(status, 0, out)
        said = self.messages(out, '127.0.0.1')
        self.assertEqual(said['maker'], self.MAKER)
        self.assertEqual(said['model'], self.MODEL_READ)
        self.assertEqual(said['in a text'], 'Printer {0} / {1}.'.format(self.MAKER, self.MODEL_READ.lower()))
        self.assertEqual(said['used again'], self.MAKER + self.MODEL_READ)

    def test_the_modules_results_keep_the_printers_texts_data(self):
        held = os.path.join(self.work, 'held.sts')
        saved = subprocess.run([ARGS.cli, '-p', self.strange_maker.port, 'get', '-o', held], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, timeout=60, check=False)
        self.assertEqual(saved.returncode, 0, saved.stderr.decode())
        inventory = os.path.join(self.work, 'lab.json')
        with open(inventory, 'w') as f:
            json.dump({'all': {'hosts': {'lab': {}}}}, f)

        def shown(name, identity):
            return {'name': name, 'ansible.builtin.debug': {'msg': '|'.join(
                '{{ %s.%s }}' % (identity, key) for key in ('maker', 'model', 'firmware'))}}

        tasks = [
            {'name': 'read', 'register': 'info', 'pinwright.escpos.printer_info': {
                'ports': [self.strange_maker.port, self.strange_model.port]}},
            shown('read: strange maker', 'info.printers[0].identity'),
            shown('read: strange model', 'info.printers[1].identity'),
            # Through the action plugin, both ways it runs the module.
            {'name': 'set', 'register': 'switched', 'check_mode': True, 'pinwright.escpos.memory_switches': {
                'port': self.strange_model.port, 'settings': {'code_page': 'PC858'}}},
            shown('set: strange model', 'switched.identity'),
            {'name': 'applied', 'register': 'applied', 'check_mode': True, 'pinwright.escpos.memory_switches': {
                'port': self.strange_maker.port, 'status_file': held}},
            shown('applied: strange maker', 'applied.identity'),
            {'name': 'kept', 'ansible.builtin.set_fact': {'kept': '{{ info.printers[1].identity }}'}},
            shown('kept: strange model', 'kept'),
            {'name': 'ports', 'register': 'ports', 'pinwright.escpos.ports_info': {}},
            {'name': 'ports: USB', 'ansible.builtin.debug': {
                'msg': "{{ (ports.ports | selectattr('port', 'equalto', 'USB') | first).product }}"}},
        ]
        status, out = self.play(self.playbook('results', 'lab', tasks), inventory=inventory)
        self.assertNothingRan()
        self.assertEqual(status, 0, out)
        said = self.messages(out, 'lab')
        # No model is asked of a printer of another maker.
        maker = '|'.join((self.MAKER, '', self.FIRMWARE))
        model = '|'.join(('MERIDOX', self.MODEL_READ, self.FIRMWARE))
        for task, expected in (('read: strange maker', maker), ('read: strange model', model),
                               ('set: strange model', model), ('applied: strange maker', maker),
                               ('kept: strange model', model)):
            self.assertEqual(said[task], expected, task)
        self.assertEqual(said['ports: USB'], self.USB_MAKER + ' ' + self.USB_PRODUCT)


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--cli', required=True)
    parser.add_argument('--sim', required=True)
    parser.add_argument('--collection', required=True)
    ARGS, rest = parser.parse_known_args()
    for name in ('cli', 'sim', 'collection'):
        setattr(ARGS, name, os.path.abspath(getattr(ARGS, name)))
    if shutil.which('ansible-playbook') is None:
        sys.exit('ansible-playbook is missing: run scripts/setup')
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
