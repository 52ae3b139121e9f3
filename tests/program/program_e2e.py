#!/usr/bin/env python3
# The real program as a process, in a temporary directory with its own
# setting.yaml, against real origins on loopback (Python's HTTP server, also
# over TLS behind a tunnel), driven with curl, headless Chromium and signals;
# and its rule tester as README.md shows it.
# Usage: program_e2e.py PROGRAM README [--sanitized]
import functools, http.server, os, re, shlex, shutil, signal, subprocess, sys, tempfile, unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', 'support'))
from loopback_origin import port_open, serve, wait_until  # noqa: E402

PROGRAM, README = (os.path.abspath(a) for a in sys.argv[1:3])
SANITIZED = '--sanitized' in sys.argv  # a sanitizer keeps memory of its own: the bound is not checked there
del sys.argv[1:]
PROXY = 'http://127.0.0.1:8080'
BIG = b''.join(b'<p>moor %08d</p>\n' % i for i in range(6 << 20))  # 96 MiB of text the rules would change
PAGE = (b'<html><head><title>Moor news</title>\r\n<script>track();\r\n</script></head>\r\n'
        b'<body><p>Brindlemoor filters <b>pages</b>.</p><script src="a.js"></script></body></html>')
LONG = b'<p>moor</p>' + b'x' * 120 + b'z y<p>heath</p>'  # where a chain of greedy groups runs out of steps
SPAN = b'<span id="rewritten">' + b'x' * 500 + b'</span>'  # lengthens the page


def settings(rules, head=''):
    return '--- !zib\n' + head + 'filter:\n' + ''.join('  - uri: %s\n    search: %s\n' % (uri, search) + (
        '    replace: %s\n' % replace if replace is not None else '') for uri, search, replace in rules)


def curl(url, *extra, proxy=('-x', PROXY)):
    return subprocess.run(['curl', '-sS', '--max-time', '60', *proxy, *extra, url], capture_output=True, timeout=90).stdout


def chromium(url, *extra):
    with tempfile.TemporaryDirectory(prefix='chromium-') as profile:
        return subprocess.run(['chromium', '--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
                               '--disable-background-networking', '--user-data-dir=' + profile,
                               '--proxy-server=' + PROXY, '--proxy-bypass-list=<-loopback>', *extra, '--dump-dom', url],
                              capture_output=True, timeout=120).stdout


def tester(settings, *arguments, page='', stdout=subprocess.PIPE):
    # `PROGRAM --test ARGUMENTS` in a directory holding page.html and SETTINGS
    # as setting.yaml (None: no file): (status, page written, report).
    with tempfile.TemporaryDirectory(prefix='brindlemoor-tester-') as directory:
        for name, text in (('setting.yaml', settings), ('page.html', page)):
            if text is not None:
                Path(directory, name).write_text(text, 'utf-8')
        result = subprocess.run([PROGRAM, '--test', *arguments], cwd=directory, stdout=stdout, stderr=subprocess.PIPE,
                                timeout=30)
        out = Path(directory, 'out.html')
        written = out.read_bytes() if out.exists() else result.stdout or b''
        return result.returncode, written.decode('utf-8'), result.stderr.decode('utf-8')


