// The screen in a browser, end to end: Debian's headless Chromium opens the page served by a real
// pdi07310-server on loopback, and the clerk's keys and clicks go through the WebAssembly
// module to the server. Screenshots land in $PDI_WEB_SHOTS when it is set.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { call, launchBrowser, openScreen, snapshotOf, sql, startSystem } from './harness.mjs';

const shots = process.env.PDI_WEB_SHOTS;
async function shoot(page, name) {
  if (!shots) return;
  fs.mkdirSync(shots, { recursive: true });
  await page.screenshot({ path: path.join(shots, `${name}.png`) });
}

const idle = (page) => page.waitForFunction(() => window.TEST_idle(), { timeout: 60000 });
const dialog = (page, role) => page.waitForSelector(`#modal-layer [role=${role}]`, { timeout: 60000 });
const dialogText = (page, role) => page.$eval(`#modal-layer [role=${role}] .dialog-text`, (n) => n.textContent);
const press = async (page, key, n = 1) => { for (let i = 0; i < n; i++) await page.keyboard.press(key); };

// The suppliers of the first product, as the server has them.
async function suppliersOfFirstProduct(system) {
  const data = await call(system, 'getDados', []);
  assert.equal(data.ok, true);
  const [products, suppliers] = data.data;
  const first = products.rows[0][products.fields.findIndex((f) => f.name === 'CDPRODUTO')];
  const key = suppliers.fields.findIndex((f) => f.name === 'CDPRODUTODES');
  const number = suppliers.fields.findIndex((f) => f.name === 'NRINSJURFORN');
  return { product: first, numbers: suppliers.rows.filter((r) => r[key] === first).map((r) => r[number]) };
}

