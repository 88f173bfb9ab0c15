// The machine drawn: the registers, and the cells 0..t (and a few above t,
// faded) grouped into frames, innermost at the top as the stack grows
// upwards.  Every cell says what it is and holds; every frame's static and
// dynamic links, and every var parameter, are arrows to the cells they
// point at (an SVG laid over the cells).  The cells the last instruction
// wrote are lit.  A frame can be folded to its heading; with many frames
// only the innermost few and the program's are open at first, so that a
// deep recursion stays quick to draw and to read.
//
// The state is debugger.cpp's; the drawing is rebuilt from it at each stop.
const ROLES = ['static', 'dynamic', 'return', 'result', 'variable', 'element', 'temporary', 'unused'];
const ROLE_TEXT = {
  static: 'SL 静的リンク',
  dynamic: 'DL 動的リンク',
  return: 'RA 戻り番地',
  temporary: '作業用',
  unused: '',
};
const OPEN_WHEN_MANY = 3; // innermost frames open when there are many
const MANY_FRAMES = 8;
const SVG = 'http://www.w3.org/2000/svg';

const escapeHtml = (text) => String(text).replace(/[&<>"]/g, (c) => `&#${c.charCodeAt(0)};`);

function routineName(program, routine) {
  return routine >= 0 ? program.names[routine][0] : '?';
}

// What a cell's label says, and its data-name.
function cellName(program, [, roleCode, , declaration, index]) {
  const role = ROLES[roleCode];
  if (role === 'variable') return { role, name: program.names[declaration][0] };
  if (role === 'element') return { role, name: `${program.names[declaration][0]}[${index}]` };
  if (role === 'result') return { role, name: program.names[declaration][0], text: `${program.names[declaration][0]} の結果` };
  return { role, name: '' };
}

export class StackView {
  constructor(root) {
    this.root = root;
    this.open = new Map(); // frame base -> folded (false) or open (true), as the user chose
    this.state = null;
    this.program = null;
    root.addEventListener('click', (event) => {
      const head = event.target.closest('.frame-head');
      if (!head || !this.state) return;
      const frame = head.parentElement;
      this.open.set(Number(frame.dataset.base), frame.classList.contains('folded'));
      this.draw(this.program, this.state);
    });
  }

  reset() {
    this.open.clear();
    this.state = null;
    this.root.replaceChildren();
  }

  isOpen(k, count, base) {
    if (this.open.has(base)) return this.open.get(base);
    return count <= MANY_FRAMES || k < OPEN_WHEN_MANY || k === count - 1;
  }

  draw(program, state) {
    this.program = program;
    this.state = state;
    const { frames, cells } = state;
    const changed = new Set(state.changed);
    const html = [];
    html.push(`<div class="registers"><span data-register="p">p = ${state.p}</span>` +
      `<span data-register="b">b = ${state.b}</span><span data-register="t">t = ${state.t}</span></div>`);
    html.push('<div class="cells">');
    const cellHtml = (index) => {
      const cell = cells[index];
      const { role, name, text } = cellName(program, cell);
      const classes = ['cell', `role-${role}`];
      if (index > state.t) classes.push('above-t');
      if (changed.has(index)) classes.push('changed');
      const marks = `${index === state.b ? '<b class="mark-b">b→</b>' : ''}${index === state.t ? '<b class="mark-t">t→</b>' : ''}`;
      const label = text ?? (name !== '' ? name : ROLE_TEXT[role]);
      return `<div class="${classes.join(' ')}" data-index="${index}" data-name="${escapeHtml(name)}" data-value="${cell[0]}">` +
        `<span class="marks">${marks}</span><span class="index">${index}</span>` +
        `<span class="label">${escapeHtml(label)}</span><span class="value">${cell[0]}</span></div>`;
    };
    // Above t: what is left there, faded.
    if (cells.length > state.t + 1) {
      html.push('<div class="above">');
      for (let i = cells.length - 1; i > state.t; i--) html.push(cellHtml(i));
      html.push('</div>');
    }
    let top = state.t;
    frames.forEach(([base, routine, , line], k) => {
      const calledFrom = k + 1 < frames.length ? frames[k + 1][3] : 0;
      const open = this.isOpen(k, frames.length, base);
      const name = routineName(program, routine);
      const where = calledFrom > 0 ? ` ← ${calledFrom} 行目から / called from line ${calledFrom}` : '';
      html.push(`<div class="frame${open ? '' : ' folded'}" data-routine="${escapeHtml(name)}" data-base="${base}" data-line="${line}" data-called-from="${calledFrom}">` +
        `<div class="frame-head"><span class="fold">${open ? '▾' : '▸'}</span> <b>${escapeHtml(name)}</b>${where}` +
        ` <span class="extent">[${base}..${Math.max(top, base)}]</span></div>`);
      if (open) for (let i = top; i >= base; i--) if (i < cells.length) html.push(cellHtml(i));
      html.push('</div>');
      top = base - 1;
    });
    html.push('</div>');
    this.root.innerHTML = html.join('');
    this.drawLinks(frames, state);
  }

  // The arrows, once the cells are laid out.
  drawLinks(frames, state) {
    const area = this.root.querySelector('.cells');
    const links = [];
    // A frame's links start at the cells the library labels as them: the
    // frame's layout is known there only.
    const linkCells = new Map();
    state.cells.forEach(([, roleCode, frame], index) => {
      const role = ROLES[roleCode];
      if (role === 'static' || role === 'dynamic') linkCells.set(`${frame} ${role}`, index);
    });
    frames.forEach(([base, , , , staticLink, dynamicLink], k) => {
      if (base === 0) return;
      for (const [role, to] of [['static', staticLink], ['dynamic', dynamicLink]]) {
        const from = linkCells.get(`${k} ${role}`);
        if (from !== undefined) links.push([role, from, to]);
      }
    });
    for (const [from, to] of state.vars) links.push(['var', from, to]);
    const svg = document.createElementNS(SVG, 'svg');
    svg.setAttribute('class', 'links');
    const origin = area.getBoundingClientRect();
    svg.setAttribute('width', origin.width);
    svg.setAttribute('height', area.scrollHeight);
    const defs = document.createElementNS(SVG, 'defs');
    for (const kind of ['static', 'dynamic', 'var']) {
      const marker = document.createElementNS(SVG, 'marker');
      marker.setAttribute('id', `head-${kind}`);
      marker.setAttribute('viewBox', '0 0 6 6');
      marker.setAttribute('refX', '6');
      marker.setAttribute('refY', '3');
      marker.setAttribute('markerWidth', '6');
      marker.setAttribute('markerHeight', '6');
      marker.setAttribute('orient', 'auto');
      const tip = document.createElementNS(SVG, 'path');
      tip.setAttribute('d', 'M0,0 L6,3 L0,6 z');
      tip.setAttribute('class', `tip-${kind}`);
      marker.append(tip);
      defs.append(marker);
    }
    svg.append(defs);
    // A cell's middle, or its folded frame's heading.  A folded frame's
    // own links and var parameters are folded with it.
    const drawn = new Map([...area.querySelectorAll('.cell')].map((cell) => [Number(cell.dataset.index), cell]));
    const heads = [...area.querySelectorAll('.frame')].map((frame) => [Number(frame.dataset.base), frame.firstElementChild]);
    const anchor = (index) => drawn.get(index) ?? heads.find(([base]) => base <= index)?.[1] ?? null;
    const middle = (element) => {
      const r = element.getBoundingClientRect();
      return r.top - origin.top + r.height / 2;
    };
    const placed = links.filter(([, from]) => drawn.has(from)).map(([kind, from, to]) => [kind, from, to, anchor(from), anchor(to)]);
    const ys = placed.map(([, , , a, b]) => [a && middle(a), b && middle(b)]);
    const right = origin.width - 4;
    placed.forEach(([kind, from, to, a, b], k) => {
      const path = document.createElementNS(SVG, 'path');
      path.setAttribute('class', `link link-${kind}`);
      path.dataset.kind = kind;
      path.dataset.from = from;
      path.dataset.to = to;
      if (a && b) {
        const [y1, y2] = ys[k];
        const reach = 14 + Math.min(60, Math.abs(y2 - y1) / 6) + (kind === 'dynamic' ? 0 : kind === 'static' ? 10 : 20);
        // Links leave from the left edge, var parameters from the right.
        const x = kind === 'var' ? right - 60 : 40;
        const bend = kind === 'var' ? x + reach : x - reach;
        path.setAttribute('d', `M${x},${y1} C${bend},${y1} ${bend},${y2} ${x},${y2}`);
        path.setAttribute('marker-end', `url(#head-${kind})`);
      }
      svg.append(path);
    });
    area.prepend(svg);
  }
}
