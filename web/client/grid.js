// A data grid drawn from its model's state (UiSnapshot: columns, row count, current row and
// column, editing state): column titles, and only the rows in view in the DOM, whatever the row
// count (a million rows cost a screenful). The rows' texts come from the model as they scroll into
// view. A click on a cell, the "…" button and the keys go to the model (through `send`); the grid
// shows what the model then says, never a state of its own.
//
// ARIA: role grid with aria-rowcount and aria-colcount, rows and cells with their indexes, the
// current cell as aria-activedescendant, the column titles as columnheaders.

import { el } from './dialogs.js';

const ROW_HEIGHT = 22;
// Past this height a browser cannot size an element: taller lists scroll in proportion.
const MAX_SCROLL_HEIGHT = 4000000;
const CHAR_WIDTH = 7.5;

export class GridView {
  constructor(name, label, api) {
    this.name = name;
    this.api = api;  // { rows(name, first, count), send(action), focused(name) }
    this.state = null;
    this.node = el('div', { className: 'grid', role: 'grid', tabindex: '-1', 'aria-label': label, id: `g-${name}` });
    this.head = el('div', { className: 'grid-head', role: 'row', 'aria-rowindex': '1' });
    this.viewport = el('div', { className: 'grid-viewport' });
    this.spacer = el('div', { className: 'grid-spacer' });
    this.body = el('div', { className: 'grid-body', role: 'rowgroup' });
    this.viewport.append(this.spacer, this.body);
    this.node.append(this.head, this.viewport);
    this.ellipsis = el('button', { type: 'button', className: 'grid-ellipsis', tabindex: '-1', 'aria-label': 'Pesquisar (Ctrl+Enter)', text: '…' });
    this.ellipsis.addEventListener('mousedown', (e) => e.preventDefault());
    this.ellipsis.addEventListener('click', (e) => { e.stopPropagation(); this.api.send({ do: 'ellipsis', grid: this.name }); });
    this.viewport.addEventListener('scroll', () => this.drawRows());
    this.body.addEventListener('mousedown', (e) => {
      const cell = e.target.closest('[data-col]');
      const row = e.target.closest('[data-row]');
      e.preventDefault();
      if (!cell || !row) return this.api.send({ do: 'focus', name: this.name });
      this.api.send({ do: 'cell', grid: this.name, row: Number(row.dataset.row), col: Number(cell.dataset.col) });
    });
    this.node.addEventListener('mousedown', (e) => {
      if (e.target === this.node || e.target === this.viewport || e.target === this.spacer) {
        e.preventDefault();
        this.api.send({ do: 'focus', name: this.name });
      }
    });
    this.lastRow = 0;
    this.rowsSeen = -1;
    this.drawnKey = '';
  }

  // Rows a page of the grid shows (PgUp/PgDn move by it).
  pageRows() {
    return Math.max(1, Math.floor(this.viewport.clientHeight / ROW_HEIGHT) - 1);
  }

  widths() {
    const cols = this.state.columns;
    const widths = cols.map((c) => (c.width > 0 ? c.width : Math.round(Math.min(c.chars, 60) * CHAR_WIDTH + 12)));
    // The last column takes the rest of the width, so the codes stay in sight.
    const total = this.viewport.clientWidth || this.node.clientWidth;
    const used = widths.slice(0, -1).reduce((a, b) => a + b, 0);
    if (widths.length && total > used + 40) widths[widths.length - 1] = Math.max(widths[widths.length - 1], total - used - 2);
    return widths;
  }

  update(state, focused) {
    const previous = this.state;
    this.state = state;
    this.focused = focused;
    this.node.setAttribute('aria-rowcount', String(state.rows + 1));
    this.node.setAttribute('aria-colcount', String(state.columns.length));
    this.node.setAttribute('aria-readonly', String(state.readOnly));
    this.node.classList.toggle('focused', focused);
    this.node.classList.toggle('editing', state.state === 'insert' || state.state === 'edit');
    const widths = this.widths();
    const headKey = JSON.stringify([state.columns.map((c) => c.title), widths, state.titles]);
    if (headKey !== this.headKey) {
      this.headKey = headKey;
      this.head.replaceChildren(...state.columns.map((c, i) => {
        const h = el('div', { role: 'columnheader', 'aria-colindex': String(i + 1), text: c.title });
        h.style.width = `${widths[i]}px`;
        return h;
      }));
      this.head.hidden = !state.titles;
    }
    const total = state.rows * ROW_HEIGHT;
    this.scale = total > MAX_SCROLL_HEIGHT ? (total - this.viewport.clientHeight) / (MAX_SCROLL_HEIGHT - this.viewport.clientHeight) : 1;
    this.spacer.style.height = `${Math.min(total, MAX_SCROLL_HEIGHT)}px`;
    // The current row moved: it is brought into view, as the desktop's grid does.
    if (!previous || previous.row !== state.row || previous.rows !== state.rows) this.scrollToRow(state.row);
    this.drawRows(true);
  }

  scrollToRow(row) {
    if (row < 1) return;
    const height = this.viewport.clientHeight;
    const first = this.firstRow();
    const visible = Math.max(1, Math.floor(height / ROW_HEIGHT));
    let target = first;
    if (row < first) target = row;
    else if (row > first + visible - 1) target = row - visible + 1;
    if (target !== first) this.viewport.scrollTop = ((target - 1) * ROW_HEIGHT) / this.scale;
  }

  firstRow() {
    return Math.floor((this.viewport.scrollTop * this.scale) / ROW_HEIGHT) + 1;
  }

  drawRows(force) {
    const s = this.state;
    if (!s) return;
    const first = this.firstRow();
    const count = Math.ceil(this.viewport.clientHeight / ROW_HEIGHT) + 1;
    const key = `${first}:${count}`;
    if (!force && key === this.drawnKey) return;
    this.drawnKey = key;
    const rows = s.rows ? this.api.rows(this.name, first, count) : [];
    const widths = this.widths();
    // Rows sit at their place within the viewport: the body follows the scroll position.
    const offset = this.viewport.scrollTop - ((this.viewport.scrollTop * this.scale) % ROW_HEIGHT);
    this.body.style.transform = `translateY(${offset}px)`;
    const nodes = rows.map((cells, i) => {
      const n = first + i;
      const current = n === s.row;
      const row = el('div', { className: current ? 'grid-row current' : 'grid-row', role: 'row',
                              'aria-rowindex': String(n + 1), 'aria-selected': String(current) });
      row.dataset.row = String(n);
      row.style.top = `${i * ROW_HEIGHT}px`;
      cells.forEach((text, c) => {
        const cell = el('div', { role: 'gridcell', 'aria-colindex': String(c + 1), id: `g-${this.name}-${n}-${c}`, text });
        cell.dataset.col = String(c);
        cell.style.width = `${widths[c]}px`;
        if (current && c === s.col) cell.classList.add('cell-current');
        row.append(cell);
      });
      return row;
    });
    this.body.replaceChildren(...nodes);
    if (s.row >= first && s.row < first + rows.length) {
      this.node.setAttribute('aria-activedescendant', `g-${this.name}-${s.row}-${s.col}`);
      const col = s.columns[s.col];
      if (col && col.ellipsis && this.focused && !s.readOnly) {
        const cell = this.body.querySelector('.cell-current');
        if (cell) cell.append(this.ellipsis);
      }
    } else {
      this.node.removeAttribute('aria-activedescendant');
    }
  }
}