describe('the screen in a browser', () => {
  let system;
  let browser;
  let page;

  before(async () => {
    system = await startSystem({ products: 40, rowsPerProduct: 4 });
    browser = await launchBrowser();
    page = await browser.newPage();
    page.on('pageerror', (e) => console.error('page error:', e.message));
  });

  after(async () => {
    await browser?.close();
    await system?.stop();
  });

  it('opens the screen on the demo products, with the security headers', async () => {
    const response = await page.goto(system.url, { waitUntil: 'load' });
    const headers = response.headers();
    assert.match(headers['content-security-policy'], /frame-ancestors 'none'/);
    assert.doesNotMatch(headers['content-security-policy'], /unsafe-inline/);
    assert.equal(headers['x-content-type-options'], 'nosniff');
    assert.equal(headers['referrer-policy'], 'no-referrer');
    assert.equal(headers['cache-control'], 'no-cache');
    assert.equal(headers['content-encoding'], 'gzip');  // the build's gzip copy
    await page.waitForFunction(() => document.querySelectorAll('#g-dbgPadrao .grid-row').length > 0, { timeout: 60000 });
    await idle(page);
    const products = sql(system.local, 'select count(*) from PRODUTO')[0][0];
    assert.ok(Number(products) > 0);
    const grid = await page.$eval('#g-dbgPadrao', (g) => ({ rows: g.getAttribute('aria-rowcount'), role: g.getAttribute('role') }));
    assert.equal(grid.role, 'grid');
    assert.equal(Number(grid.rows), 41);  // 40 products and the title row
    const firstCell = await page.$eval('#g-dbgPadrao .grid-row [role=gridcell]', (c) => c.textContent);
    assert.ok(firstCell.length > 0);
    const tabs = await page.$$eval('[role=tab]', (t) => t.map((x) => x.textContent));
    assert.deepEqual(tabs, ['Dados', 'Fornecedor', 'Cliente', 'Filial']);
    assert.ok(await page.$('[role=toolbar] button[aria-label=Incluir]'));
    // The hashed files are kept for good; their names change with their content.
    const script = await page.$eval('script[type=module]', (s) => s.src);
    const scriptAnswer = await fetch(script);
    assert.match(scriptAnswer.headers.get('cache-control'), /immutable/);
    await shoot(page, 'opened');
  });

  it('stores a supplier typed by keyboard alone, and shows the duplicate refusal in an alertdialog', async () => {
    const before = await suppliersOfFirstProduct(system);
    const all = sql(system.local, 'select NRINSJURFORN from FORNECEDOR order by NRINSJURFORN').map((r) => r[0]);
    const fresh = all.find((n) => !before.numbers.includes(n));
    assert.ok(fresh, 'the demo has a supplier the first product lacks');
    await page.keyboard.down('Alt');
    await page.keyboard.press('KeyL');  // next list: the product list to the supplier list
    await page.keyboard.up('Alt');
    await idle(page);
    assert.equal((await snapshotOf(page)).form.active, 'dbgFornecedor');
    await press(page, 'Insert');
    await page.keyboard.type(fresh);
    await idle(page);
    await shoot(page, 'typing');
    await press(page, 'ArrowDown');  // leaving the new row (inserted above the current one) posts it: check, save, reload
    await idle(page);
    const afterStore = await suppliersOfFirstProduct(system);
    assert.ok(afterStore.numbers.includes(fresh), `${fresh} reached the server`);

    // The same supplier again: the screen's own message, in an alertdialog holding its text.
    await press(page, 'Insert');
    await page.keyboard.type(fresh);
    await press(page, 'ArrowDown');
    const box = await dialog(page, 'alertdialog');
    const text = await dialogText(page, 'alertdialog');
    assert.ok(text.length > 0);
    const described = await box.evaluate((b) => document.getElementById(b.getAttribute('aria-describedby')).textContent);
    assert.equal(described, text);
    await shoot(page, 'duplicate');
    await press(page, 'Enter');
    await page.waitForSelector('#modal-layer [role=alertdialog]', { hidden: true });
    await idle(page);
    await press(page, 'Escape');
    await idle(page);
    const afterRefusal = await suppliersOfFirstProduct(system);
    assert.equal(afterRefusal.numbers.filter((n) => n === fresh).length, 1);
  });

  it('fills a supplier from the pick list', async () => {
    await press(page, 'Insert');
    await idle(page);
    await page.keyboard.down('Control');
    await press(page, 'Enter');
    await page.keyboard.up('Control');
    await page.waitForSelector('#modal-layer .dialog-pick .rowlist-row', { timeout: 60000 });
    await shoot(page, 'picklist');
    const rows = await page.$eval('#modal-layer .dialog-pick .rowlist', (g) => Number(g.getAttribute('aria-rowcount')));
    assert.ok(rows > 1);
    await press(page, 'Enter');
    await page.waitForSelector('#modal-layer .dialog-pick', { hidden: true });
    await idle(page);
    const state = (await snapshotOf(page)).form;
    const grid = findControl(state.controls, 'dbgFornecedor');
    assert.ok(grid.state === 'insert' || grid.state === 'browse');
    await press(page, 'Escape');
    await idle(page);
  });

  it('pastes a list of codes through the screen, with a summary', async () => {
    const before = await suppliersOfFirstProduct(system);
    const all = sql(system.local, 'select NRINSJURFORN from FORNECEDOR order by NRINSJURFORN desc').map((r) => r[0]);
    const codes = all.filter((n) => !before.numbers.includes(n)).slice(0, 2);
    await page.evaluate((text) => {
      const event = new ClipboardEvent('paste', { clipboardData: new DataTransfer(), bubbles: true });
      event.clipboardData.setData('text/plain', text);
      document.activeElement.dispatchEvent(event);
    }, `${codes[0]}\n\n${codes[1]}\n${before.numbers[0]}\n`);
    await page.waitForSelector('#modal-layer .dialog-summary', { timeout: 60000 });
    const line = await page.$eval('#modal-layer .dialog-summary .dialog-text', (n) => n.textContent);
    assert.match(line, /2/);
    const outcomes = await page.$$eval('#modal-layer .dialog-summary tbody tr', (rows) => rows.map((r) => r.lastChild.textContent));
    assert.deepEqual(outcomes.slice(0, 2), ['gravado', 'gravado']);
    assert.notEqual(outcomes[2], 'gravado');
    await shoot(page, 'paste');
    await press(page, 'Enter');
    await idle(page);
    const afterPaste = await suppliersOfFirstProduct(system);
    assert.ok(codes.every((c) => afterPaste.numbers.includes(c)));
  });

  it('exports the product list as a download', async () => {
    const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'pdi-downloads-'));
    const cdp = await page.createCDPSession();
    await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
    await page.click('#menubar .menu-top:first-child > button');
    await page.click('#menubar .menu-top:first-child .menu-entry');
    await page.waitForSelector('.dialog-export');
    await page.click('.dialog-export input[value=main]');
    await page.click('.dialog-export input[value=csv]');
    await page.click('.dialog-export button[type=submit]');
    await idle(page);
    const file = path.join(downloads, 'pdi07310-produtos.csv');
    for (let i = 0; i < 100 && !fs.existsSync(file); i++) await new Promise((r) => setTimeout(r, 100));
    const text = fs.readFileSync(file, 'utf8');
    assert.equal(text.charCodeAt(0), 0xfeff);
    assert.equal(text.trim().split('\r\n').length, 41);
    fs.rmSync(downloads, { recursive: true, force: true });
  });

  it('takes the local database from the browser storage on a reload (304)', async () => {
    const statuses = [];
    page.on('response', (r) => { if (r.url().endsWith('/local.db')) statuses.push(r.status()); });
    await openScreen(page, system.url);
    assert.deepEqual(statuses, [304]);
    const note = await page.$eval('#local-note', (n) => n.textContent);
    assert.match(note, /sem alteração/);
  });
});

