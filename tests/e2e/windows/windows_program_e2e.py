#!/usr/bin/env python3
"""The Windows program end to end, under an emulator (wine) on an X display.

brindlemoor.exe runs in a temporary directory with its own setting.yaml and
serves curl (the host's: wine's sockets are the host's) against origins on
loopback: a gzip page filtered, an HTTPS page through a tunnel; the log
window follows new lines only while the user is at its end; Reload takes
edited rules; Exit ends the program with exit code 0 and error.log in place.
win_driver (a Win32 console program of ours) plays the user.

Usage: windows_program_e2e.py --program EXE --driver EXE -- EMULATOR...
Exit 0 = passed, 1 = failed. Only the processes started here are stopped.
"""
import argparse, gzip, http.server, os, socket, ssl, subprocess, sys, tempfile, threading, time

PORT, CLASS = 8080, 'zib_window'
CMD_SHOW, CMD_HIDE, CMD_RELOAD, CMD_EXIT = 200, 201, 300, 400
PAGE = b'<html><head><title>Moor</title></head>\r\n<body><p>Hello from the moor.</p><p>HELLO again.</p></body></html>'
REWRITTEN = PAGE.replace(b'Hello', b'[Hello]').replace(b'HELLO', b'[HELLO]')
TLS_PAGE = b'<html><body><h1>Moor over TLS</h1></body></html>'
RULES = '--- !zib\ntunnel_ports: 443, %d\nfilter:\n  - uri: http://127\\.0\\.0\\.1:%d/moor/.*\n    search: %s\n' \
        '    replace: %s\n'


class Failure(Exception):
    pass


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        # Compressed as real servers send it, whatever was offered.
        body = TLS_PAGE if self.server.tls else gzip.compress(PAGE) if 'gzip' in self.path else PAGE
        self.send_response(200)
        self.send_header('Content-Type', 'text/html; charset=utf-8')
        if 'gzip' in self.path:
            self.send_header('Content-Encoding', 'gzip')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def origin(work, tls):
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
    server.daemon_threads, server.tls = True, tls
    if tls:  # a self-signed certificate made here
        cert, key = os.path.join(work, 'cert.pem'), os.path.join(work, 'key.pem')
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert,
                        '-days', '1', '-subj', '/CN=127.0.0.1'], check=True, capture_output=True, timeout=60)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def port_open():
    with socket.socket() as s:
        s.settimeout(0.5)
        return s.connect_ex(('127.0.0.1', PORT)) == 0


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise Failure('timed out after %ds waiting for %s' % (seconds, what))
        time.sleep(0.2)


