// The browser host's page: signs in when the server asks for it, brings the local database (kept
// in the browser's storage, asked again only when it changed), starts the screen's WebAssembly
// module and draws it (render.js). Every event the clerk makes goes to the module as an action,
// one at a time in order: while an action waits (a dialog, a remote call) the next ones are
// queued, and they are dropped if the clerk cancels the call, as on the desktop.
//
// Around the screen, as the desktop's main window: the menus (the screen's own and the host's:
// Arquivo, Editar, Janela, Ajuda), the busy indicator with Cancelar, the history panel, the
// status bar, Colar lista (from the clipboard) and Exportar lista (a download).

import { createBridge } from './bridge.js';
import { el, hideProgress, showModal, showProgress } from './dialogs.js';
import { FormView } from './render.js';
import createPdiModule from './pdi07310.mjs';

const SERVICE = '/PDI07310.rdmProdDesoneraImpos';
const LOCAL_PATH = '/data/local.db';
const PRODUCT_MASK = '9999999999;0;_';

let Module = null;
let formView = null;
let token = '';          // kept in memory only: a reload asks again
let snapshot = null;
let context = {};
let acting = false;
let frameAsked = false;
const queue = [];
const timings = { lastKey: 0, keyToPaint: [], actions: [], started: performance.now() };
// TEST_ hooks for the browser tests and the benchmark: the timings of keys, the snapshot drawn
// last, and whether the screen is between actions.
window.TEST_timings = timings;
window.TEST_snapshot = () => snapshot;
window.TEST_idle = () => !acting && queue.length === 0 && !!Module;
window.TEST_act = (action) => act(action);

const $ = (id) => document.getElementById(id);

function status(text) {
  $('status-text').textContent = text;
}

function authorization() {
  return token ? `Bearer ${token}` : '';
}

// ---- Sign-in ------------------------------------------------------------------------------------

// True when the service answers without asking for more (no tokens, or a valid session cookie).
async function serviceOpen() {
  const headers = {};
  if (token) headers.Authorization = authorization();
  const response = await fetch(SERVICE, { headers, cache: 'no-store', credentials: 'same-origin' });
  if (response.status === 401) return false;
  if (!response.ok) throw new Error(`o servidor respondeu HTTP ${response.status}`);
  return true;
}

// POST /login with the user and password: the server answers {"token","user","role","expires"}
// and sets its session cookie. Returns the session's token, or a message for the clerk.
async function login(user, password) {
  const response = await fetch('/login', {
    method: 'POST', cache: 'no-store', credentials: 'same-origin',
    headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ user, password }),
  });
  if (response.status === 401 || response.status === 403) return { message: 'Usuário ou senha recusados pelo servidor.' };
  if (response.status === 404 || response.status === 405) {
    return { message: 'Este servidor ainda não aceita usuário e senha: informe o token de acesso.' };
  }
  if (!response.ok) throw new Error(`o servidor respondeu HTTP ${response.status}`);
  const answer = await response.json();
  if (typeof answer.token !== 'string' || !answer.token) throw new Error('o servidor não devolveu a sessão');
  return { token: answer.token };
}

function signIn() {
  const form = $('signin');
  const field = $('signin-token');
  const user = $('signin-user');
  const password = $('signin-password');
  const message = $('signin-message');
  form.hidden = false;
  const secure = location.protocol === 'https:' || ['localhost', '127.0.0.1', '[::1]'].includes(location.hostname);
  if (!secure) message.textContent = 'Atenção: esta página não está em HTTPS; a senha e o token viajariam sem criptografia.';
  user.focus();
  return new Promise((resolve) => {
    form.addEventListener('submit', async (e) => {
      e.preventDefault();
      const name = user.value.trim();
      token = field.value.trim();
      if (!name && !token) {
        message.textContent = 'Informe o usuário e a senha, ou o token de acesso.';
        return;
      }
      message.textContent = 'Verificando...';
      try {
        if (name) {
          // The password leaves the field as soon as it is sent; the session's token lives in
          // this page's memory only (and the server's cookie), never in the browser's storage.
          const secret = password.value;
          password.value = '';
          const session = await login(name, secret);
          if (!session.token) {
            token = '';
            message.textContent = session.message;
            password.focus();
            return;
          }
          token = session.token;
        }
        if (await serviceOpen()) {
          field.value = '';
          form.hidden = true;
          resolve();
        } else {
          token = '';
          message.textContent = name ? 'O servidor recusou a sessão aberta; tente de novo.' : 'Token de acesso recusado pelo servidor.';
          (name ? password : field).focus();
        }
      } catch (err) {
        message.textContent = `Não foi possível falar com o servidor (${err.message}).`;
      }
    });
  });
}

