#!/usr/bin/env python3
"""The Windows program end to end, under an emulator (wine) on an X display.

brindlemoor.exe runs in a temporary directory with its own setting.yaml and
serves curl (the host's: wine's sockets are the host's) against an origin on
loopback; a second copy must refuse to start with a message box; the Exit
command must end the first copy with exit code 0 and error.log in place.
win_driver (a Win32 console program of ours) plays the user.

Usage: windows_program_e2e.py --program EXE --driver EXE -- EMULATOR...
Run it under `xvfb-run -a`. Exit 0 = passed, 1 = failed.

Only the processes this script starts are ever stopped: the emulator's shared
server (wineserver) is left alone, other wine tests may be using it.
"""
import argparse
import gzip
import http.server
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

PROXY_PORT = 8080
CLASS = 'zib_window'
CMD_EXIT = 400

# Bounds on every wait. A cold wine start can take several seconds.
START_S = 60
STEP_S = 30
BUSY_PORT_S = 120

PAGE = (b'<html><head><title>Moor</title></head>\r\n'
        b'<body><p>Hello from the moor.</p><p>HELLO again.</p></body></html>\r\n')
REWRITTEN = (b'<html><head><title>Moor</title></head>\r\n'
             b'<body><p>[Hello] from the moor.</p><p>[HELLO] again.</p></body></html>\r\n')


class Failure(Exception):
    pass


class Origin(http.server.ThreadingHTTPServer):
    daemon_threads = True


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path in ('/moor/page.html', '/other/page.html'):
            self.send_response(200)
            self.send_header('Content-Type', 'text/html; charset=utf-8')
            self.send_header('Content-Length', str(len(PAGE)))
            self.end_headers()
            self.wfile.write(PAGE)
        elif self.path == '/moor/gzip.html':
            # Compressed as real servers send it, whatever was offered.
            body = gzip.compress(PAGE)
            self.send_response(200)
            self.send_header('Content-Type', 'text/html; charset=utf-8')
            self.send_header('Content-Encoding', 'gzip')
            self.send_header('Content-Length', str(len(body)))
            self.end_headers()
            self.wfile.write(body)
        else:
            self.send_error(404)


TLS_PAGE = b'<html><body><h1>Moor over TLS</h1></body></html>'


class Tls_Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        self.send_response(200)
        self.send_header('Content-Type', 'text/html')
        self.send_header('Content-Length', str(len(TLS_PAGE)))
        self.end_headers()
        self.wfile.write(TLS_PAGE)


def tls_origin(work):
    """An HTTPS server on loopback with a self-signed certificate made here."""
    cert, key = os.path.join(work, 'cert.pem'), os.path.join(work, 'key.pem')
    subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert,
                    '-days', '1', '-subj', '/CN=127.0.0.1'], check=True, capture_output=True, timeout=60)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server = Origin(('127.0.0.1', 0), Tls_Handler)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def port_open(port):
    with socket.socket() as s:
        s.settimeout(0.5)
        return s.connect_ex(('127.0.0.1', port)) == 0


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.1)
    raise Failure('timed out after %ds waiting for %s' % (seconds, what))


