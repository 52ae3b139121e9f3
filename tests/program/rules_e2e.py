#!/usr/bin/env python3
"""The rules through the real program: a rule that backtracks without end on a
page gives up at its step budget (the page is delivered with the other rules
applied, error.log and the log window say why), bad patterns say where and why,
and the rule tester runs beside a running proxy.
Usage: rules_e2e.py PROGRAM"""
import fcntl
import http.server
import os
import pty
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

PROGRAM = os.path.abspath(sys.argv.pop(1))
PROXY = 8080

# The case of a user's rule that chains greedy groups, on a page with a long line.
CATASTROPHIC = r'(x*)(x*)(x*)(x*)(x*)(x*)y'
LONG_LINE = b'x' * 120 + b'z y'
LONG_PAGE = b'<html><body><p>moor</p>\r\n' + LONG_LINE + b'\r\n<p>heath</p></body></html>'
PAGE = b'<html><head><title>Moor news</title></head><body><p>Brindlemoor filters pages.</p></body></html>'


class Origin(http.server.ThreadingHTTPServer):
    daemon_threads = True


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        body = {'/long.html': LONG_PAGE, '/page.html': PAGE}.get(self.path)
        if body is None:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header('Content-Type', 'text/html')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def port_open(port):
    with socket.socket() as s:
        s.settimeout(0.5)
        return s.connect_ex(('127.0.0.1', port)) == 0


def wait_until(condition, seconds=10.0, what='condition'):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.05)
    raise AssertionError('timed out waiting for ' + what)


def settings(*rules):
    text = '--- !zib\nfilter:\n'
    for uri, search, replace in rules:
        text += '  - uri: %s\n    search: %s\n' % (uri, search)
        if replace is not None:
            text += '    replace: %s\n' % replace
    return text


def curl(url):
    result = subprocess.run(['curl', '-s', '-S', '--max-time', '30', '-x', 'http://127.0.0.1:%d' % PROXY, url],
                            capture_output=True, timeout=60)
    return result.stdout


class Terminal_Program:
    """The program on a terminal of its own (a pseudo-terminal whose
    foreground it is), so that its menu can show the log window."""

    def __init__(self, directory):
        master, slave = pty.openpty()

        def own_terminal():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.process = subprocess.Popen([PROGRAM], cwd=directory, stdin=slave, stdout=slave, stderr=slave,
                                        preexec_fn=own_terminal)
        os.close(slave)
        self.master = master
        self.screen = b''

    def read(self):
        while select.select([self.master], [], [], 0)[0]:
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                break
            if not chunk:
                break
            self.screen += chunk
        return self.screen

    def wait_for(self, text, seconds=10.0):
        wait_until(lambda: text in self.read(), seconds, repr(text))

    def keys(self, data):
        os.write(self.master, data)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            deadline = time.monotonic() + 10
            while self.process.poll() is None and time.monotonic() < deadline:
                self.read()
                time.sleep(0.05)
        finally:
            if self.process.poll() is None:
                self.process.kill()
            self.process.wait()
            self.close()
        return self.process.returncode

    def close(self):
        if self.master is not None:
            os.close(self.master)
            self.master = None