// ---- Local database -----------------------------------------------------------------------------

function openStore() {
  return new Promise((resolve, reject) => {
    const request = indexedDB.open('pdi07310', 1);
    request.onupgradeneeded = () => request.result.createObjectStore('files');
    request.onsuccess = () => resolve(request.result);
    request.onerror = () => reject(request.error);
  });
}

function storeOp(db, mode, op) {
  return new Promise((resolve, reject) => {
    const t = db.transaction('files', mode);
    const request = op(t.objectStore('files'));
    t.oncomplete = () => resolve(request.result);
    t.onerror = () => reject(t.error);
  });
}

// The local database: the copy kept in the browser's storage when the server says it has not
// changed (304), else the new copy, which is kept for the next time.
async function localDatabase() {
  let db = null;
  let kept = null;
  try {
    db = await openStore();
    kept = await storeOp(db, 'readonly', (s) => s.get('local.db'));
  } catch (e) {
    db = null;  // no storage (private window): the copy is fetched every time
  }
  const headers = {};
  if (token) headers.Authorization = authorization();
  if (kept && kept.etag) headers['If-None-Match'] = kept.etag;
  let response;
  try {
    response = await fetch(`${SERVICE}/local.db`, { headers, cache: 'no-store', credentials: 'same-origin' });
  } catch (e) {
    if (kept) return { bytes: kept.bytes, note: 'Servidor fora do ar: usando os cadastros guardados.' };
    throw new Error('não foi possível baixar os cadastros (banco local)');
  }
  if (response.status === 304 && kept) return { bytes: kept.bytes, note: 'Cadastros sem alteração (guardados no navegador).' };
  if (!response.ok) {
    if (kept) return { bytes: kept.bytes, note: `Cadastros guardados (o servidor respondeu HTTP ${response.status}).` };
    throw new Error(`o servidor respondeu HTTP ${response.status} ao pedir os cadastros`);
  }
  const bytes = new Uint8Array(await response.arrayBuffer());
  const etag = response.headers.get('ETag');
  if (db && etag) {
    try {
      await storeOp(db, 'readwrite', (s) => s.put({ etag, bytes }, 'local.db'));
    } catch (e) { /* storage full: next time it is fetched again */ }
  }
  return { bytes, note: 'Cadastros atualizados.' };
}

// ---- The module ---------------------------------------------------------------------------------

const ui = {
  calls: new Map(),
  slowTimer: null,
  busyShown: false,
  callStarted(handle) {
    this.calls.set(handle, performance.now());
    clearTimeout(this.slowTimer);
    // After 2 s of waiting the busy panel offers Cancelar.
    this.slowTimer = setTimeout(() => this.slowCheck(), 2000);
  },
  callEnded(handle) {
    this.calls.delete(handle);
    if (!this.calls.size) {
      clearTimeout(this.slowTimer);
      $('busy-cancel').hidden = true;
      if (!this.busyShown) $('busy').hidden = true;
    }
  },
  slowCheck() {
    if (!this.calls.size) return;
    $('busy').hidden = false;
    if (!this.busyShown) $('busy-caption').textContent = 'Aguardando a resposta do servidor...';
    $('busy-cancel').hidden = false;
  },
  busy(on, caption) {
    this.busyShown = on;
    $('busy').hidden = !on && !this.calls.size;
    if (on) $('busy-caption').textContent = caption;
    document.body.classList.toggle('waiting', on);
  },
  changed() {
    if (frameAsked) return;
    frameAsked = true;
    requestAnimationFrame(draw);
  },
  modal(spec) {
    draw();
    return showModal(spec, {
      rows: (first, count) => JSON.parse(Module.UTF8ToString(Module._pdi_modal_rows(first, count))),
      find: (text, column, from) => readCall(Module._pdi_modal_find, text, column, from),
    });
  },
  progress(spec) {
    draw();
    return showProgress(spec);
  },
};

function cancelCalls() {
  queue.length = 0;
  Module.pdi.fetchCancelAll();
}