class Session:
    """Starts the program's copies and the driver, and stops what is left."""

    def __init__(self, args, work):
        self.emulator = args.emulator
        self.program = os.path.abspath(args.program)
        self.driver = os.path.abspath(args.driver)
        self.run_dir = os.path.join(work, 'run')
        self.log_dir = os.path.join(work, 'logs')
        os.mkdir(self.run_dir)
        os.mkdir(self.log_dir)
        self.copies = []
        self.count = 0

    def output_file(self, tag):
        self.count += 1
        return os.path.join(self.log_dir, '%02d-%s' % (self.count, tag))

    def start_copy(self, tag):
        # Output to files, never to our pipes: wine's helper processes inherit
        # them and would keep a pipe (and ctest) waiting.
        out = self.output_file(tag)
        with open(out + '.out', 'wb') as stdout, open(out + '.err', 'wb') as stderr:
            copy = subprocess.Popen(self.emulator + [self.program], cwd=self.run_dir, stdin=subprocess.DEVNULL,
                                    stdout=stdout, stderr=stderr)
        copy.tag = tag
        self.copies.append(copy)
        return copy

    def drive(self, *words, seconds=STEP_S):
        """Runs win_driver; returns (exit code, its standard output as text)."""
        out = self.output_file('driver-' + words[0])
        with open(out + '.out', 'wb') as stdout, open(out + '.err', 'wb') as stderr:
            try:
                code = subprocess.run(self.emulator + [self.driver] + [str(w) for w in words], stdin=subprocess.DEVNULL,
                                      stdout=stdout, stderr=stderr, timeout=seconds + STEP_S).returncode
            except subprocess.TimeoutExpired:
                raise Failure('win_driver %s did not return' % ' '.join(map(str, words)))
        with open(out + '.out', 'rb') as f:
            return code, f.read().decode('utf-8', 'replace')

    def wait_exit(self, copy, what):
        try:
            return copy.wait(STEP_S)
        except subprocess.TimeoutExpired:
            # Most likely a message box nobody expected: say what it says.
            code, shown = self.drive('message-box', 1000, seconds=5)
            raise Failure('%s did not end%s' % (what, ':\n' + shown if code == 0 else ''))

    def log_window(self):
        code, text = self.drive('log', CLASS)
        if code != 0:
            raise Failure('could not read the log window')
        return text.splitlines()

    def stop_all(self):
        for copy in self.copies:
            if copy.poll() is None:
                copy.kill()
                try:
                    copy.wait(10)
                except subprocess.TimeoutExpired:
                    print('could not stop %s (pid %d)' % (copy.tag, copy.pid))

    def dump_logs(self):
        if any(copy.poll() is None for copy in self.copies):
            try:
                print('--- log window (last 60 lines) ---\n' + '\n'.join(self.log_window()[-60:]))
            except Failure:
                pass
        for name in sorted(os.listdir(self.log_dir)):
            with open(os.path.join(self.log_dir, name), 'rb') as f:
                text = f.read().decode('utf-8', 'replace').strip()
            if text:
                print('--- %s ---\n%s' % (name, text[-3000:]))


def curl(url, out, *extra):
    result = subprocess.run(['curl', '-sS', '--max-time', '20', '-x', 'http://127.0.0.1:%d' % PROXY_PORT,
                             '-o', out, '-w', '%{http_code}'] + list(extra) + [url], capture_output=True, timeout=40)
    if result.returncode != 0:
        raise Failure('curl %s failed (%d): %s' % (url, result.returncode, result.stderr.decode(errors='replace')))
    with open(out, 'rb') as f:
        return result.stdout.decode(), f.read()


def expect_page(session, url, want, what, *extra):
    status, body = curl(url, os.path.join(session.log_dir, 'page'), *extra)
    if status != '200' or body != want:
        # Port 8080 is shared with every other proxy run on this machine.
        seen = any(url in line for line in session.log_window())
        raise Failure('%s: status %s, body %r, wanted %r%s' %
                      (what, status, body, want, '' if seen else ' (the request is not in our log window: '
                       'another program answered on port %d?)' % PROXY_PORT))


def log_view(session):
    """The log window's top index, item count and whole rows in view, once
    the lines still on their way have arrived (the count holds still)."""
    last = None
    deadline = time.monotonic() + STEP_S
    while time.monotonic() < deadline:
        code, text = session.drive('view', CLASS)
        if code != 0:
            raise Failure('could not read the log window\'s view')
        words = text.split()
        view = {words[i]: int(words[i + 1]) for i in range(0, len(words), 2)}
        if view == last:
            return view
        last = view
        time.sleep(0.3)
    raise Failure('the log window kept changing: %r' % last)


