// Modal dialogs drawn for the browser host: a message (alertdialog holding the message text, or a
// dialog for a question), the pick list and the search over a record set's rows, the summary of a
// paste and the progress of a long run. The C++ side describes each dialog and waits for its
// answer; here it is only drawn, and the clerk's answer passed back.
//
// Keyboard: Tab stays inside the dialog, Enter presses the default button, Esc the one that
// closes without a choice. The focus goes back where it was when the dialog closes.

const ROW_HEIGHT = 22;

export function el(tag, attrs = {}, ...children) {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (k === 'text') node.textContent = v;
    else if (k === 'className') node.className = v;
    // Styles go through the CSSOM: the page's policy forbids style attributes.
    else if (k === 'style') node.style.cssText = v;
    else node.setAttribute(k, v);
  }
  for (const c of children) if (c) node.append(c);
  return node;
}

let serial = 0;

// Shows the dialog described by spec over the page; resolves with its result.
// api: { rows(first, count) -> [[text]], find(text, column, from) -> row } for row dialogs.
export function showModal(spec, api) {
  const layer = document.getElementById('modal-layer');
  const before = document.activeElement;
  const id = `dlg${++serial}`;
  const box = el('div', {
    className: `dialog dialog-${spec.kind}`, role: spec.role || 'dialog', 'aria-modal': 'true',
    'aria-labelledby': `${id}-title`, 'aria-describedby': `${id}-text`, id,
  });
  box.append(el('h2', { id: `${id}-title`, text: spec.title || '' }));
  const text = el('p', { id: `${id}-text`, className: 'dialog-text', text: spec.text || '' });
  box.append(text);
  layer.append(box);
  layer.hidden = false;

  return new Promise((resolve) => {
    let escapeResult = spec.escape ?? 0;
    let defaultAction = null;
    const close = (result) => {
      box.remove();
      if (!layer.querySelector('.dialog')) layer.hidden = true;
      if (before && before.focus) before.focus();
      resolve(result);
    };
    const buttons = el('div', { className: 'dialog-buttons' });
    const addButton = (label, onPress, isDefault) => {
      const b = el('button', { type: 'button', text: label });
      if (isDefault) b.classList.add('default');
      b.addEventListener('click', onPress);
      buttons.append(b);
      if (isDefault) defaultAction = onPress;
      return b;
    };

    let focusFirst = null;
    if (spec.kind === 'message') {
      if (spec.details) {
        const details = el('details', {}, el('summary', { text: 'Detalhes...' }), el('pre', { text: spec.details }));
        box.append(details);
      }
      for (const b of spec.buttons || []) {
        const button = addButton(b.text, () => close(b.result), b.default);
        if (b.default || !focusFirst) focusFirst = button;
      }
    } else if (spec.kind === 'pick' || spec.kind === 'search') {
      const list = rowList(box, spec, api, id, () => defaultAction && defaultAction());
      const find = el('input', { type: 'text', className: 'dialog-find', 'aria-label': 'Localizar',
                                 placeholder: spec.kind === 'pick' ? 'Digite para localizar' : 'Valor a procurar' });
      box.insertBefore(find, list.node);
      const status = el('p', { className: 'dialog-status', role: 'status' });
      box.insertBefore(status, list.node.nextSibling);
      status.textContent = spec.rows ? `${spec.rows} registro(s)` : (spec.kind === 'pick' ? spec.text : 'Não há registros.');
      if (spec.kind === 'search') text.textContent = '';
      find.addEventListener('input', () => {
        if (!find.value.trim()) return;
        const row = api.find(find.value, -1, spec.kind === 'search' ? list.current() + 1 : 1);
        if (row) { list.select(row); status.textContent = `${spec.rows} registro(s)`; }
        else status.textContent = `Nenhum registro começa com "${find.value}"`;
      });
      find.addEventListener('keydown', (e) => list.key(e));
      const ok = addButton(spec.kind === 'pick' ? 'OK' : 'Localizar', () => {
        if (list.current()) close(list.current());
      }, true);
      if (!spec.rows) { ok.disabled = true; find.disabled = true; }
      addButton(spec.kind === 'pick' ? 'Cancelar' : 'Fechar', () => close(0), false);
      escapeResult = 0;
      focusFirst = spec.rows ? find : buttons.lastChild;
      list.select(spec.kind === 'search' ? (spec.current || 1) : 1);
    } else if (spec.kind === 'summary') {
      const table = el('table', { className: 'summary' });
      table.append(el('thead', {}, el('tr', {}, el('th', { text: 'Nº' }), el('th', { text: 'Código' }), el('th', { text: 'Resultado' }))));
      const body = el('tbody');
      for (const [n, code, outcome] of spec.lines || []) {
        body.append(el('tr', {}, el('td', { text: String(n) }), el('td', { text: code }), el('td', { text: outcome })));
      }
      table.append(body);
      box.append(el('div', { className: 'summary-scroll' }, table));
      focusFirst = addButton('OK', () => close(1), true);
      escapeResult = 1;
    }
    box.append(buttons);

    box.addEventListener('keydown', (e) => {
      e.stopPropagation();
      if (e.key === 'Escape') { e.preventDefault(); close(escapeResult); return; }
      if (e.key === 'Enter' && defaultAction && !(e.target instanceof HTMLButtonElement)) {
        e.preventDefault();
        defaultAction();
        return;
      }
      if (e.key === 'Tab') {
        const focusable = [...box.querySelectorAll('button:not([disabled]), input:not([disabled]), summary, [tabindex="0"]')];
        if (!focusable.length) return;
        const i = focusable.indexOf(document.activeElement);
        const next = e.shiftKey ? (i <= 0 ? focusable.length - 1 : i - 1) : (i + 1) % focusable.length;
        e.preventDefault();
        focusable[next].focus();
      }
    });
    (focusFirst || box).focus();
  });
}