async function startModule(local) {
  Module = await createPdiModule({ pdi: createBridge(ui), print: () => {}, printErr: (t) => console.warn(t) });
  Module.FS.mkdir('/data');
  Module.FS.writeFile(LOCAL_PATH, local);
  const https = location.protocol === 'https:';
  const settings = {
    url: https ? `https://${location.hostname}` : location.hostname,
    port: Number(location.port) || (https ? 443 : 80),
    token, productMask: PRODUCT_MASK, localPath: LOCAL_PATH,
  };
  Module.ccall('pdi_start', null, ['string'], [JSON.stringify(settings)]);
  formView = new FormView($('screen'), {
    send: act,
    rows: (name, first, count) => JSON.parse(Module.UTF8ToString(readCall(Module._pdi_grid_rows, name, first, count))),
  });
}

// Calls a reading export (one that never waits) with a text and numbers, straight, not through
// ccall: while an action waits, ccall takes any call for the start of a new wait and answers a
// Promise instead of the export's result.
function readCall(entry, text, ...numbers) {
  const size = Module.lengthBytesUTF8(text) + 1;
  const at = Module._malloc(size);
  try {
    Module.stringToUTF8(text, at, size);
    return entry(at, ...numbers);
  } finally {
    Module._free(at);
  }
}

// Runs the actions in order, one at a time.
function act(action) {
  queue.push(action);
  pump();
}

async function pump() {
  if (acting) return;
  acting = true;
  try {
    while (queue.length) {
      const action = queue.shift();
      const started = performance.now();
      await Module.ccall('pdi_act', null, ['string'], [JSON.stringify(action)], { async: true });
      hideProgress();
      const result = JSON.parse(Module.UTF8ToString(Module._pdi_result()));
      if (action.do === 'export' && result.file) download(result);
      draw();
      afterPaint(() => timings.actions.push({ do: action.do, ms: performance.now() - started, at: performance.now() }));
    }
  } finally {
    acting = false;
  }
}

// ---- Drawing ------------------------------------------------------------------------------------

function draw() {
  frameAsked = false;
  if (!Module) return;
  snapshot = JSON.parse(Module.UTF8ToString(Module._pdi_snapshot()));
  context = JSON.parse(Module.UTF8ToString(Module._pdi_context()));
  const form = snapshot.form;
  $('closed').hidden = !!form;
  $('screen').hidden = !form;
  if (form) {
    document.title = `${form.caption} — PDI07310`;
    $('screen-title').textContent = form.caption;
    formView.update(form);
    focusActive(form);
  } else {
    $('screen-title').textContent = '';
  }
  drawMenus(form);
  followHistory();
  if (timings.lastKey) {
    const started = timings.lastKey;
    timings.lastKey = 0;
    afterPaint(() => timings.keyToPaint.push(performance.now() - started));
  }
}

// Runs then once the frame being prepared has been painted.
function afterPaint(then) {
  requestAnimationFrame(() => setTimeout(then, 0));
}

// The DOM focus follows the models' focus (the form's active control).
function focusActive(form) {
  if (document.querySelector('#modal-layer .dialog') || !$('signin').hidden) return;
  if (document.activeElement && document.activeElement.closest('#menubar, #history')) return;
  const grid = formView.grid(form.active);
  const target = grid ? grid.node : document.getElementById(`c-${form.active}`);
  const node = target && target.classList.contains('pages') ? target.strip : target;
  if (node && document.activeElement !== node) node.focus({ preventScroll: true });
}

// ---- Menus --------------------------------------------------------------------------------------

const HOST_MENUS = () => [
  { caption: '&Arquivo', items: [
    { caption: '&Exportar lista…', run: exportDialog, enabled: !!snapshot?.form },
    { caption: '&Atualizar cadastros', run: () => location.reload() },
  ] },
  { caption: '&Editar', items: [
    { caption: '&Colar lista', key: 'Ctrl+V', run: pasteFromClipboard, enabled: !!snapshot?.form },
  ] },
  { caption: '&Cadastros', items: [
    { caption: 'Produtos para Desoneração de Impostos', run: () => act({ do: 'open' }) },
  ] },
];
const WINDOW_MENU = () => ({ caption: '&Janela', items: [
  { caption: 'Próxima &lista', key: 'Alt+L', run: () => act({ do: 'list', step: 1 }), enabled: !!snapshot?.form },
  { caption: 'Lista &anterior', key: 'Alt+Shift+L', run: () => act({ do: 'list', step: -1 }), enabled: !!snapshot?.form },
  { caption: 'Próxima &página', key: 'Alt+PgDn', run: () => act({ do: 'page', step: 1 }), enabled: !!snapshot?.form },
  { caption: 'Página a&nterior', key: 'Alt+PgUp', run: () => act({ do: 'page', step: -1 }), enabled: !!snapshot?.form },
  { caption: '&Fechar a tela', key: 'Alt+W', run: () => act({ do: 'close' }), enabled: !!snapshot?.form },
  { caption: '&Histórico', check: !$('history').hidden, run: toggleHistory },
] });
const HELP_MENU = () => ({ caption: 'Aj&uda', items: [{ caption: '&Sobre…', run: about }] });

