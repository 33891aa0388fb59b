// The toolbar's icons, the same drawings as the desktop's (16 by 16 units, scaled by the browser
// at any pixel ratio), chosen by the button's glyph or name as the desktop chooses them; a
// disabled button's icon is greyed by the style sheet.

const NS = 'http://www.w3.org/2000/svg';

function kindOf(name) {
  const n = (name || '').toLowerCase();
  if (n.includes('inclu') || n.includes('insert')) return 'insert';
  if (n.includes('exclu') || n.includes('delet')) return 'delete';
  if (n.includes('procur') || n.includes('pesq')) return 'search';
  if (n.includes('verif')) return 'verify';
  if (n.includes('confirm')) return 'confirm';
  if (n.includes('cancel')) return 'cancel';
  if (n.includes('imprim') || n.includes('list')) return 'print';
  if (n.includes('auxil')) return 'spare';
  if (n.includes('abrir') || n.includes('open')) return 'open';
  return null;
}

const HINTS = {
  insert: 'Incluir', delete: 'Excluir', search: 'Procurar', verify: 'Verificar (recarregar os dados)',
  confirm: 'Confirmar', cancel: 'Cancelar', print: 'Imprimir', spare: 'Auxiliar', open: 'Abrir',
};

// [element, attributes] of each drawing.
const DRAWINGS = {
  insert: [['path', { d: 'M8 2.5V13.5M2.5 8H13.5', stroke: '#148c28', 'stroke-width': 3 }]],
  delete: [['path', { d: 'M2.5 8H13.5', stroke: '#be1e1e', 'stroke-width': 3 }]],
  search: [['circle', { cx: 6.5, cy: 6.5, r: 4, stroke: '#1e3c8c', 'stroke-width': 2.2, fill: 'none' }],
           ['path', { d: 'M9.5 9.5L14 14', stroke: '#1e3c8c', 'stroke-width': 3 }]],
  verify: [['path', { d: 'M10.75 3.24A5.5 5.5 0 1 0 13.26 6.6', stroke: '#146ea0', 'stroke-width': 2.2, fill: 'none' }],
           ['path', { d: 'M11.5 1L14.5 4.8L9.6 5.6Z', fill: '#146ea0' }]],
  confirm: [['path', { d: 'M2.5 8.5L6.5 12.5L13.5 3.5', stroke: '#148c28', 'stroke-width': 2.8, fill: 'none' }]],
  cancel: [['path', { d: 'M3.5 3.5L12.5 12.5M12.5 3.5L3.5 12.5', stroke: '#be1e1e', 'stroke-width': 2.8 }]],
  print: [['rect', { x: 4.5, y: 1.5, width: 7, height: 4, stroke: '#464646', 'stroke-width': 1.4, fill: 'none' }],
          ['rect', { x: 1.5, y: 5.5, width: 13, height: 6, stroke: '#464646', 'stroke-width': 1.4, fill: '#c8c8c8' }],
          ['rect', { x: 4.5, y: 9.5, width: 7, height: 5, stroke: '#464646', 'stroke-width': 1.4, fill: '#fff' }]],
  spare: [['circle', { cx: 8, cy: 8, r: 5, stroke: '#785a14', 'stroke-width': 1.6, fill: '#f0c83c' }]],
  open: [['path', { d: 'M1.5 4H6L7.5 5.5H14.5V13.5H1.5Z', stroke: '#966e14', 'stroke-width': 1.4, fill: '#fad25a' }]],
};

export function iconFor(name) {
  const kind = kindOf(name);
  if (!kind) return null;
  const svg = document.createElementNS(NS, 'svg');
  svg.setAttribute('viewBox', '0 0 16 16');
  svg.setAttribute('width', '16');
  svg.setAttribute('height', '16');
  svg.setAttribute('aria-hidden', 'true');
  svg.setAttribute('class', `icon icon-${kind}`);
  for (const [tag, attrs] of DRAWINGS[kind]) {
    const part = document.createElementNS(NS, tag);
    for (const [k, v] of Object.entries(attrs)) part.setAttribute(k, String(v));
    part.setAttribute('stroke-linecap', 'round');
    part.setAttribute('stroke-linejoin', 'round');
    svg.append(part);
  }
  return svg;
}

export function defaultHint(name) {
  const kind = kindOf(name);
  return kind ? HINTS[kind] : '';
}
