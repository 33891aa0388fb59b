// What the browser tests and the browser benchmark share: a real pdi07310-server on loopback over
// demo data in a throwaway folder, serving the page itself (--web), and Debian's Chromium started
// headless through puppeteer-core (no browser download: the machine's /usr/bin/chromium).
//
// Environment: PDI_BUILD_DIR (default build), PDI_WEB_DIST (default build/web/dist),
// PDI_CHROMIUM (default /usr/bin/chromium).
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import net from 'node:net';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const ROOT = path.resolve(here, '..', '..');
const BUILD = path.resolve(ROOT, process.env.PDI_BUILD_DIR || 'build');
export const SERVER_BIN = path.join(BUILD, 'server', 'pdi07310-server');
export const DIST = path.resolve(ROOT, process.env.PDI_WEB_DIST || path.join(BUILD, 'web', 'dist'));
const CHROMIUM = process.env.PDI_CHROMIUM || '/usr/bin/chromium';

export function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
    s.on('error', reject);
  });
}

// Waits until `line` appears in what child printed (stdout or stderr), at most `ms`.
function waitForLine(child, pattern, ms, what) {
  return new Promise((resolve, reject) => {
    let seen = '';
    const timer = setTimeout(() => reject(new Error(`${what} did not start within ${ms} ms:\n${seen}`)), ms);
    const look = (chunk) => {
      seen += chunk;
      if (pattern.test(seen)) { clearTimeout(timer); resolve(); }
    };
    child.stdout?.on('data', look);
    child.stderr?.on('data', look);
    child.on('exit', (code) => { clearTimeout(timer); reject(new Error(`${what} exited (${code}):\n${seen}`)); });
  });
}

// Demo data and the server serving the page. options: products, rowsPerProduct, tokens (a file
// of "TOKEN USER" lines), serverArgs.
export async function startSystem(options = {}) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'pdi-web-'));
  const db = path.join(folder, 'server.db');
  const local = path.join(folder, 'local.db');
  execFileSync(SERVER_BIN, ['demo', '--db', db, '--local', local, '--products', String(options.products || 40),
    '--rows-per-product', String(options.rowsPerProduct || 4)], { stdio: 'pipe', timeout: 600000 });
  const serverPort = await freePort();
  const serverArgs = ['serve', '--db', db, '--listen', `127.0.0.1:${serverPort}`, '--web', DIST];
  if (options.tokens) serverArgs.push('--tokens', options.tokens);
  const server = spawn(SERVER_BIN, [...serverArgs, ...(options.serverArgs || [])], { stdio: ['ignore', 'pipe', 'pipe'] });
  await waitForLine(server, /serves the screen for browsers/, 30000, 'pdi07310-server');
  return {
    folder, db, local, serverPort, url: `http://127.0.0.1:${serverPort}/`,
    async stop() {
      for (const child of [server]) {
        if (child.exitCode === null) {
          child.kill('SIGTERM');
          await new Promise((r) => { child.once('exit', r); setTimeout(r, 5000); });
        }
      }
      fs.rmSync(folder, { recursive: true, force: true });
    },
  };
}

export async function launchBrowser() {
  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'pdi-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: CHROMIUM, headless: true, userDataDir,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage', '--window-size=1280,860'],
    defaultViewport: { width: 1280, height: 860 },
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    fs.rmSync(userDataDir, { recursive: true, force: true });
  };
  return browser;
}

// A JSON-RPC call to the server, as the tests check what reached it.
export async function call(system, method, params) {
  const response = await fetch(`http://127.0.0.1:${system.serverPort}/PDI07310.rdmProdDesoneraImpos`, {
    method: 'POST', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({ jsonrpc: '2.0', id: 1, method, params }),
  });
  return (await response.json()).result;
}

// Rows of an SQL query over a SQLite file, through Debian's sqlite3 command.
export function sql(file, query) {
  return execFileSync('sqlite3', ['-separator', '\t', file, query], { encoding: 'utf8' })
    .split('\n').filter(Boolean).map((l) => l.split('\t'));
}

// Waits until the page has drawn the screen (the product list holds rows).
export async function openScreen(page, url) {
  await page.goto(url, { waitUntil: 'load' });
  await page.waitForFunction(() => document.querySelectorAll('#g-dbgPadrao .grid-row').length > 0, { timeout: 60000 });
}

// The page's idea of the screen: the models' snapshot, as it draws it.
export function snapshotOf(page) {
  return page.evaluate(() => window.TEST_snapshot());
}