def log_follows(session, base):
    """Shown, the log keeps its newest line in view while the user is at the
    end; scrolled up, it stays where the user left it; back at the end, it
    follows again. Read with the real list box's own top index."""
    CMD_SHOW, CMD_HIDE = 200, 201
    if session.drive('command', CLASS, CMD_SHOW)[0] != 0:
        raise Failure('could not send Show')
    for _ in range(6):
        expect_page(session, base + '/moor/page.html', REWRITTEN, 'page while the log is shown')
    view = log_view(session)
    if view['rows'] < 2 or view['count'] <= view['rows']:
        raise Failure('the log window shows %r: too few lines or rows to scroll' % view)
    if view['top'] != view['count'] - view['rows']:
        raise Failure('at the end, new lines did not keep the newest in view: %r' % view)

    if session.drive('scroll', CLASS, 'up')[0] != 0:
        raise Failure('could not scroll the log window')
    held = log_view(session)
    if held['top'] >= view['top']:
        raise Failure('a page up did not scroll the log window: %r' % held)
    for _ in range(3):
        expect_page(session, base + '/moor/page.html', REWRITTEN, 'page while the log is scrolled up')
    after = log_view(session)
    if after['count'] <= held['count'] or after['top'] != held['top']:
        raise Failure('scrolled up, the view moved with new lines: %r, then %r' % (held, after))

    if session.drive('scroll', CLASS, 'end')[0] != 0:
        raise Failure('could not scroll the log window')
    expect_page(session, base + '/moor/page.html', REWRITTEN, 'page after scrolling back')
    end = log_view(session)
    if end['count'] <= after['count'] or end['top'] != end['count'] - end['rows']:
        raise Failure('back at the end, new lines did not keep the newest in view: %r' % end)
    if session.drive('command', CLASS, CMD_HIDE)[0] != 0:
        raise Failure('could not send Hide')
    print('log window: follows at the end (top %d of %d, %d rows), stays when scrolled up (top %d)' %
          (view['top'], view['count'], view['rows'], held['top']))


def start_first(session):
    """Starts the program and waits until it listens. Port 8080 is shared with
    proxy runs outside this ctest (no resource lock there): when one takes the
    port between our check and the program's bind, the copy is stopped and
    started again, a bounded number of times."""
    for attempt in range(1, 4):
        wait_until(lambda: not port_open(PROXY_PORT), BUSY_PORT_S, 'port %d to be free' % PROXY_PORT)
        first = session.start_copy('first')
        if session.drive('wait-window', CLASS, START_S * 1000, seconds=START_S)[0] != 0:
            if first.poll() is not None:
                raise Failure('the program ended at start-up with exit code %d' % first.returncode)
            code, shown = session.drive('message-box', 1000, seconds=5)
            raise Failure('no "%s" window appeared%s' % (CLASS, ':\n' + shown if code == 0 else ''))
        wait_until(lambda: port_open(PROXY_PORT), STEP_S, 'the proxy to listen on port %d' % PROXY_PORT)
        # A failed bind is logged a moment after the port shows open (held by the other program).
        time.sleep(1)
        errors = [line for line in session.log_window() if line.startswith('error in server thread')]
        if not errors:
            return first
        if 'bind' not in errors[0] or attempt == 3:
            raise Failure('the listener failed: %s' % errors[0])
        print('another program took port %d meanwhile; starting again' % PROXY_PORT)
        first.kill()
        first.wait(10)
        if session.drive('wait-gone', CLASS, STEP_S * 1000)[0] != 0:
            raise Failure('the stopped copy\'s window did not go away')


