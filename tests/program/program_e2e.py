#!/usr/bin/env python3
"""The real program as a process, in a temporary directory with its own
setting.yaml, against a real origin on loopback (Python's HTTP server, nginx
serving gzip, a TLS server behind a tunnel), driven with curl, headless
Chromium and signals.
Usage: program_e2e.py PROGRAM"""
import hashlib
import http.server
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

PROGRAM = os.path.abspath(sys.argv.pop(1))
# A sanitizer build keeps memory of its own: the memory bound is not checked there.
SANITIZED = len(sys.argv) > 1 and sys.argv[1] == '--sanitized' and bool(sys.argv.pop(1))
PROXY = 8080
BIG = 200 << 20
HUGE_HTML = 300 << 20

CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                  '--disable-background-networking', '--disable-component-update', '--disable-sync']

PAGE = (b'<html><head><title>Moor news</title>\r\n<script>track();\r\n</script></head>\r\n'
        b'<body><p>Brindlemoor filters <b>pages</b>.</p><script src="a.js"></script></body></html>')


def big_chunk(i):
    return hashlib.sha256(str(i).encode()).digest() * 2048  # 64 KiB


def html_chunk(i):
    line = b'<p>moor line %08d ' % i + hashlib.sha256(str(i).encode()).hexdigest().encode() + b'</p>\n'
    return line * (65536 // len(line)) + b' ' * (65536 % len(line))  # 64 KiB of text


class Origin(http.server.ThreadingHTTPServer):
    daemon_threads = True


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path == '/page.html':
            self.answer('text/html; charset=utf-8', PAGE)
        elif self.path == '/page.txt':
            self.answer('text/plain', PAGE)
        elif self.path == '/huge.html':
            # Far past the bound on collected HTML: passed on as it comes.
            self.send_response(200)
            self.send_header('Content-Type', 'text/html')
            self.send_header('Content-Length', str(HUGE_HTML))
            self.end_headers()
            for i in range(HUGE_HTML // (64 << 10)):
                self.wfile.write(html_chunk(i))
        elif self.path == '/big.bin':
            self.send_response(200)
            self.send_header('Content-Type', 'application/octet-stream')
            self.send_header('Content-Length', str(BIG))
            self.end_headers()
            for i in range(BIG // (64 << 10)):
                self.wfile.write(big_chunk(i))
        else:
            self.send_error(404)

    def answer(self, content_type, body):
        self.send_response(200)
        self.send_header('Content-Type', content_type)
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


class Program:
    """One running copy of the program in `directory`."""

    def __init__(self, directory):
        self.process = subprocess.Popen([PROGRAM], cwd=directory, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def wait_listening(self):
        wait_until(lambda: port_open(PROXY) or self.process.poll() is not None, what='the proxy to listen')
        if self.process.poll() is not None:
            raise AssertionError('program ended: %r' % (self.process.communicate(),))

    def finish(self, seconds=10):
        try:
            out, err = self.process.communicate(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, err = self.process.communicate()
            raise AssertionError('program did not end; stderr: %r' % err)
        return self.process.returncode, out.decode('utf-8', 'replace'), err.decode('utf-8', 'replace')

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        return self.finish()

    def peak_memory_kib(self):
        with open('/proc/%d/status' % self.process.pid) as f:
            for line in f:
                if line.startswith('VmHWM:'):
                    return int(line.split()[1])
        return 0


def curl(url, *extra):
    result = subprocess.run(['curl', '-s', '-S', '--max-time', '60', '-x', 'http://127.0.0.1:%d' % PROXY] +
                            list(extra) + [url], capture_output=True, timeout=90)
    return result.stdout


TLS_PAGE = b'<html><head><title>TLS</title></head><body><h1 id="tls">Moor over TLS</h1></body></html>'


class Tls_Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        self.reply('text/html', TLS_PAGE)

    def do_POST(self):
        length = int(self.headers.get('Content-Length', '0'))
        body = self.rfile.read(length)
        self.reply('text/plain', b'received %d bytes' % len(body))

    def reply(self, content_type, body):
        self.send_response(200)
        self.send_header('Content-Type', content_type)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class Tls_Origin:
    """An HTTPS server on loopback with a self-signed certificate made for the test."""

    def __init__(self, directory):
        cert, key = os.path.join(directory, 'cert.pem'), os.path.join(directory, 'key.pem')
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert,
                        '-days', '1', '-subj', '/CN=127.0.0.1', '-addext', 'subjectAltName=IP:127.0.0.1'],
                       check=True, capture_output=True, timeout=60)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        self.server = Origin(('127.0.0.1', 0), Tls_Handler)
        self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


class Nginx:
    """nginx serving PAGE with gzip, also to HTTP/1.0 requests (the proxy's upstream version)."""

    def __init__(self, nginx, directory):
        root = os.path.join(directory, 'www')
        os.makedirs(os.path.join(root, 'tmp'))
        with open(os.path.join(root, 'page.html'), 'wb') as f:
            f.write(PAGE + b'<!-- padding so that compression pays -->' * 20)
        with socket.socket() as s:
            s.bind(('127.0.0.1', 0))
            self.port = s.getsockname()[1]
        config = os.path.join(directory, 'nginx.conf')
        with open(config, 'w') as f:
            f.write('daemon off; master_process off; worker_processes 1; pid %(d)s/nginx.pid;\n'
                    'error_log %(d)s/nginx-error.log warn;\nevents { worker_connections 64; }\n'
                    'http { access_log off; client_body_temp_path %(t)s; proxy_temp_path %(t)s;\n'
                    '  fastcgi_temp_path %(t)s; uwsgi_temp_path %(t)s; scgi_temp_path %(t)s;\n'
                    '  types { text/html html; } gzip on; gzip_http_version 1.0; gzip_min_length 20;\n'
                    '  server { listen 127.0.0.1:%(p)d; root %(r)s; } }\n'
                    % {'d': directory, 't': os.path.join(root, 'tmp'), 'p': self.port, 'r': root})
        self.process = subprocess.Popen([nginx, '-c', config, '-e', os.path.join(directory, 'nginx-error.log')],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: port_open(self.port) or self.process.poll() is not None, what='nginx')
        if self.process.poll() is not None:
            raise AssertionError('nginx did not start')

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


class Program_Test(unittest.TestCase):
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
        self.dir = tempfile.mkdtemp(prefix='brindlemoor-e2e-')
        self.programs = []

    def tearDown(self):
        for p in self.programs:
            if p.process.poll() is None:
                p.process.kill()
            p.process.communicate()
        shutil.rmtree(self.dir, ignore_errors=True)

    def write_settings(self, text):
        with open(os.path.join(self.dir, 'setting.yaml'), 'w') as f:
            f.write(text)

    def start(self, wait=True):
        p = Program(self.dir)
        self.programs.append(p)
        if wait:
            p.wait_listening()
        return p

    def test_rules_rewrite_html_of_matching_uris_only(self):
        self.write_settings(settings(
            (r'http://127\.0\.0\.1:[0-9]+/page\.html', r'\<b\>pages\</b\>', '<i>$&</i>'),
            (r'HTTP://127\.0\.0\.1:[0-9]+/PAGE\.HTML', r'\<title\>(?1:.*?)\</title\>', '<title>[$1]</title>'),
            (r'http://127\.0\.0\.1:[0-9]+/page', 'brindlemoor', 'NEVER'),  # a prefix only: no hit
            (r'.*', r'\<script[^>]*\>(.|\n)*?\</script\>', None),
        ))
        p = self.start()
        page = curl(self.base + '/page.html')
        self.assertEqual(page, b'<html><head><title>[Moor news]</title>\r\n</head>\r\n<body><p>Brindlemoor filters '
                               b'<i><b>pages</b></i>.</p></body></html>')
        self.assertEqual(curl(self.base + '/page.txt'), PAGE)  # not HTML: untouched
        headers = curl(self.base + '/page.html', '-D', '-', '-o', os.devnull)
        self.assertIn(b'Content-Length: %d\r\n' % len(page), headers)
        code, out, err = p.stop()
        self.assertEqual((code, err), (0, ''))

    def test_bad_pattern_is_reported_and_the_other_rules_work(self):
        self.write_settings(settings(('.*', 'Moor', 'Heath'), ('.*', 'a**', 'x'), ('.*', 'news', 'NEWS')))
        p = self.start()
        self.assertIn(b'<title>Heath NEWS</title>', curl(self.base + '/page.html'))
        code, out, err = p.stop()
        self.assertEqual(code, 0)
        self.assertEqual(err, 'Regular_Expression_Error: 1番目の正規表現が変です\nsearch, at 2: second quantifier — a**\n')

    def test_missing_settings_ends_before_listening(self):
        p = self.start(wait=False)
        code, out, err = p.finish()
        self.assertEqual((code, err), (0, 'FileException: setting.yaml: file not found\n'))
        self.assertFalse(port_open(PROXY))
        self.assertFalse(os.path.exists(os.path.join(self.dir, 'error.log')))

    def test_second_copy_refuses_and_the_first_goes_on(self):
        self.write_settings(settings(('.*', 'Moor', 'Heath')))
        first = self.start()
        second = self.start(wait=False)
        code, out, err = second.finish()
        self.assertEqual((code, err), (0, 'Exception: 二重起動になります\n'))
        self.assertIn(b'Heath news', curl(self.base + '/page.html'))
        self.assertEqual(first.stop()[0], 0)

    def test_sighup_reloads_and_error_log_is_appended(self):
        self.write_settings(settings(('.*', 'Moor', 'Heath')))
        p = self.start()
        self.assertIn(b'Heath news', curl(self.base + '/page.html'))
        self.write_settings(settings(('.*', 'Moor', 'Fen')))
        p.process.send_signal(signal.SIGHUP)
        wait_until(lambda: b'Fen news' in curl(self.base + '/page.html'), what='the new rules')
        # A refused origin: the browser gets the 500 text, error.log the line.
        answer = curl('http://127.0.0.1:1/')
        self.assertTrue(answer.startswith('\ufeffサーバへの接続失敗'.encode()), answer)
        self.assertEqual(p.stop()[0], 0)
        log = os.path.join(self.dir, 'error.log')
        with open(log, 'rb') as f:
            first = f.read()
        self.assertTrue(first.startswith(b'\xef\xbb\xbferror in response thread #'), first)
        self.assertTrue(first.endswith(' サーバへの接続失敗 (Exception)\r\n'.encode()), first)
        # A later run appends, without a second mark.
        p = self.start()
        curl('http://127.0.0.1:1/')
        self.assertEqual(p.stop()[0], 0)
        with open(log, 'rb') as f:
            both = f.read()
        self.assertTrue(both.startswith(first))
        self.assertEqual(both.count(b'\xef\xbb\xbf'), 1)
        # (The readiness probe's empty connections add lines of their own.)
        self.assertEqual(both.count(' サーバへの接続失敗 (Exception)\r\n'.encode()), 2, both)

    def test_large_body_relayed_exactly_with_flat_memory(self):
        self.write_settings(settings(('.*', 'Moor', 'Heath')))
        p = self.start()
        result = subprocess.run(['curl', '-s', '--max-time', '120', '-x', 'http://127.0.0.1:%d' % PROXY,
                                 self.base + '/big.bin'], stdout=subprocess.PIPE, timeout=150)
        expected = hashlib.sha256()
        for i in range(BIG // (64 << 10)):
            expected.update(big_chunk(i))
        self.assertEqual(len(result.stdout), BIG)
        self.assertEqual(hashlib.sha256(result.stdout).hexdigest(), expected.hexdigest())
        peak = p.peak_memory_kib()
        if not SANITIZED:
            self.assertLess(peak, 32 << 10, 'peak resident memory %d KiB' % peak)
        self.assertEqual(p.stop()[0], 0)

    def test_real_browser_sees_the_rewritten_page(self):
        chromium = shutil.which('chromium')
        if not chromium:
            self.skipTest('chromium is not installed')
        # The rule lengthens the page: a Content-Length left at the origin's
        # value would cut it short or fail the load.
        self.write_settings(settings(('.*', 'Brindlemoor filters', '<span id="rewritten">' + 'x' * 500 + '</span>'),))
        p = self.start()
        profile = os.path.join(self.dir, 'chromium-profile')
        result = subprocess.run(
            [chromium, '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
             '--disable-background-networking', '--disable-component-update', '--disable-sync',
             '--user-data-dir=' + profile, '--proxy-server=http://127.0.0.1:%d' % PROXY,
             '--proxy-bypass-list=<-loopback>', '--dump-dom', self.base + '/page.html'],
            capture_output=True, timeout=120)
        dom = result.stdout.decode('utf-8', 'replace')
        self.assertIn('<span id="rewritten">' + 'x' * 500 + '</span>', dom, result.stderr[-2000:])
        self.assertIn('</html>', dom)
        self.assertEqual(p.stop()[0], 0)

    def test_huge_html_relayed_exactly_with_bounded_memory(self):
        self.write_settings(settings(('.*', 'moor', 'MOOR')))
        p = self.start()
        curl_process = subprocess.Popen(['curl', '-s', '--max-time', '180', '-x', 'http://127.0.0.1:%d' % PROXY,
                                         self.base + '/huge.html'], stdout=subprocess.PIPE)
        got, size = hashlib.sha256(), 0
        while True:
            piece = curl_process.stdout.read(1 << 20)
            if not piece:
                break
            got.update(piece)
            size += len(piece)
        curl_process.stdout.close()
        curl_process.wait(30)
        expected = hashlib.sha256()
        for i in range(HUGE_HTML // (64 << 10)):
            expected.update(html_chunk(i))
        self.assertEqual(size, HUGE_HTML)
        self.assertEqual(got.hexdigest(), expected.hexdigest())  # unfiltered, byte for byte
        peak = p.peak_memory_kib()
        print('(300 MiB HTML: peak resident memory %d KiB)' % peak, end=' ', file=sys.stderr)
        if not SANITIZED:
            self.assertLess(peak, 64 << 10, 'peak resident memory %d KiB' % peak)
        self.assertEqual(p.stop()[0], 0)
        with open(os.path.join(self.dir, 'error.log'), 'rb') as f:
            self.assertIn(b' html passed unfiltered (Content-Length over the limit of 8388608 bytes): ' +
                          self.base.encode() + b'/huge.html\r\n', f.read())

    def test_gzip_page_from_nginx_is_filtered(self):
        nginx = shutil.which('nginx') or ('/usr/sbin/nginx' if os.path.exists('/usr/sbin/nginx') else None)
        if not nginx:
            self.skipTest('nginx is not installed')
        origin = Nginx(nginx, self.dir)
        self.addCleanup(origin.stop)
        self.write_settings(settings(('.*', 'Brindlemoor filters', '<span id="rewritten">unpacked and filtered</span>'),))
        p = self.start()
        url = 'http://127.0.0.1:%d/page.html' % origin.port
        # nginx really compresses it (asked directly, with a browser's offer).
        direct = subprocess.run(['curl', '-s', '-D', '-', '-o', os.devnull, '-H',
                                 'Accept-Encoding: gzip, deflate, br, zstd', '--http1.0', url],
                                capture_output=True, timeout=30).stdout
        self.assertIn(b'Content-Encoding: gzip', direct)
        # Through the proxy: decoded, filtered, sent as identity with its length.
        headers = curl(url, '-D', '-', '-o', os.path.join(self.dir, 'body'), '-H',
                       'Accept-Encoding: gzip, deflate, br, zstd')
        with open(os.path.join(self.dir, 'body'), 'rb') as f:
            body = f.read()
        self.assertNotIn(b'Content-Encoding', headers)
        self.assertIn(b'Content-Length: %d\r\n' % len(body), headers)
        self.assertIn(b'<span id="rewritten">unpacked and filtered</span>', body)
        chromium = shutil.which('chromium')
        if chromium:
            dom = self.chromium_dom(chromium, url)
            self.assertIn('<span id="rewritten">unpacked and filtered</span>', dom)
        self.assertEqual(p.stop()[0], 0)

    def test_https_tunnel_to_a_tls_server(self):
        server = Tls_Origin(self.dir)
        self.addCleanup(server.stop)
        url = 'https://127.0.0.1:%d/secret.html' % server.port
        self.write_settings('--- !zib\ntunnel_ports: 443, %d\nfilter:\n  - uri: .*\n    search: Moor\n'
                            '    replace: NEVER\n' % server.port)
        p = self.start()
        # The page arrives unchanged: the tunnel is not filtered.
        self.assertEqual(curl(url, '-k'), TLS_PAGE)
        # A POST body goes up the tunnel too (both directions carry data).
        self.assertEqual(curl(url, '-k', '--data-binary', 'x' * 100000), b'received 100000 bytes')
        chromium = shutil.which('chromium')
        if chromium:
            dom = self.chromium_dom(chromium, url, '--ignore-certificate-errors')
            self.assertIn('<h1 id="tls">Moor over TLS</h1>', dom)
        log = p.stop()
        self.assertEqual(log[0], 0)

        # Off, or another port: CONNECT is refused with the 500 answer.
        for text in ('--- !zib\ntunnels: no\ntunnel_ports: %d\nfilter:\n' % server.port, '--- !zib\nfilter:\n'):
            self.write_settings(text)
            p = self.start()
            result = subprocess.run(['curl', '-s', '-S', '-k', '--max-time', '30', '-x', 'http://127.0.0.1:%d' % PROXY,
                                     url], capture_output=True, timeout=60)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn(b'500', result.stderr)
            self.assertEqual(p.stop()[0], 0)

    def chromium_dom(self, chromium, url, *extra):
        profile = tempfile.mkdtemp(prefix='chromium-', dir=self.dir)
        result = subprocess.run(
            [chromium] + CHROMIUM_FLAGS + ['--user-data-dir=' + profile, '--proxy-server=http://127.0.0.1:%d' % PROXY,
                                           '--proxy-bypass-list=<-loopback>'] + list(extra) + ['--dump-dom', url],
            capture_output=True, timeout=120)
        return result.stdout.decode('utf-8', 'replace') + result.stderr.decode('utf-8', 'replace')[-2000:]


if __name__ == '__main__':
    unittest.main(verbosity=2)
