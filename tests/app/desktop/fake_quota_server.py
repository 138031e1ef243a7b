#!/usr/bin/env python3
"""Answers the Claude, Kimi, Copilot and Gemini quota requests of the whole-application tests
and screenshots with the fixtures, on a free loopback port that it prints first; each request's
path is appended to the log, when one is given. usage: fake_quota_server.py <fixtures> [<request
log>]"""
import http.server
import pathlib
import sys

fixtures = pathlib.Path(sys.argv[1])
log = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else None
answers = {
    "/api/oauth/usage": fixtures / "claude" / "usage_full.json",
    "/coding/v1/usages": fixtures / "kimi" / "usages.json",
    "/copilot_internal/user": fixtures / "copilot" / "user_pro.json",
    "/v1internal:loadCodeAssist": fixtures / "gemini" / "load_code_assist.json",
    "/v1internal:retrieveUserQuota": fixtures / "gemini" / "quota.json",
}


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        path = self.path.split("?")[0]
        if log:
            with log.open("a") as requests:
                requests.write(path + "\n")
        body = answers[path].read_bytes() if path in answers else b"{}"
        self.send_response(200 if path in answers else 404)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        self.rfile.read(min(int(self.headers.get("Content-Length") or 0), 1 << 20))
        self.do_GET()

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