def scenario(session, origin_port):
    base = 'http://127.0.0.1:%d' % origin_port
    # Bracket every "hello" on the moor pages, in any case. (No comment line
    # before "filter": the reader would then not see the root mapping.)
    with open(os.path.join(session.run_dir, 'setting.yaml'), 'w', newline='\n') as f:
        f.write('--- !zib\n'
                'filter:\n'
                '  - uri: http://127\\.0\\.0\\.1:%d/moor/.*\n'
                '    search: hello\n'
                '    replace: [$&]\n' % origin_port)
    if session.drive('wait-gone', CLASS, 0)[0] != 0:
        raise Failure('a "%s" window already exists under this emulator' % CLASS)
    first = start_first(session)
    print('started; listening on %d' % PROXY_PORT)

    expect_page(session, base + '/moor/page.html', REWRITTEN, 'matching page')
    expect_page(session, base + '/other/page.html', PAGE, 'page no rule matches')
    hits = [line for line in session.log_window() if line.startswith('** Hit')]
    if hits != ['** Hit 0 rule. **']:
        raise Failure('the log window shows %r as its "Hit" lines, wanted one for rule 0' % hits)
    print('curl through the proxy: rule applied where it matches, page untouched elsewhere, "Hit" logged')

    if session.drive('visible', CLASS)[1].strip() != 'hidden':
        raise Failure('the log window is visible after start-up')
    log_follows(session, base)

    second = session.start_copy('second')
    code, shown = session.drive('message-box', START_S * 1000, seconds=START_S)
    if code != 0:
        raise Failure('the second copy showed no message box (it %s)' %
                      ('is still running' if second.poll() is None else 'ended with %d' % second.returncode))
    if shown != 'caption: Exception\ntext: 二重起動になります\n':
        raise Failure('the second copy showed %r' % shown)
    if session.wait_exit(second, 'the second copy') != 0:
        raise Failure('the second copy ended with exit code %d' % second.returncode)
    if first.poll() is not None:
        raise Failure('the first copy ended (%d) when the second started' % first.returncode)
    expect_page(session, base + '/moor/page.html', REWRITTEN, 'matching page after the second copy')
    print('second copy: "二重起動になります" with caption "Exception", exit code 0; first copy unaffected')

    if session.drive('command', CLASS, CMD_EXIT)[0] != 0:
        raise Failure('could not send Exit to the "%s" window' % CLASS)
    code = session.wait_exit(first, 'the program after Exit')
    if code != 0:
        raise Failure('the program ended with exit code %d after Exit' % code)
    if port_open(PROXY_PORT):
        raise Failure('port %d still accepts connections after Exit' % PROXY_PORT)
    if session.drive('wait-gone', CLASS, STEP_S * 1000)[0] != 0:
        raise Failure('the "%s" window outlived the program' % CLASS)
    with open(os.path.join(session.run_dir, 'error.log'), 'rb') as f:
        if not f.read().startswith(b'\xef\xbb\xbf'):
            raise Failure('error.log does not start with the UTF-8 byte order mark')
    print('Exit: exit code 0, error.log in place')


def web_scenario(session, origin_port, tls_port):
    """A gzip page decoded and filtered, and an HTTPS page through a tunnel,
    in a copy of the program started for this with its own settings."""
    base = 'http://127.0.0.1:%d' % origin_port
    with open(os.path.join(session.run_dir, 'setting.yaml'), 'w', newline='\n') as f:
        f.write('--- !zib\n'
                'tunnel_ports: 443, %d\n'
                'filter:\n'
                '  - uri: http://127\\.0\\.0\\.1:%d/moor/.*\n'
                '    search: hello\n'
                '    replace: [$&]\n' % (tls_port, origin_port))
    copy = start_first(session)
    expect_page(session, base + '/moor/gzip.html', REWRITTEN, 'gzip page', '-H',
                'Accept-Encoding: gzip, deflate, br')
    print('gzip page: decoded, filtered and sent as identity')
    expect_page(session, 'https://127.0.0.1:%d/' % tls_port, TLS_PAGE, 'HTTPS page through a tunnel', '-k')
    if not any(line.startswith('---- #') and ' tunnel closed: ' in line for line in session.log_window()):
        raise Failure('the log window shows no tunnel end line')
    print('HTTPS page through a CONNECT tunnel, tunnel end logged')
    if session.drive('command', CLASS, CMD_EXIT)[0] != 0:
        raise Failure('could not send Exit to the "%s" window' % CLASS)
    if session.wait_exit(copy, 'the program after Exit') != 0:
        raise Failure('the program ended with exit code %d after Exit' % copy.returncode)
    if session.drive('wait-gone', CLASS, STEP_S * 1000)[0] != 0:
        raise Failure('the "%s" window outlived the program' % CLASS)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--program', required=True)
    parser.add_argument('--driver', required=True)
    parser.add_argument('emulator', nargs='+')
    args = parser.parse_args()
    os.environ.setdefault('WINEDEBUG', '-all')
    if not os.environ.get('DISPLAY'):
        print('no X display: run this under xvfb-run -a')
        return 1

    origin = Origin(('127.0.0.1', 0), Handler)
    threading.Thread(target=origin.serve_forever, daemon=True).start()
    with tempfile.TemporaryDirectory() as work:
        session = Session(args, work)
        tls = tls_origin(work)
        try:
            scenario(session, origin.server_address[1])
            web_scenario(session, origin.server_address[1], tls.server_address[1])
            print('PASSED')
            return 0
        except Failure as failure:
            print('FAILED: %s' % failure)
            session.dump_logs()
            return 1
        finally:
            session.stop_all()
            origin.shutdown()
            tls.shutdown()


if __name__ == '__main__':
    sys.exit(main())