class Rules_Test(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if port_open(PROXY):
            raise unittest.SkipTest('port 8080 is taken by another program')
        cls.origin = Origin(('127.0.0.1', 0), Handler)
        threading.Thread(target=cls.origin.serve_forever, daemon=True).start()
        cls.base = 'http://127.0.0.1:%d' % cls.origin.server_address[1]

    @classmethod
    def tearDownClass(cls):
        cls.origin.shutdown()

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='brindlemoor-rules-')
        self.programs = []

    def tearDown(self):
        for p in self.programs:
            process = getattr(p, 'process', p)
            if process.poll() is None:
                process.kill()
            process.wait()
            if isinstance(p, Terminal_Program):
                p.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def write_settings(self, text):
        with open(os.path.join(self.dir, 'setting.yaml'), 'w') as f:
            f.write(text)

    def error_log(self):
        path = os.path.join(self.dir, 'error.log')
        if not os.path.exists(path):
            return b''
        with open(path, 'rb') as f:
            return f.read()

    def test_rule_out_of_steps_gives_up_and_the_page_arrives(self):
        self.write_settings(settings(('.*', 'moor', 'MOOR'), ('.*', CATASTROPHIC, 'caught'), ('.*', 'heath', 'HEATH')))
        p = Terminal_Program(self.dir)
        self.programs.append(p)
        p.wait_for(b'press Enter for the menu')
        wait_until(lambda: port_open(PROXY), what='the proxy to listen')
        start = time.monotonic()
        page = curl(self.base + '/long.html')
        elapsed = time.monotonic() - start
        self.assertEqual(page, LONG_PAGE.replace(b'moor', b'MOOR').replace(b'heath', b'HEATH'))
        self.assertLess(elapsed, 5.0, 'the page took %.1f s' % elapsed)
        pattern = (rb'error HTML step budget exhausted \([0-9]+ steps for %d bytes\) \(Match_Budget_Error\) 1 "%s/long.html"'
                   % (len(LONG_PAGE), self.base.encode()))
        wait_until(lambda: re.search(pattern + rb'\r\n', self.error_log()), what='the error line')
        line = re.search(pattern, self.error_log()).group(0)
        # The log window (shown from the menu) holds the same line.
        p.keys(b'\r')
        p.wait_for(b'[E]xit')
        p.keys(b's')
        p.wait_for(b'** Hit 2 rule. **')
        self.assertIn(b'** Hit 1 rule. **\r\n' + line + b'\r\n** Hit 2 rule. **', p.read())
        self.assertEqual(p.stop(), 0)

    def test_bad_pattern_message_says_where_and_why(self):
        self.write_settings(settings(('.*', 'Moor', 'Heath'), ('.*', r'\<title\>(?1:.*?\</title\>', 'x'),
                                     (r'http://(127\.0\.0\.1', 'news', 'NEWS'), ('.*', 'news', 'NEWS')))
        p = subprocess.Popen([PROGRAM], cwd=self.dir, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        self.programs.append(p)
        wait_until(lambda: port_open(PROXY) or p.poll() is not None, what='the proxy to listen')
        self.assertIn(b'<title>Heath NEWS</title>', curl(self.base + '/page.html'))
        p.send_signal(signal.SIGTERM)
        out, err = p.communicate(timeout=10)
        self.assertEqual(p.returncode, 0)
        self.assertEqual(err.decode(), 'Regular_Expression_Error: 1番目の正規表現が変です\n'
                                       'search, at 9: group not closed — \\<title\\>(?1:.*?\\</title\\>\n'
                                       'Regular_Expression_Error: 2番目の正規表現が変です\n'
                                       'uri, at 7: group not closed — http://(127\\.0\\.0\\.1\n')

    def test_tester_runs_beside_the_running_proxy(self):
        self.write_settings(settings(('.*', 'Moor news', 'Heath news'), ('http://other/.*', 'news', 'NEWS')))
        proxy = subprocess.Popen([PROGRAM], cwd=self.dir, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE)
        self.programs.append(proxy)
        wait_until(lambda: port_open(PROXY) or proxy.poll() is not None, what='the proxy to listen')
        with open(os.path.join(self.dir, 'in.html'), 'wb') as f:
            f.write(PAGE)
        tester = subprocess.run([PROGRAM, '--test', self.base + '/page.html', 'in.html'], cwd=self.dir,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        self.assertEqual(tester.returncode, 0, tester.stderr)
        self.assertEqual(tester.stdout, PAGE.replace(b'Moor news', b'Heath news'))
        report = tester.stderr.decode().splitlines()
        self.assertEqual(report[0], '2 rules of setting.yaml on in.html (%d bytes) for %s/page.html'
                         % (len(PAGE), self.base))
        self.assertEqual(report[2].split()[:3], ['0', 'yes', '1'])
        self.assertEqual(report[3].split()[:3], ['1', 'no', '-'])
        self.assertTrue(report[4].startswith('1 rule matched the URI, 1 hit;'), report)
        # The proxy goes on serving; the tester wrote nothing to its error.log
        # (where only the readiness probe's empty connection may stand).
        self.assertIn(b'Heath news', curl(self.base + '/page.html'))
        self.assertEqual(proxy.poll(), None)
        proxy.send_signal(signal.SIGTERM)
        out, err = proxy.communicate(timeout=10)
        self.assertEqual((proxy.returncode, err), (0, b''))
        self.assertNotIn(b'rule', self.error_log())
        self.assertNotIn(b'error HTML', self.error_log())


if __name__ == '__main__':
    unittest.main(verbosity=2)
