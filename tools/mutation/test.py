#!/usr/bin/env python3
"""tools/mutation/test.py DIR: runs every native test whose program (or a program it is given) the
last build relinked: unit tests first, end-to-end tests and those that hold port 8080 after (under
flock /tmp/brindlemoor-8080.lock), stopping at the first failure. A test whose programs were not
relinked cannot contain the planted fault, so leaving it out changes no outcome; it only saves time."""
import json, os, subprocess, sys
d = sys.argv[1]
stamp = os.path.getmtime(os.path.join(d, '.mut-stamp'))
info = json.loads(subprocess.run(['ctest', '--test-dir', d, '--show-only=json-v1'], capture_output=True, text=True, check=True).stdout)
phases = ([], [])
for t in info['tests']:
    if t['name'] == 'readme_run_e2e':  # builds its own tree, not this one
        continue
    args = [a for a in t.get('command', []) if a.startswith('/') and os.path.isfile(a)]
    if not any(os.path.getmtime(a) >= stamp for a in args):
        continue
    labels = next((p['value'] for p in t.get('properties', []) if p['name'] == 'LABELS'), [])
    locks = next((p['value'] for p in t.get('properties', []) if p['name'] == 'RESOURCE_LOCK'), [])
    phases['e2e' in labels or 'terminal' in labels or bool(locks)].append(t['name'])
env = dict(os.environ, BRINDLEMOOR_TEST_SECONDS='30')
for locked, names in enumerate(phases):
    if not names:
        continue
    regex = '^(' + '|'.join(names) + ')$'
    rc = subprocess.run(['flock', '/tmp/brindlemoor-8080.lock'] * locked + ['ctest', '--test-dir', d, '-j2', '--timeout', '90',
                         '--stop-on-failure', '-R', regex], env=env, stdout=subprocess.DEVNULL).returncode
    print('tests:', ' '.join(names), '->', rc, file=sys.stderr)
    if rc:
        sys.exit(1)
