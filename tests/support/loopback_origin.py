# For the end-to-end scripts: an HTTP origin on loopback (over TLS with a
# self-signed certificate made on the spot) and waits that give up.
import http.server, os, socket, ssl, subprocess, threading, time


def serve(handler, tls_dir=None):
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
    server.daemon_threads = True
    if tls_dir:
        cert, key = os.path.join(tls_dir, 'cert.pem'), os.path.join(tls_dir, 'key.pem')
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert,
                        '-days', '1', '-subj', '/CN=127.0.0.1'], check=True, capture_output=True, timeout=60)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def port_open(port):
    with socket.socket() as s:
        s.settimeout(0.5)
        return s.connect_ex(('127.0.0.1', port)) == 0


def wait_until(condition, what, seconds=10.0):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, 'timed out after %ds waiting for %s' % (seconds, what)
        time.sleep(0.05)
