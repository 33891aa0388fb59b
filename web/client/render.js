// Draws a form from its models' state (UiSnapshot) in the DOM, as the desktop draws it with Qt
// widgets: the tree of controls placed by their alignment (top, bottom, left, right, client, or at
// their bounds), the tab strips, the grids, the toolbar's buttons with their icons, labels and
// data-bound labels, and the form's menu. Every click goes to the models through `send`; nothing
// here decides anything of the screen.
//
// The DOM of a form is built once and updated in place on each snapshot; the accessible names
// come from the captions and hints, as on the desktop.

import { el } from './dialogs.js';
import { GridView } from './grid.js';
import { iconFor, defaultHint } from './icons.js';

const AL_NONE = 0, AL_TOP = 1, AL_BOTTOM = 2, AL_LEFT = 3, AL_RIGHT = 4, AL_CLIENT = 5;

const noAmp = (s) => (s || '').replace(/&(.)/g, '$1');

export class FormView {
  constructor(root, api) {
    this.root = root;
    this.api = api;  // { send(action), rows(name, first, count) }
    this.nodes = new Map();
    this.grids = new Map();
    this.signature = '';
  }

  // Structure of a snapshot: the controls' names and kinds; the DOM is rebuilt when it changes.
  static signature(form) {
    const walk = (c) => `${c.name}:${c.kind}(${(c.controls || []).map(walk).join(',')})`;
    return `${form.name}[${form.controls.map(walk).join(',')}]`;
  }

  update(form) {
    const signature = FormView.signature(form);
    if (signature !== this.signature) this.build(form, signature);
    this.form = form;
    for (const c of form.controls) this.apply(c, form.active);
    this.layout();
  }

  build(form, signature) {
    this.signature = signature;
    this.nodes.clear();
    this.grids.clear();
    this.client = el('div', { className: 'form-client', id: `f-${form.name}` });
    const make = (c) => {
      let node;
      switch (c.kind) {
        case 'grid': {
          const grid = new GridView(c.name, this.gridLabel(c, form), this.api);
          this.grids.set(c.name, grid);
          node = grid.node;
          break;
        }
        case 'pages':
          node = el('div', { className: 'pages' });
          node.strip = el('div', { className: 'tabs', role: 'tablist', 'aria-label': 'Páginas', tabindex: '-1' });
          node.strip.addEventListener('mousedown', (e) => {
            const tab = e.target.closest('[role=tab]');
            e.preventDefault();
            if (tab) this.api.send({ do: 'tab', pages: c.name, index: Number(tab.dataset.index) });
          });
          node.body = el('div', { className: 'pages-body' });
          node.append(node.strip, node.body);
          break;
        case 'sheet':
          node = el('div', { className: 'sheet', role: 'tabpanel', id: `p-${c.name}` });
          break;
        case 'button':
          node = el('button', { type: 'button', className: 'tool', tabindex: '-1' });
          // Toolbar buttons never take the focus: it stays where the screen put it.
          node.addEventListener('mousedown', (e) => e.preventDefault());
          node.addEventListener('click', () => this.api.send({ do: 'button', name: c.name }));
          break;
        case 'text':
        case 'label':
          node = el('div', { className: c.kind === 'text' ? 'dbtext' : 'label' });
          break;
        case 'splitter':
          node = el('div', { className: 'splitter', role: 'separator' });
          break;
        default:
          node = el('div', { className: `box ${c.kind}` });
      }
      node.id = node.id || `c-${c.name}`;
      this.nodes.set(c.name, node);
      const container = c.kind === 'pages' ? node.body : node;
      for (const child of c.controls || []) container.append(make(child));
      if (c.kind === 'box' || c.kind === 'panel' || c.kind === 'scroll') {
        const kids = c.controls || [];
        if (kids.length && kids.filter((k) => k.kind === 'button').length >= kids.length / 2) {
          node.setAttribute('role', 'toolbar');
          node.setAttribute('aria-label', noAmp(c.caption) || 'Barra de ferramentas');
        }
      }
      return node;
    };
    for (const c of form.controls) this.client.append(make(c));
    this.root.replaceChildren(this.client);
  }

  gridLabel(c, form) {
    // A grid is named by its caption or hint, else by the tab sheet it lies on.
    if (c.caption || c.hint) return noAmp(c.caption || c.hint);
    const sheetOf = (list, sheet) => {
      for (const x of list) {
        if (x.name === c.name) return sheet;
        const found = sheetOf(x.controls || [], x.kind === 'sheet' ? x : sheet);
        if (found !== undefined) return found;
      }
      return undefined;
    };
    const sheet = sheetOf(form.controls, null);
    return sheet ? `Lista ${noAmp(sheet.caption)}` : 'Lista principal';
  }

