# A local HTTPS endpoint for the Wine TLS test: answers every PUT with 204 and prints
# "PUT <path>" per request; prints its port first. Usage: tls_server.py CERT KEY
import http.server
import ssl
import sys


class Handler(http.server.BaseHTTPRequestHandler):
    def do_PUT(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.rfile.read(length)
        self.send_response(204)
        self.end_headers()
        print("PUT " + self.path, flush=True)

    do_POST = do_PUT

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