// The screen's menu entries show the keys of the toolbar buttons they mirror.
const SCREEN_KEYS = { mnuVerificar: 'F5', mnuProcurar: 'Ctrl+F', mnuIncluir: 'Insert', mnuExcluir: 'Ctrl+Del',
                      mnuConfirmar: 'Ctrl+Enter', mnuCancelar: 'Esc' };

let menusKey = '';
function drawMenus(form) {
  const screenMenus = (form ? form.menu : []).filter((m) => m.visible).map((m) => ({
    caption: m.caption,
    items: (m.items || []).filter((i) => i.visible).map((i) => ({
      caption: i.caption, enabled: i.enabled, key: SCREEN_KEYS[i.name], name: i.name,
      run: () => act({ do: 'menu', name: i.name }),
    })),
  }));
  const menus = [...HOST_MENUS(), ...screenMenus, WINDOW_MENU(), HELP_MENU()];
  const key = JSON.stringify(menus.map((m) => [m.caption, m.items.map((i) => [i.caption, i.enabled, i.check])]));
  if (key === menusKey) return;
  menusKey = key;
  const bar = $('menubar');
  bar.replaceChildren(...menus.map((m, index) => {
    const top = el('button', { type: 'button', role: 'menuitem', 'aria-haspopup': 'menu', 'aria-expanded': 'false',
                               tabindex: index === 0 ? '0' : '-1', text: m.caption.replace(/&(.)/g, '$1') });
    const list = el('div', { role: 'menu', className: 'menu', 'aria-label': m.caption.replace(/&(.)/g, '$1') });
    list.hidden = true;
    for (const item of m.items) {
      const entry = el('button', { type: 'button', role: item.check === undefined ? 'menuitem' : 'menuitemcheckbox',
                                   tabindex: '-1', className: 'menu-entry' });
      if (item.check !== undefined) entry.setAttribute('aria-checked', String(item.check));
      entry.append(el('span', { text: item.caption.replace(/&(.)/g, '$1') }), el('span', { className: 'menu-key', text: item.key || '' }));
      if (item.enabled === false) entry.setAttribute('aria-disabled', 'true');
      if (item.key) entry.setAttribute('aria-keyshortcuts', item.key.replace('Ctrl', 'Control').replace('Del', 'Delete').replace('Esc', 'Escape'));
      if (item.name) entry.dataset.name = item.name;
      entry.addEventListener('mousedown', (e) => e.preventDefault());
      entry.addEventListener('click', () => {
        closeMenus();
        if (item.enabled !== false) item.run();
      });
      list.append(entry);
    }
    const wrap = el('div', { className: 'menu-top' }, top, list);
    top.addEventListener('mousedown', (e) => e.preventDefault());
    top.addEventListener('click', () => (list.hidden ? openMenu(top, list) : closeMenus()));
    top.addEventListener('keydown', (e) => {
      if (e.key === 'ArrowDown' || e.key === 'Enter' || e.key === ' ') { e.preventDefault(); openMenu(top, list); }
    });
    list.addEventListener('keydown', (e) => menuKey(e, top, list));
    return wrap;
  }));
}

function openMenu(top, list) {
  closeMenus();
  list.hidden = false;
  top.setAttribute('aria-expanded', 'true');
  const first = list.querySelector('[role^=menuitem]:not([aria-disabled=true])') || list.firstChild;
  if (first) first.focus();
}

function closeMenus() {
  for (const list of document.querySelectorAll('#menubar .menu')) list.hidden = true;
  for (const top of document.querySelectorAll('#menubar > .menu-top > button')) top.setAttribute('aria-expanded', 'false');
}