function findControl(list, name) {
  for (const c of list) {
    if (c.name === name) return c;
    const found = findControl(c.controls || [], name);
    if (found) return found;
  }
  return null;
}

describe('the sign-in', () => {
  let system;
  let browser;
  const token = 'a'.repeat(8) + '0123456789abcdef';

  before(async () => {
    const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'pdi-tokens-'));
    const tokens = path.join(folder, 'tokens');
    fs.writeFileSync(tokens, `${token} maria\n`, { mode: 0o600 });
    system = await startSystem({ products: 5, rowsPerProduct: 2, tokens });
    browser = await launchBrowser();
  });

  after(async () => {
    await browser?.close();
    await system?.stop();
  });

  it('asks for the token, refuses a wrong one, opens with the right one and keeps it out of storage', async () => {
    const page = await browser.newPage();
    await page.goto(system.url, { waitUntil: 'load' });
    await page.waitForSelector('#signin:not([hidden])');
    // A user and password: this server refuses them (or takes no sign-in by name); the password
    // leaves its field either way.
    await page.type('#signin-user', 'maria');
    await page.type('#signin-password', 'senha-secreta-1');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => /recusados|não aceita/.test(document.getElementById('signin-message').textContent));
    assert.equal(await page.$eval('#signin-password', (f) => f.value), '');
    await page.$eval('#signin-user', (f) => { f.value = ''; });
    await page.type('#signin-token', 'wrong-token-0123456789');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => /recusado/.test(document.getElementById('signin-message').textContent));
    await page.$eval('#signin-token', (f) => { f.value = ''; });
    await page.type('#signin-token', token);
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => document.querySelectorAll('#g-dbgPadrao .grid-row').length > 0, { timeout: 60000 });
    const stored = await page.evaluate(() => JSON.stringify({ ...localStorage }) + JSON.stringify({ ...sessionStorage }));
    assert.ok(!stored.includes(token) && !stored.includes('senha-secreta-1'));
  });
});
