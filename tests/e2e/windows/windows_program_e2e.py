#!/usr/bin/env python3
# The Windows program end to end, under an emulator (wine) on an X display.
#
# brindlemoor.exe runs in a temporary directory with its own setting.yaml and
# serves curl (the host's: wine's sockets are the host's) against origins on
# loopback: a gzip page filtered, an HTTPS page through a tunnel; Reload takes
# edited rules; Exit ends the program with exit code 0 and error.log in place.
# win_driver (a Win32 console program of ours) plays the user. (The log window,
# its view and error.log's contents: tests/zib, also under wine, against the
# system's list box; the log's wiring, shared code: the terminal test.)
#
# Usage: windows_program_e2e.py --program EXE --driver EXE -- EMULATOR...
# Exit 0 = passed, 1 = failed. Only the processes started here are stopped.
import gzip, http.server, os, subprocess, sys, tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', '..', 'support'))
from loopback_origin import port_open, serve, wait_until  # noqa: E402

PORT, CLASS = 8080, 'zib_window'
CMD_RELOAD, CMD_EXIT = 300, 400
PAGE = b'<html><head><title>Moor</title></head>\r\n<body><p>Hello from the moor.</p><p>HELLO again.</p></body></html>'
REWRITTEN = PAGE.replace(b'Hello', b'[Hello]').replace(b'HELLO', b'[HELLO]')
RULES = '--- !zib\ntunnel_ports: 443, %d\nfilter:\n  - uri: http://127\\.0\\.0\\.1:%d/moor/.*\n    search: %s\n' \
        '    replace: %s\n'


def check(condition, *what):
    if not condition:
        raise AssertionError(' '.join(map(str, what)))


class Handler(http.server.BaseHTTPRequestHandler):
    log_message = lambda *args: None

    def do_GET(self):  # compressed as real servers send it, whatever was offered
        packed = 'gzip' in self.path
        body = gzip.compress(PAGE) if packed else PAGE
        self.send_response(200)
        self.send_header('Content-Type', 'text/html; charset=utf-8')
        self.send_header('Content-Length', str(len(body)))
        packed and self.send_header('Content-Encoding', 'gzip')
        self.end_headers()
        self.wfile.write(body)


def run(program, driver, emulator, work):
    port, tls_port = (serve(Handler, tls).server_address[1] for tls in (None, work))
    page = 'http://127.0.0.1:%d/moor/page.html' % port

    def settings(search, replace):
        with open(os.path.join(work, 'setting.yaml'), 'w', newline='\n') as f:
            f.write(RULES % (tls_port, port, search, replace))

    def drive(*words):  # never with our pipes: wine's helpers inherit them
        code = subprocess.run(emulator + [driver] + [str(w) for w in words], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=90).returncode
        check(code == 0, 'win_driver', *words, 'failed:', code)

    def get(url, want, *extra):
        out = os.path.join(work, 'page')
        r = subprocess.run(['curl', '-sS', '--max-time', '20', '-x', 'http://127.0.0.1:%d' % PORT, '-o', out, '-w',
                            '%{http_code}'] + list(extra) + [url], capture_output=True, timeout=40)
        body = open(out, 'rb').read() if os.path.exists(out) else b''
        check(r.stdout == b'200' and body == want, url, r.stdout, r.stderr, 'body', body, 'wanted', want)

    settings('hello', '[$&]')
    wait_until(lambda: not port_open(PORT), 'port %d to be free' % PORT, 60)
    with open(os.path.join(work, 'program.out'), 'wb') as out:
        copy = subprocess.Popen(emulator + [program], cwd=work, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT)
    try:
        drive('wait', CLASS, 60000)
        wait_until(lambda: port_open(PORT), 'the proxy to listen', 30)
        get(page.replace('page', 'gzip'), REWRITTEN, '-H', 'Accept-Encoding: gzip, deflate, br')
        get('https://127.0.0.1:%d/moor/page.html' % tls_port, PAGE, '-k')  # through the tunnel: not filtered

        settings('moor', '[$&]')
        drive('command', CLASS, CMD_RELOAD)
        get(page, PAGE.replace(b'Moor', b'[Moor]').replace(b'moor.', b'[moor].'))

        drive('command', CLASS, CMD_EXIT)
        check(copy.wait(30) == 0, 'exit code after Exit:', copy.returncode)
        check(os.path.exists(os.path.join(work, 'error.log')), 'no error.log')
    finally:
        if copy.poll() is None:
            copy.kill()
            copy.wait(10)


def main():  # --program EXE --driver EXE -- EMULATOR...
    os.environ.setdefault('WINEDEBUG', '-all')
    with tempfile.TemporaryDirectory() as work:
        try:
            run(sys.argv[2], sys.argv[4], sys.argv[6:], work)
            print('PASSED: gzip page filtered, tunnel, Reload, Exit')
            return 0
        except (AssertionError, subprocess.TimeoutExpired) as failure:
            print('FAILED: %s' % failure)
            print(open(os.path.join(work, 'program.out'), errors='replace').read()[-3000:])
            return 1


if __name__ == '__main__':
    sys.exit(main())