class Program_Test(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        assert not port_open(8080), 'port 8080 is taken by another program'
        cls.www = tempfile.mkdtemp(prefix='brindlemoor-www-')
        cls.addClassCleanup(shutil.rmtree, cls.www, True)
        for name, data in (('page.html', PAGE), ('long.html', LONG), ('big.bin', BIG), ('huge.html', BIG)):
            Path(cls.www, name).write_bytes(data)
        cls.files = functools.partial(http.server.SimpleHTTPRequestHandler, directory=cls.www)
        cls.origin = serve(cls.files)
        cls.addClassCleanup(lambda: cls.origin.shutdown() or cls.origin.server_close())
        cls.base = 'http://127.0.0.1:%d' % cls.origin.server_address[1]

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='brindlemoor-e2e-')
        self.addCleanup(shutil.rmtree, self.dir, True)

    def start(self, settings=None, wait=True):
        settings and Path(self.dir, 'setting.yaml').write_text(settings)
        p = subprocess.Popen([PROGRAM], cwd=self.dir, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        self.addCleanup(lambda: p.kill() or p.communicate())
        if wait:
            wait_until(lambda: port_open(8080) or p.poll() is not None, 'the proxy to listen')
            self.assertIsNone(p.poll(), 'the program ended')
        return p

    def stop(self, p, ends_by_itself=False):
        ends_by_itself or p.send_signal(signal.SIGTERM)
        return p.wait(10), p.communicate()[1].decode()

    def test_rules_signals_and_errors_with_curl(self):
        self.assertEqual(self.stop(self.start(wait=False), True), (0, 'FileException: setting.yaml: file not found\n'))
        self.assertFalse(os.path.exists(self.dir + '/error.log'))
        p = self.start(rules := settings([
            (r'http://127\.0\.0\.1:[0-9]+/page\.html', r'\<b\>pages\</b\>', '<i>$&</i>'),
            (r'HTTP://127\.0\.0\.1:[0-9]+/PAGE\.HTML', r'\<title\>(?1:.*?)\</title\>', '<title>[$1]</title>'),
            (r'http://127\.0\.0\.1:[0-9]+/page', 'brindlemoor', 'NEVER'),  # a prefix of the URI: no hit
            ('.*', r'\<script[^>]*\>(.|\n)*?\</script\>', None),
            ('.*', r'\<title\>(?1:.*?\</title\>', 'x'), (r'http://(127', 'news', 'NEWS'),  # bad: skipped
            (r'.*/long\.html\?.*', '(x*)(x*)(x*)(x*)(x*)(x*)y', 'caught'), ('.*', 'heath', 'HEATH'),
            (r'.*\?(a*)(a*)(a*)(a*)(a*)(a*)b', 'x', 'y')]))  # out of steps on a long query
        page = curl(self.base + '/page.html')
        self.assertEqual(page, b'<html><head><title>[Moor news]</title>\r\n</head>\r\n<body><p>Brindlemoor filters '
                               b'<i><b>pages</b></i>.</p></body></html>')
        self.assertEqual(curl(self.base + '/long.html?' + 'a' * 60), LONG.replace(b'heath', b'HEATH'))
        # A second copy refuses to start; the rule tester runs beside and agrees.
        self.assertEqual(self.stop(self.start(wait=False), True), (0, 'Exception: 二重起動になります\n'))
        self.assertEqual(tester(rules, self.base + '/page.html', 'page.html', page=PAGE.decode())[:2], (1, page.decode()))
        # SIGHUP reloads; a refused origin gets the browser the 500 text and error.log a line.
        Path(self.dir, 'setting.yaml').write_text(settings([('.*', 'Moor', 'Fen')]))
        p.send_signal(signal.SIGHUP)
        wait_until(lambda: b'Fen news' in curl(self.base + '/page.html'), 'the new rules')
        self.assertTrue(curl('http://127.0.0.1:1/').startswith('\ufeffサーバへの接続失敗'.encode()))
        self.assertEqual(self.stop(p), (0, 'Regular_Expression_Error: 4番目の正規表現が変です\nsearch, at 9: group not '
                                           'closed — \\<title\\>(?1:.*?\\</title\\>\nRegular_Expression_Error: 5番目の'
                                           '正規表現が変です\nuri, at 7: group not closed — http://(127\n'))
        log = Path(self.dir + '/error.log').read_bytes().decode()
        self.assertTrue(log.startswith('\ufefferror in response thread #'), log)
        self.assertIn(' サーバへの接続失敗 (Exception)\r\n', log)
        for where, size, rule in (('HTML', len(LONG), 6), ('URI', len(self.base) + 71, 8)):
            self.assertRegex(log, r'error %s step budget exhausted \(\d+ steps for %d bytes\) \(Match_Budget_Error\) %d '
                             r'"%s/long.html\?a{60}"\r\n' % (where, size, rule, self.base))

    def test_large_bodies_relayed_exactly_in_bounded_memory(self):
        p = self.start(settings([('.*', 'moor', 'MOOR')]))
        for path in ('/big.bin', '/huge.html'):  # the HTML is past the limit on collected HTML: unfiltered
            self.assertTrue(curl(self.base + path) == BIG, path)
        peak = int(re.search(r'VmHWM:\s*(\d+)', Path('/proc/%d/status' % p.pid).read_text()).group(1))
        self.assertTrue(SANITIZED or peak < 64 << 10, 'peak resident memory %d KiB' % peak)
        self.assertEqual(self.stop(p), (0, ''))
        self.assertIn(b' html passed unfiltered (Content-Length over the limit of 8388608 bytes): %s/huge.html\r\n'
                      % self.base.encode(), Path(self.dir + '/error.log').read_bytes())

    def test_browser_page_and_https_tunnel(self):
        # (Compressed answers: the proxy's own tests, and the Windows program's run.)
        tls = serve(self.files, self.dir)
        self.addCleanup(lambda: tls.shutdown() or tls.server_close())
        p = self.start(settings([('.*', 'Brindlemoor filters', SPAN.decode())],
                                'tunnel_ports: 443, %d\n' % tls.server_address[1]))
        # The page arrives filtered, with its new length.
        head, _, body = curl(self.base + '/page.html', '-i').partition(b'\r\n\r\n')
        self.assertIn(b'Content-Length: %d\r\n' % len(body), head + b'\r\n')
        self.assertIn(SPAN, body)
        self.assertIn(SPAN, chromium(self.base + '/page.html'))
        # Through the tunnel the page is not filtered.
        url = 'https://127.0.0.1:%d/page.html' % tls.server_address[1]
        self.assertEqual(curl(url, '-k'), PAGE)
        self.assertIn(b'Brindlemoor filters <b>pages</b>', chromium(url, '--ignore-certificate-errors'))
        self.assertEqual(self.stop(p), (0, ''))


class Rule_Tester_Test(unittest.TestCase):
    def test_readme_examples_do_what_it_says(self):
        # Each settings block of "Writing rules" with the blocks after it under
        # its heading: its page comes out as shown, with every report line shown.
        text = Path(README).read_text('utf-8')
        start = text.index('\n## Writing rules\n')
        tried, heading, found = [], '', []
        for part in re.split(r'^(#{3,4} .*)$', text[start:text.index('\n## ', start + 1)], flags=re.M):
            heading = part.lstrip('# ') if part.startswith('#') else heading
            for block in re.finditer(r'^```(\w*)\n(.*?)^```$', part, flags=re.M | re.S):
                if block.group(1) == 'yaml':
                    found.append((heading, block.group(2), {}))
                elif found and found[-1][0] == heading:
                    found[-1][2].setdefault(block.group(1), []).append(block.group(2))
        for heading, settings, blocks in found:
            with self.subTest(heading=heading, settings=settings):
                command = shlex.split(blocks.get('sh', ['brindlemoor --test http://www.example.com/ page.html'])[0])
                page, want = blocks.get('html', ('', None))
                code, out, report = tester(settings, *command[2:], page=page)
                lines = '\n'.join(blocks.get('text', []))
                self.assertEqual(code, 1 if '番目の正規表現が変です' in lines else 0, report)
                self.assertEqual(out, want or out, report)
                self.assertTrue(all(line in report for line in lines.splitlines()), report)
                tried.append(heading)
        jobs = {'Remove a block', 'Remove a tracker script', 'Rewrite an attribute', 'Replace a word', 'Insert a banner'}
        self.assertLessEqual(jobs, set(tried))
        self.assertEqual(tried.count('Reading the error lines'), 2)

    def test_report_page_and_status(self):
        page = '<div class="ad">buy</div>\r\n<p>Brindlemoor filters. Brindlemoor!</p>'
        rules = settings([(r'http://news\.example/.*', r'\<div class\="ad"\>.*?\</div\>', None),
                          ('http://other/.*', 'p', None), ('.*', 'brindlemoor', '<mark>$&</mark>')])
        want = '\r\n<p><mark>Brindlemoor</mark> filters. <mark>Brindlemoor</mark>!</p>'
        code, out, report = tester(rules, '-o', 'out.html', 'http://news.example/', 'page.html', page=page)
        self.assertEqual((code, out), (0, want), report)  # in out.html (the page on standard output: above)
        lines = report.splitlines()
        self.assertEqual(lines[0], '3 rules of setting.yaml on page.html (%d bytes) for http://news.example/' % len(page))
        self.assertEqual([line.split()[:3] for line in lines[2:5]], [['0', 'yes', '1'], ['1', 'no', '-'], ['2', 'yes', '2']])
        self.assertTrue(lines[5].startswith('2 rules matched the URI, 3 hits; %d bytes in, %d bytes out, '
                                            % (len(page), len(want))), report)
        # Nothing could be tested (or written): status 2, and the report says why.
        for rules, arguments, reason in (
                (None, ['u', 'page.html'], 'FileException: setting.yaml: file not found\n'),
                ('filter:\n', ['u', 'page.html'], 'Yaml_Error: YAML Type Error'),
                ('--- !zib\n', ['u', 'missing.html'], 'missing.html: file not found\n'),
                *(('--- !zib\n', arguments, 'usage: brindlemoor --test URI FILE [-o OUT]\n') for arguments in (['u'], ['u', 'page.html', '-o'], ['u', 'p', 'x'])),
                ('--- !zib\n', ['u', 'page.html', '-o', 'no/such/dir'], 'no/such/dir: file not found\n'),
                ('--- !zib\n', ['u', 'page.html', '-o', '/dev/full'], '/dev/full: write failed\n')):
            with self.subTest(arguments=arguments):
                code, out, report = tester(rules, *arguments, page='x')
                self.assertEqual((code, out, reason in report), (2, '', True), report)
        with open('/dev/full', 'wb') as full:
            code, _, report = tester('--- !zib\n', 'u', 'page.html', page='x', stdout=full)
        self.assertEqual(code, 2)
        self.assertIn('the page could not be written to standard output\n', report)


if __name__ == '__main__':
    unittest.main(verbosity=2)