function menuKey(e, top, list) {
  e.stopPropagation();
  const entries = [...list.children];
  const i = entries.indexOf(document.activeElement);
  if (e.key === 'Escape') { e.preventDefault(); closeMenus(); if (snapshot?.form) focusActive(snapshot.form); }
  else if (e.key === 'ArrowDown') { e.preventDefault(); entries[(i + 1) % entries.length].focus(); }
  else if (e.key === 'ArrowUp') { e.preventDefault(); entries[(i - 1 + entries.length) % entries.length].focus(); }
  else if (e.key === 'ArrowRight' || e.key === 'ArrowLeft') {
    e.preventDefault();
    const tops = [...document.querySelectorAll('#menubar > .menu-top')];
    const at = tops.indexOf(top.parentNode);
    const next = tops[(at + (e.key === 'ArrowRight' ? 1 : tops.length - 1)) % tops.length];
    openMenu(next.firstChild, next.lastChild);
  }
}

// ---- Keyboard -----------------------------------------------------------------------------------

// Keys the page keeps from the browser and passes to the screen.
const SCREEN_KEYS_PLAIN = new Set(['Tab', 'Enter', 'Escape', 'ArrowUp', 'ArrowDown', 'ArrowLeft', 'ArrowRight',
  'Insert', 'Delete', 'Home', 'End', 'PageUp', 'PageDown', 'Backspace', 'F5']);

function onKeyDown(e) {
  if (!Module || !snapshot?.form) return;
  if (e.target.closest && e.target.closest('#modal-layer, #signin, #menubar, #history')) return;
  if (e.key === 'F10' || (e.altKey && e.key === 'Alt')) return;
  if (e.key === 'Escape' && !$('busy-cancel').hidden) {
    e.preventDefault();
    cancelCalls();
    return;
  }
  const printable = e.key.length === 1;
  const shortcut = (e.altKey && /^[lLwW]$/.test(e.key)) || (e.ctrlKey && /^[fF]$/.test(e.key)) ||
                   ((e.altKey || e.ctrlKey) && (e.key === 'PageUp' || e.key === 'PageDown'));
  if (!SCREEN_KEYS_PLAIN.has(e.key) && !(printable && !e.ctrlKey && !e.altKey && !e.metaKey) && !shortcut) return;
  e.preventDefault();
  if (e.altKey && (e.key === 'w' || e.key === 'W')) return act({ do: 'close' });
  const grid = formView.grid(snapshot.form.active);
  timings.lastKey = performance.now();
  act({ do: 'key', key: e.key, text: printable ? e.key : '', ctrl: e.ctrlKey, shift: e.shiftKey, alt: e.altKey,
        page: grid ? grid.pageRows() : 10 });
}

// ---- Around the screen: paste, export, history, about ------------------------------------------

function pasteText(text) {
  act({ do: 'paste', text });
}

async function pasteFromClipboard() {
  try {
    pasteText(await navigator.clipboard.readText());
  } catch (e) {
    status('O navegador não liberou a área de transferência: use Ctrl+V na lista de destino.');
  }
}

function download(result) {
  const bytes = Module.FS.readFile(result.file);
  Module.FS.unlink(result.file);
  const type = result.name.endsWith('.xlsx')
    ? 'application/vnd.openxmlformats-officedocument.spreadsheetml.sheet' : 'text/csv;charset=utf-8';
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const link = el('a', { href: url, download: result.name });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
  status(`Lista exportada: ${result.rows} linha(s) em ${result.name}.`);
}

function exportDialog() {
  const detail = context.detail;
  const layer = $('modal-layer');
  const before = document.activeElement;
  const box = el('form', { className: 'dialog dialog-export', role: 'dialog', 'aria-modal': 'true', 'aria-labelledby': 'export-title' });
  const option = (value, label, checked) => el('label', {}, el('input', Object.assign({ type: 'radio', name: 'list', value }, checked ? { checked: '' } : {})), label);
  const format = (value, label, checked) => el('label', {}, el('input', Object.assign({ type: 'radio', name: 'format', value }, checked ? { checked: '' } : {})), label);
  box.append(el('h2', { id: 'export-title', text: 'Exportar lista' }),
    el('fieldset', {}, el('legend', { text: 'Lista' }), option('main', 'A lista de produtos', !detail),
      detail ? option('detail', `A lista ${detail} do produto atual`, true) : null,
      detail ? option('detailAll', `A lista ${detail} de todos os produtos`, false) : null),
    el('fieldset', {}, el('legend', { text: 'Formato' }), format('xlsx', 'Planilha (XLSX)', true), format('csv', 'Texto separado por ponto e vírgula (CSV)', false)),
    el('div', { className: 'dialog-buttons' }, el('button', { type: 'submit', className: 'default', text: 'Exportar' }),
      el('button', { type: 'button', value: 'cancel', text: 'Cancelar' })));
  const close = () => { box.remove(); layer.hidden = !layer.querySelector('.dialog'); if (before) before.focus(); };
  box.addEventListener('submit', (e) => {
    e.preventDefault();
    const data = new FormData(box);
    close();
    act({ do: 'export', list: data.get('list'), format: data.get('format') });
  });
  box.querySelector('button[value=cancel]').addEventListener('click', close);
  box.addEventListener('keydown', (e) => { e.stopPropagation(); if (e.key === 'Escape') close(); });
  layer.append(box);
  layer.hidden = false;
  box.querySelector('input:checked').focus();
}