  apply(c, active) {
    const node = this.nodes.get(c.name);
    if (!node) return;
    node.hidden = !c.visible;
    node.classList.toggle('disabled', !c.enabled);
    if (c.color === 'clInfoBk') node.classList.add('info');
    switch (c.kind) {
      case 'grid':
        this.grids.get(c.name).update(c, active === c.name);
        break;
      case 'pages': {
        const sheets = (c.controls || []).filter((s) => s.kind === 'sheet');
        const tabs = sheets.map((s, i) => {
          const selected = i === c.active;
          const tab = el('div', { role: 'tab', id: `t-${s.name}`, 'aria-selected': String(selected),
                                  'aria-controls': `p-${s.name}`, 'aria-disabled': String(!s.enabled),
                                  text: noAmp(s.caption) });
          tab.dataset.index = String(i);
          tab.hidden = !s.tabVisible;
          if (selected) tab.classList.add('selected');
          return tab;
        });
        node.strip.replaceChildren(...tabs);
        node.strip.classList.toggle('focused', active === c.name);
        sheets.forEach((s, i) => {
          const sheet = this.nodes.get(s.name);
          if (sheet) sheet.setAttribute('aria-labelledby', `t-${s.name}`);
          if (sheet) sheet.dataset.shown = String(i === c.active);
        });
        break;
      }
      case 'button': {
        const hint = c.hint || defaultHint(c.glyph || c.name) || noAmp(c.caption);
        node.title = hint;
        node.setAttribute('aria-label', hint);
        node.disabled = !c.enabled;
        const icon = iconFor(c.glyph || c.name);
        const key = `${c.glyph}|${c.caption}`;
        if (node.dataset.key !== key) {
          node.dataset.key = key;
          node.replaceChildren(icon || document.createTextNode(noAmp(c.caption)));
        }
        break;
      }
      case 'text':
        node.textContent = c.text;
        break;
      case 'label':
        node.textContent = noAmp(c.caption);
        break;
      default:
        if (c.hint) node.title = c.hint;
    }
    for (const child of c.controls || []) this.apply(child, active);
  }

  // Places every control by its alignment, as the platform's containers (and the desktop's) do:
  // top, bottom, left, right in the order of their coordinates, the client control in what is
  // left; an unaligned control at its bounds, one without a width up to the next unaligned control
  // on its right, and one past the right or bottom edge against that edge.
  layout() {
    const place = (list, container, width, height) => {
      let top = 0, bottom = height, left = 0, right = width;
      const shown = list.filter((c) => c.visible && c.kind !== 'sheet');
      const put = (c, x, y, w, h) => {
        const node = this.nodes.get(c.name);
        Object.assign(node.style, { left: `${x}px`, top: `${y}px`, width: `${w}px`, height: `${h}px` });
        this.placeChildren(c, node, w, h, place);
      };
      const of = (align) => shown.filter((c) => c.align === align);
      for (const c of of(AL_TOP).sort((a, b) => a.top - b.top)) {
        const h = Math.min(c.height, Math.max(0, bottom - top));
        put(c, left, top, right - left, h);
        top += h;
      }
      for (const c of of(AL_BOTTOM).sort((a, b) => b.top - a.top)) {
        const h = Math.min(c.height, Math.max(0, bottom - top));
        bottom -= h;
        put(c, left, bottom, right - left, h);
      }
      for (const c of of(AL_LEFT).sort((a, b) => a.left - b.left)) {
        const w = Math.min(c.width, Math.max(0, right - left));
        put(c, left, top, w, bottom - top);
        left += w;
      }
      for (const c of of(AL_RIGHT).sort((a, b) => b.left - a.left)) {
        const w = Math.min(c.width, Math.max(0, right - left));
        right -= w;
        put(c, right, top, w, bottom - top);
      }
      for (const c of of(AL_CLIENT)) put(c, left, top, Math.max(0, right - left), Math.max(0, bottom - top));
      const loose = shown.filter((c) => c.align === AL_NONE || c.align > AL_CLIENT);
      for (const c of loose) {
        const h = c.height > 0 ? c.height : 20;
        let x = c.left;
        let y = c.top;
        let w = c.width;
        if (w <= 0) {
          let edge = width;
          for (const o of loose) {
            const oh = o.height > 0 ? o.height : h;
            if (o !== c && o.left > x && o.top < y + h && o.top + oh > y) edge = Math.min(edge, o.left - 4);
          }
          w = Math.max(0, edge - x);
        }
        if (x + w > width) x = Math.max(0, width - w);
        if (y + h > height) y = Math.max(0, height - h);
        put(c, x, y, w, h);
      }
    };
    const width = this.root.clientWidth;
    const height = this.root.clientHeight;
    Object.assign(this.client.style, { width: `${width}px`, height: `${height}px` });
    place(this.form.controls, this.client, width, height);
  }

  placeChildren(c, node, w, h, place) {
    if (c.kind === 'pages') {
      const stripHeight = node.strip.offsetHeight || 26;
      for (const s of (c.controls || []).filter((x) => x.kind === 'sheet')) {
        const sheet = this.nodes.get(s.name);
        const shown = sheet.dataset.shown === 'true';
        sheet.hidden = !shown;
        Object.assign(sheet.style, { left: '0px', top: '0px', width: `${w - 2}px`, height: `${h - stripHeight - 2}px` });
        if (shown) place(s.controls || [], sheet, w - 2, h - stripHeight - 2);
      }
    } else if (c.controls && c.kind !== 'grid') {
      const inset = c.bevel ? 2 : 0;
      place(c.controls, node, w - inset, h - inset);
    }
  }

  grid(name) {
    return this.grids.get(name);
  }
}
