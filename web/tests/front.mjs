// A stand-in front for the browser tests while pdi07310-server does not yet serve the page itself:
// serves the page's files (build/web/dist) under "/" with the headers the server will send, and
// passes every other request (the service, local.db) through to the application server.
//
//   node web/tests/front.mjs --dist build/web/dist --listen 127.0.0.1:PORT --server 127.0.0.1:PORT
//
// Loopback only; it stops on SIGTERM, and with --while-stdin 1 also when its standard input closes.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';

const args = Object.fromEntries(process.argv.slice(2).reduce((pairs, a, i, all) => {
  if (a.startsWith('--')) pairs.push([a.slice(2), all[i + 1]]);
  return pairs;
}, []));
const dist = path.resolve(args.dist || 'build/web/dist');
const [listenHost, listenPort] = (args.listen || '127.0.0.1:0').split(':');
const [serverHost, serverPort] = (args.server || '127.0.0.1:8470').split(':');

const TYPES = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8', '.css': 'text/css; charset=utf-8', '.wasm': 'application/wasm',
  '.svg': 'image/svg+xml' };
export const SECURITY_HEADERS = {
  'Content-Security-Policy': "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self'; " +
    "img-src 'self' data: blob:; connect-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'",
  'X-Content-Type-Options': 'nosniff',
  'Referrer-Policy': 'no-referrer',
  'Cross-Origin-Opener-Policy': 'same-origin',
};

function serveFile(req, res, name) {
  const file = path.join(dist, name);
  if (!file.startsWith(dist + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) return false;
  const body = fs.readFileSync(file);
  const hashed = /\.[0-9a-f]{12}\.[a-z]+$/.test(name);
  const headers = { ...SECURITY_HEADERS, 'Content-Type': TYPES[path.extname(name)] || 'application/octet-stream',
    'Cache-Control': hashed ? 'public, max-age=31536000, immutable' : 'no-cache' };
  if (!hashed) {
    const etag = `"${fs.statSync(file).mtimeMs.toString(16)}-${body.length.toString(16)}"`;
    headers.ETag = etag;
    if (req.headers['if-none-match'] === etag) {
      res.writeHead(304, headers);
      res.end();
      return true;
    }
  }
  res.writeHead(200, { ...headers, 'Content-Length': body.length });
  res.end(req.method === 'HEAD' ? undefined : body);
  return true;
}

const server = http.createServer((req, res) => {
  const url = new URL(req.url, 'http://front');
  if ((req.method === 'GET' || req.method === 'HEAD') && !url.pathname.startsWith('/PDI07310.')) {
    const name = url.pathname === '/' ? 'index.html' : url.pathname.slice(1);
    if (serveFile(req, res, name)) return;
    res.writeHead(404, { 'Content-Type': 'text/plain' });
    res.end('not found');
    return;
  }
  const upstream = http.request({ host: serverHost, port: serverPort, method: req.method, path: req.url,
    headers: req.headers }, (answer) => {
    res.writeHead(answer.statusCode, answer.headers);
    answer.pipe(res);
  });
  upstream.on('error', () => { res.writeHead(502); res.end(); });
  req.pipe(upstream);
});
server.listen(Number(listenPort), listenHost, () => {
  console.log(`front listening on ${listenHost}:${server.address().port}`);
});
process.on('SIGTERM', () => process.exit(0));
if ('while-stdin' in args) {
  // Started by a test: ends with it, even when the test cannot stop it.
  process.stdin.on('end', () => process.exit(0));
  process.stdin.resume();
}