let historyFor = null;
let historyTimer = null;
function toggleHistory() {
  $('history').hidden = !$('history').hidden;
  historyFor = null;
  menusKey = '';
  draw();
}

// The history panel follows the current product, 300 ms after it changed; an answer for a product
// no longer current is dropped.
function followHistory() {
  if ($('history').hidden) return;
  const product = context.product || '';
  if (product === historyFor) return;
  historyFor = product;
  clearTimeout(historyTimer);
  historyTimer = setTimeout(() => loadHistory(product), 300);
}

async function loadHistory(product) {
  const body = $('history-rows');
  const caption = $('history-caption');
  if (!product) {
    caption.textContent = 'Histórico';
    body.replaceChildren();
    return;
  }
  caption.textContent = `Histórico do produto ${product}`;
  try {
    const headers = { 'Content-Type': 'application/json' };
    if (token) headers.Authorization = authorization();
    const response = await fetch(SERVICE, { method: 'POST', headers, credentials: 'same-origin', cache: 'no-store',
      body: JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'getHistorico', params: [product] }) });
    const answer = await response.json();
    if (historyFor !== product) return;
    const result = answer.result;
    if (!result || !result.ok) throw new Error(result ? result.error : answer.error?.message || 'resposta inválida');
    const names = result.data.fields.map((f) => f.name);
    body.replaceChildren(...result.data.rows.map((row) => el('tr', {}, ...row.map((v, i) => el('td', { text: v, title: names[i] })))));
    if (!result.data.rows.length) body.append(el('tr', {}, el('td', { colspan: '8', text: 'Nenhuma alteração registrada.' })));
  } catch (e) {
    if (historyFor === product) body.replaceChildren(el('tr', {}, el('td', { colspan: '8', text: `Histórico indisponível: ${e.message}` })));
  }
}

function about() {
  showModal({ kind: 'message', role: 'dialog', title: 'Sobre',
    text: `PDI07310 — Produtos para Desoneração de Impostos, versão ${context.version}. Servidor: ${location.host}. ` +
          `${$('local-note').textContent}`,
    buttons: [{ text: 'OK', result: 1, default: true }], escape: 1 }, {});
}

// ---- Start --------------------------------------------------------------------------------------

async function start() {
  document.addEventListener('keydown', onKeyDown);
  document.addEventListener('paste', (e) => {
    if (!snapshot?.form || e.target.closest?.('#modal-layer, #signin')) return;
    e.preventDefault();
    pasteText(e.clipboardData.getData('text/plain'));
  });
  document.addEventListener('mousedown', (e) => { if (!e.target.closest('#menubar')) closeMenus(); });
  $('busy-cancel').addEventListener('click', cancelCalls);
  $('history-close').addEventListener('click', toggleHistory);
  $('open-screen').addEventListener('click', () => act({ do: 'open' }));
  window.addEventListener('resize', () => ui.changed());
  try {
    status('Conectando ao servidor...');
    if (!(await serviceOpen())) {
      status('O servidor pede identificação.');
      await signIn();
    }
    status('Carregando os cadastros...');
    const local = await localDatabase();
    $('local-note').textContent = local.note;
    status('Carregando a tela...');
    await startModule(local.bytes);
    status(`Conectado a ${location.host}`);
    act({ do: 'open' });
  } catch (e) {
    status(`Não foi possível abrir a tela: ${e.message}`);
    $('closed').hidden = false;
  }
}

start();