// A scrolled list of a record set's rows drawn a screenful at a time (only visible rows in the
// DOM), with a current row moved by the arrows, PgUp/PgDn, Home/End, a click; a double click or
// Enter chooses it.
function rowList(box, spec, api, id, choose) {
  const columns = spec.columns || [];
  const widths = columns.map((c) => Math.min(480, Math.max(60, (c.width || 10) * 8 + 12)));
  const node = el('div', { className: 'rowlist', role: 'grid', 'aria-rowcount': String((spec.rows || 0) + 1),
                           'aria-colcount': String(columns.length), tabindex: '0', 'aria-label': spec.title });
  const head = el('div', { className: 'rowlist-head', role: 'row', 'aria-rowindex': '1' });
  columns.forEach((c, i) => head.append(el('div', { role: 'columnheader', style: `width:${widths[i]}px`, text: c.title })));
  const viewport = el('div', { className: 'rowlist-viewport' });
  const spacer = el('div', { className: 'rowlist-spacer' });
  spacer.style.height = `${(spec.rows || 0) * ROW_HEIGHT}px`;
  viewport.append(spacer);
  node.append(head, viewport);
  box.append(node);
  let current = 0;

  function draw() {
    const first = Math.floor(viewport.scrollTop / ROW_HEIGHT) + 1;
    const count = Math.ceil(viewport.clientHeight / ROW_HEIGHT) + 1;
    const rows = spec.rows ? api.rows(first, count) : [];
    spacer.replaceChildren();
    rows.forEach((cells, i) => {
      const n = first + i;
      const row = el('div', { className: 'rowlist-row', role: 'row', 'aria-rowindex': String(n + 1),
                              'aria-selected': String(n === current), id: `${id}-r${n}` });
      row.style.top = `${(n - 1) * ROW_HEIGHT}px`;
      cells.forEach((t, c) => row.append(el('div', { role: 'gridcell', style: `width:${widths[c]}px`, text: t })));
      row.addEventListener('mousedown', () => select(n));
      row.addEventListener('dblclick', () => { select(n); choose(); });
      spacer.append(row);
    });
    if (current) node.setAttribute('aria-activedescendant', `${id}-r${current}`);
  }
  function select(n) {
    if (!spec.rows) return;
    current = Math.max(1, Math.min(spec.rows, n));
    const top = (current - 1) * ROW_HEIGHT;
    if (top < viewport.scrollTop) viewport.scrollTop = top;
    else if (top + ROW_HEIGHT > viewport.scrollTop + viewport.clientHeight) viewport.scrollTop = top + ROW_HEIGHT - viewport.clientHeight;
    draw();
  }
  function key(e) {
    const page = Math.max(1, Math.floor(viewport.clientHeight / ROW_HEIGHT) - 1);
    const moves = { ArrowDown: 1, ArrowUp: -1, PageDown: page, PageUp: -page };
    if (e.key in moves) { e.preventDefault(); select(current + moves[e.key]); }
    else if (e.key === 'Home' && e.ctrlKey) { e.preventDefault(); select(1); }
    else if (e.key === 'End' && e.ctrlKey) { e.preventDefault(); select(spec.rows); }
  }
  viewport.addEventListener('scroll', draw);
  node.addEventListener('keydown', key);
  requestAnimationFrame(draw);
  return { node, select, key, current: () => current };
}

// The progress of a long run with "Parar": shown on the first call, updated on the next ones,
// removed by hideProgress. Resolves each call after the page has drawn, with false once the clerk
// asked to stop.
let progressBox = null;
let stopAsked = false;
export function showProgress(spec) {
  if (!progressBox) {
    stopAsked = false;
    const layer = document.getElementById('modal-layer');
    progressBox = el('div', { className: 'dialog dialog-progress', role: 'dialog', 'aria-modal': 'true',
                              'aria-labelledby': 'progress-title', 'aria-describedby': 'progress-text' });
    progressBox.append(el('h2', { id: 'progress-title', text: spec.title }),
                       el('p', { id: 'progress-text', className: 'dialog-text', role: 'status' }),
                       el('progress', { max: '1', value: '0' }));
    const stop = el('button', { type: 'button', text: 'Parar' });
    stop.addEventListener('click', () => { stopAsked = true; stop.disabled = true; });
    progressBox.addEventListener('keydown', (e) => {
      e.stopPropagation();
      if (e.key === 'Escape') stop.click();
    });
    progressBox.append(el('div', { className: 'dialog-buttons' }, stop));
    layer.append(progressBox);
    layer.hidden = false;
    stop.focus();
  }
  progressBox.querySelector('#progress-text').textContent = spec.text;
  const bar = progressBox.querySelector('progress');
  bar.max = spec.total;
  bar.value = spec.done;
  return new Promise((resolve) => requestAnimationFrame(() => setTimeout(() => resolve(stopAsked ? 0 : 1), 0)));
}

export function hideProgress() {
  if (!progressBox) return;
  progressBox.remove();
  progressBox = null;
  const layer = document.getElementById('modal-layer');
  if (!layer.querySelector('.dialog')) layer.hidden = true;
}