def run(args, work):
    base = 'http://127.0.0.1:%d' % args.origin.server_address[1]

    def settings(search, replace):
        with open(os.path.join(work, 'setting.yaml'), 'w', newline='\n') as f:
            f.write(RULES % (args.tls.server_address[1], args.origin.server_address[1], search, replace))

    def drive(*words):  # output to files, never to our pipes: wine's helpers inherit them
        with open(os.path.join(work, 'driver.out'), 'w+b') as out:
            code = subprocess.run(args.emulator + [args.driver] + [str(w) for w in words], stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=subprocess.DEVNULL, timeout=90).returncode
            out.seek(0)
            if code != 0:
                raise Failure('win_driver %s failed (%d)' % (' '.join(map(str, words)), code))
            return out.read().decode('utf-8', 'replace').splitlines()

    def view():  # the log's top index, count and rows, once the lines on their way have arrived
        last = None
        for _ in range(20):
            words = drive('log', CLASS)[0].split()
            now = {words[i]: int(words[i + 1]) for i in range(0, 6, 2)}
            if now == last:
                return now
            last = now
            time.sleep(0.3)
        raise Failure('the log window kept changing: %r' % last)

    def get(path, want, *extra):
        out = os.path.join(work, 'page')
        r = subprocess.run(['curl', '-sS', '--max-time', '20', '-x', 'http://127.0.0.1:%d' % PORT, '-o', out, '-w',
                            '%{http_code}'] + list(extra) + [path], capture_output=True, timeout=40)
        body = open(out, 'rb').read() if os.path.exists(out) else b''
        if r.stdout != b'200' or body != want:
            raise Failure('%s: %s %s, body %r, wanted %r' % (path, r.stdout, r.stderr, body, want))

    settings('hello', '[$&]')
    wait_until(lambda: not port_open(), 120, 'port %d to be free' % PORT)
    with open(os.path.join(work, 'program.out'), 'wb') as out:
        program = subprocess.Popen(args.emulator + [args.program], cwd=work, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=subprocess.STDOUT)
    try:
        drive('wait', CLASS, 60000, 1)
        wait_until(port_open, 30, 'the proxy to listen')
        get(base + '/moor/gzip.html', REWRITTEN, '-H', 'Accept-Encoding: gzip, deflate, br')
        get('https://127.0.0.1:%d/' % args.tls.server_address[1], TLS_PAGE, '-k')
        wait_until(lambda: any(' tunnel closed: ' in line for line in drive('log', CLASS)), 10, 'the tunnel end line')
        if [line for line in drive('log', CLASS) if line.startswith('** Hit')] != ['** Hit 0 rule. **']:
            raise Failure('the log window does not show one "Hit" line for rule 0')
        print('gzip page decoded and filtered; HTTPS through a tunnel; both logged')

        drive('command', CLASS, CMD_SHOW)
        for _ in range(6):
            get(base + '/moor/page.html', REWRITTEN)
        at_end = view()
        if at_end['top'] != at_end['count'] - at_end['rows'] or at_end['top'] <= 0:
            raise Failure('at the end, new lines did not keep the newest in view: %r' % at_end)
        drive('scroll', CLASS, 'up')
        held = view()
        get(base + '/moor/page.html', REWRITTEN)
        after = view()
        if held['top'] >= at_end['top'] or after['top'] != held['top'] or after['count'] <= held['count']:
            raise Failure('scrolled up, the view moved with new lines: %r, %r, %r' % (at_end, held, after))
        drive('scroll', CLASS, 'end')
        get(base + '/moor/page.html', REWRITTEN)
        end = view()
        if end['count'] <= after['count'] or end['top'] != end['count'] - end['rows']:
            raise Failure('back at the end, new lines did not keep the newest in view: %r' % end)
        drive('command', CLASS, CMD_HIDE)
        print('log window: follows at the end, stays when scrolled up')

        settings('moor', '[$&]')
        drive('command', CLASS, CMD_RELOAD)
        get(base + '/moor/page.html', PAGE.replace(b'Moor', b'[Moor]').replace(b'moor.', b'[moor].'))
        print('Reload: the edited rules apply')

        drive('command', CLASS, CMD_EXIT)
        if program.wait(30) != 0:
            raise Failure('the program ended with exit code %d after Exit' % program.returncode)
        drive('wait', CLASS, 30000, 0)
        if port_open() or not open(os.path.join(work, 'error.log'), 'rb').read().startswith(b'\xef\xbb\xbf'):
            raise Failure('after Exit the port is still open or error.log lacks its byte order mark')
        print('Exit: exit code 0, window and port gone, error.log in place')
    finally:
        if program.poll() is None:
            program.kill()
            program.wait(10)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--program', required=True)
    parser.add_argument('--driver', required=True)
    parser.add_argument('emulator', nargs='+')
    args = parser.parse_args()
    os.environ.setdefault('WINEDEBUG', '-all')
    with tempfile.TemporaryDirectory() as work:
        args.origin, args.tls = origin(work, False), origin(work, True)
        try:
            run(args, work)
            print('PASSED')
            return 0
        except (Failure, subprocess.TimeoutExpired) as failure:
            print('FAILED: %s' % failure)
            print(open(os.path.join(work, 'program.out'), errors='replace').read()[-3000:])
            return 1


if __name__ == '__main__':
    sys.exit(main())
