// The Compile view: the one-pass compile of the program in the editor,
// recorded once by the worker (compiler.js, compile_view.cpp) and stepped
// through forwards and backwards, as `tsumiki-inspect compile` does in the
// terminal.  At each step it draws the source with the last token read lit
// and the construct under way shaded, the grammar routines under way
// (innermost first), the live symbol table as nested scopes, the code
// store so far with its jumps still waiting for their backpatch, and one
// sentence on what the step did and why.
//
// The worker sends one state per step asked for, never the whole record:
// a slider moved quickly asks only for where it came to rest.
//
// Keys: F10 next token (Shift: back), F11 next routine entry or exit, F7
// next instruction emitted, F8 to the end (Shift+F8 to the start).
import { StateEffect, StateField } from '@codemirror/state';
import { Decoration, EditorView } from '@codemirror/view';

const MOTIONS = {
  'compile-start': 'start',
  'compile-back-emit': 'back-emit',
  'compile-back-routine': 'back-routine',
  'compile-back-token': 'back-token',
  'compile-token': 'token',
  'compile-routine': 'routine',
  'compile-emit': 'emit',
  'compile-end': 'end',
};

const KINDS = {
  variable: '変数',
  array: '配列',
  'var parameter': 'var 引数',
  procedure: '手続き',
  function: '関数',
};

// What each grammar routine parses: [Japanese, English].
const ROUTINES = {
  parse_program: ['プログラム全体', 'the whole program'],
  parse_block: ['ブロック (宣言と本体)', 'a block, its declarations and its body'],
  parse_params: ['仮引数の並び', 'the parameter list'],
  sregist_vardecls: ['変数宣言', 'the variable declarations'],
  parse_proc_func: ['手続きか関数の宣言', 'a procedure or function declaration'],
  parse_statement: ['文', 'a statement'],
  parse_condition: ['条件', 'a condition'],
  parse_expression: ['式', 'an expression'],
  parse_term: ['項', 'a term'],
  parse_factor: ['因子', 'a factor'],
  parse_call: ['呼び出し', 'a call'],
  parse_index: ['添字', 'an index'],
};

const escapeHtml = (text) => String(text).replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);

const ORDINALS = ['first', 'second', 'third', 'fourth', 'fifth', 'sixth', 'seventh', 'eighth', 'ninth', 'tenth'];
const ordinal = (n) => ORDINALS[n - 1] ?? `${n}th`;
const levelsOut = (d) => (d === 1 ? 'one level out' : `${d} levels out`);
const staticLinks = (l) => (l === 1 ? 'follow one static link' : `follow ${l} static links`);

// Why the other instructions are there: [Japanese, English] for l, a.
const WHY = {
  LDC: (l, a) => [`定数 ${a} を積みます`, `push the constant ${a}`],
  OPR: () => ['一番上のセル (二つ) で計算します', 'compute with the top cells'],
  COP: () => ['上の二つのセルを比べ、1 か 0 を積みます', 'compare the top two cells, pushing 1 or 0'],
  UJP: (l, a) => [`${a} 番地へ飛びます`, `jump to ${a}`],
  FJP: (l, a) => [`条件が偽なら ${a} 番地へ飛びます`, `jump to ${a} when the condition is false`],
  RET: () => ['呼び出し元へ戻ります', 'return to the caller'],
  MST: (l, a) => [`呼び出しの準備: 静的リンクは ${l} 回たどった先のフレーム`, `prepare a call: its static link is the frame ${l} links out`],
  ENT: (l, a) => [`t := b+${a}: ブロックのフレームを取ります`, `t := b+${a}: make room for the block's frame`],
  HLT: () => ['プログラムの終わりで止まります', 'stop at the end of the program'],
  GET: () => ['数を一つ読んで積みます', 'read a number and push it'],
  PUT: () => ['一番上のセルを書き出します', 'write the top cell'],
  IND: () => ['一番上の番地のセルを読みます', 'read the cell at the address on top'],
  STO: () => ['番地のセルに書きます', 'write the cell at the address below the top'],
  FRT: () => ['関数の値を持って戻ります', "return with the function's value"],
  CUP: (l, a) => [`${a} 番地のルーチンを呼びます (引数 ${l} 個)`, `call the routine at ${a} with ${l} arguments`],
};

// How an instruction reaches its cell: l static links, then cell a.
function cellWords(op, l, a) {
  const verb = { LOD: ['を読みます', 'read'], STR: ['に書きます', 'write'], LDA: ['の番地を積みます', 'push the address of'] }[op];
  if (!verb) return null;
  if (l === 0) return [`今のフレームの ${a + 1} 番目のセル${verb[0]}`, `${verb[1]} the ${ordinal(a + 1)} cell of the current frame`];
  return [`静的リンクを ${l} 回たどり、そのフレームの ${a + 1} 番目のセル${verb[0]}`, `${staticLinks(l)}, then ${verb[1]} the ${ordinal(a + 1)} cell of that frame`];
}

// One sentence on what the step did and why: [Japanese, English].
export function sentence(state) {
  const e = state.event;
  if (e === null) return ['まだ何も読んでいません', 'nothing has been read yet'];
  const routine = ROUTINES[e.routine] ?? [e.routine, e.routine];
  const shown = (text) => `\`${text}\``;
  switch (e.kind) {
  case 'token': {
    const text = e.token === 'WD_NUM' ? String(e.value) : e.text;
    return [`次のトークン ${shown(text)} (${e.token}) を読みました (${e.first[0]} 行 ${e.first[1]} 列): 構文解析はいつも 1 トークン先を見て進みます`,
      `the next token, ${shown(text)} (${e.token}), is read at line ${e.first[0]}, column ${e.first[1]}: the parser always looks one token ahead`];
  }
  case 'enter':
    return [`${e.routine} に入ります: ${e.token} から始まる${routine[0]}を解析します`,
      `enters ${e.routine}: ${routine[1]} starts at ${e.token}`];
  case 'leave':
    return [`${e.routine} を終えて戻ります: ${routine[0]}を読み終えました (今のトークンは ${e.token})`,
      `leaves ${e.routine}: ${routine[1]} is complete (the current token is ${e.token})`];
  case 'scope':
    return [`レベル ${e.level} の有効範囲を開きます: ここで宣言する名前はこのレベルに入ります`,
      `opens the scope of level ${e.level}: the names declared here belong to it`];
  case 'close':
    return [`レベル ${e.level} の有効範囲を閉じます: そのブロックの名前はもう見えず、記号表は ${e.entry} 項目に戻ります`,
      `closes the scope of level ${e.level}: its names are no longer visible, and the table is back to ${e.entry} entries`];
  case 'regist': {
    const routineLike = e.symbol === 'procedure' || e.symbol === 'function';
    const where = routineLike ? [`命令 ${e.address}`, `code address ${e.address}`] : [`オフセット ${e.offset}`, `offset ${e.offset}`];
    return [`${shown(e.text)} を${KINDS[e.symbol] ?? e.symbol}として記号表の項目 ${e.entry} に登録します (レベル ${e.level}、${where[0]})`,
      `registers ${shown(e.text)} as a ${e.symbol} in entry ${e.entry} (level ${e.level}, ${where[1]})`];
  }
  case 'lookup':
    if (e.entry <= 0) return [`${shown(e.text)} は見つかりません: 宣言されていない名前です`, `${shown(e.text)} is not found: it is not declared`];
    if (e.difference === 0) return [`${shown(e.text)} はこのレベルで見つかります (項目 ${e.entry})`, `${shown(e.text)} is found at this level (entry ${e.entry})`];
    return [`${shown(e.text)} は ${e.difference} つ外のレベルで見つかります (項目 ${e.entry})`, `${shown(e.text)} is found ${levelsOut(e.difference)} (entry ${e.entry})`];
  case 'passing': {
    const owner = state.symbols[e.entry - 1]?.[0] ?? '?';
    const byRef = e.symbol === 'r';
    return [`${shown(owner)} の ${e.position + 1} 番目の引数を${byRef ? ' var (参照)' : '値'}渡しと記録します: 呼び出しはこれを見て番地か値を積みます`,
      `records parameter ${e.position + 1} of ${shown(owner)} as passed ${byRef ? 'by reference (var)' : 'by value'}: a call pushes ${byRef ? 'an address' : 'a value'} for it`];
  }
  case 'emit': {
    const head = [`命令 ${e.index}: ${e.op} ${e.l},${e.a} を生成します`, `emits ${e.index}: ${e.op} ${e.l},${e.a}`];
    const cell = cellWords(e.op, e.l, e.a);
    if (cell && e.name !== undefined) {
      const found = e.difference === 0 ? ['このレベルで見つかります', 'is found at this level'] : [` ${e.difference} つ外のレベルで見つかります`, `is found ${levelsOut(e.difference)}`];
      return [`${shown(e.name)} は${found[0]}: ${e.op} ${e.l},${e.a} — ${cell[0]}`, `${shown(e.name)} ${found[1]}: ${e.op} ${e.l},${e.a} — ${cell[1]}`];
    }
    if (cell) return [`${head[0]} — ${cell[0]}`, `${head[1]} — ${cell[1]}`];
    if ((e.op === 'UJP' || e.op === 'FJP') && e.a === 0)
      return [`${head[0]}: 飛び先はまだわからないので 0 にしておき、わかったところで書き換えます`, `${head[1]}: its target is not known yet, so it is 0 until the backpatch`];
    const why = WHY[e.op]?.(e.l, e.a) ?? ['', ''];
    return [`${head[0]} — ${why[0]} (${e.first[0]} 行目)`, `${head[1]} — ${why[1]} (line ${e.first[0]})`];
  }
  case 'backpatch':
    return [`命令 ${e.index} の飛び先を ${e.oldA} から ${e.a} に書き換えます: 飛び先がここで決まりました`,
      `backpatches instruction ${e.index}: its target, unknown when it was emitted, is ${e.a}, known only now`];
  case 'error':
    return [`コンパイルエラー: ${e.message.replace(/\n+$/, '')}`, 'compile error: the compile stops here'];
  default:
    return [e.kind, e.kind];
  }
}

// The editor's marks: {token: [line, column, endLine, endColumn], construct: [line, column]} or null.
const setCompileMarks = StateEffect.define();

// A place (line, and column in bytes of UTF-8, from 1) as an offset in the
// editor's text, which counts UTF-16 units; clamped to the text.
function offsetAt(doc, line, column) {
  if (line < 1) return 0;
  if (line > doc.lines) return doc.length;
  const text = doc.line(line).text;
  let bytes = 0;
  let i = 0;
  while (i < text.length && bytes < column - 1) {
    const code = text.codePointAt(i);
    bytes += code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    i += code >= 0x10000 ? 2 : 1;
  }
  return doc.line(line).from + i;
}

export const compileMarks = StateField.define({
  create: () => Decoration.none,
  update(marks, transaction) {
    for (const effect of transaction.effects) {
      if (!effect.is(setCompileMarks)) continue;
      const doc = transaction.state.doc;
      const where = effect.value;
      if (where === null || where.token === null) return Decoration.none;
      const [line, column, endLine, endColumn] = where.token;
      const from = offsetAt(doc, line, column);
      const to = Math.max(from, offsetAt(doc, endLine, endColumn));
      const ranges = [];
      if (where.construct !== null) {
        const start = Math.min(from, offsetAt(doc, where.construct[0], where.construct[1]));
        if (start < to) ranges.push(Decoration.mark({ class: 'compile-construct' }).range(start, to));
      }
      if (from < to) ranges.push(Decoration.mark({ class: 'compile-token' }).range(from, to));
      return Decoration.set(ranges, true);
    }
    return transaction.docChanged ? Decoration.none : marks;
  },
  provide: (field) => EditorView.decorations.from(field),
});

export class CompileView {
  // page: what the page lends it (main.js): its editor and worker, and the
  // ways it shows things.
  constructor(page) {
    this.page = page;
    this.active = false;
    this.waiting = false;
    this.wanted = null; // a step asked for while waiting
    this.state = null;
    this.slider = document.getElementById('compile-history');
    this.stepCount = document.getElementById('compile-step');
    this.rules = document.getElementById('rules');
    this.symbols = document.getElementById('symbols');
    this.code = document.getElementById('code-store');
    this.said = document.getElementById('compile-sentence');
    document.getElementById('compile').addEventListener('click', () => this.start(0));
    document.getElementById('compile-close').addEventListener('click', () => this.page.leaveCompile());
    for (const [id, motion] of Object.entries(MOTIONS))
      document.getElementById(id).addEventListener('click', () => this.move(motion));
    this.slider.addEventListener('input', () => this.go(Number(this.slider.value)));
    // A row of the code goes to the step that emitted it, a name to the
    // step that registered it, a routine to the step that entered it.
    for (const pane of [this.code, this.symbols, this.rules]) {
      pane.addEventListener('click', (event) => {
        const target = event.target.closest('[data-step]');
        if (target && Number(target.dataset.step) > 0) this.go(Number(target.dataset.step));
      });
    }
    document.addEventListener('keydown', (event) => this.key(event));
    this.enable();
  }

  key(event) {
    if (!this.active) return;
    const shift = event.shiftKey;
    const motion = {
      F10: shift ? 'back-token' : 'token',
      F11: shift ? 'back-routine' : 'routine',
      F7: shift ? 'back-emit' : 'emit',
      F8: shift ? 'start' : 'end',
    }[event.key];
    if (!motion) return;
    event.preventDefault();
    event.stopImmediatePropagation();
    this.move(motion);
  }

  enable() {
    const ready = this.active && this.state !== null;
    const step = this.state?.step ?? 0;
    const last = this.state?.last ?? 0;
    for (const [id, motion] of Object.entries(MOTIONS)) {
      const back = motion.startsWith('back') || motion === 'start';
      document.getElementById(id).disabled = !ready || (back ? step === 0 : step === last);
    }
    this.slider.disabled = !ready;
    document.getElementById('compile').disabled = this.page.busy() && !this.active;
  }

  // Records the editor's program and goes to `step`.
  async start(step) {
    if (this.page.busy()) return;
    this.page.enterCompile();
    this.active = true;
    this.waiting = true;
    this.wanted = null;
    this.state = null;
    for (const pane of [this.rules, this.symbols, this.code]) pane.replaceChildren();
    this.said.textContent = '';
    this.page.showStatus('コンパイルを記録中…', 'recording the compile…', 'compiling');
    this.enable();
    await this.page.workerReady();
    this.page.worker().postMessage({ type: 'compile-open', source: this.page.editor.state.doc.toString(), step });
  }

  // Back to the run view: the marks go, the drawing stays for next time.
  end() {
    if (!this.active) return;
    this.active = false;
    this.waiting = false;
    this.page.editor.dispatch({ effects: setCompileMarks.of(null) });
    delete document.body.dataset.compileStep;
    this.enable();
  }

  move(motion) {
    if (!this.active || this.state === null) return;
    if (this.waiting) return;
    this.waiting = true;
    this.page.worker().postMessage({ type: 'compile-move', motion });
  }

  go(step) {
    if (!this.active || this.state === null) return;
    if (this.waiting) {
      this.wanted = step;
      return;
    }
    this.waiting = true;
    this.page.worker().postMessage({ type: 'compile-go', step });
  }

  // The share link's part: `&compile&step=N`, or nothing.
  fragment() {
    return this.active && this.state !== null ? `&compile&step=${this.state.step}` : '';
  }

  // A message from the worker that is the Compile view's; false if not.
  fromWorker(message) {
    if (message.type === 'compile-opened') {
      if (!this.active) return true;
      if (message.lost) this.page.restartWorker();
      const { opened } = message;
      this.opened = opened;
      if (opened.error !== 0) this.page.showError(opened.message, opened);
      else this.page.hideError();
      if (message.lost) {
        this.waiting = false;
        this.page.showStatus('コンパイルエラー', 'compile error', 'done');
      }
      return true;
    }
    if (message.type === 'compile-state') {
      if (this.active) this.stopped(message.state);
      return true;
    }
    return false;
  }

  stopped(state) {
    this.waiting = false;
    this.state = state;
    this.draw(state);
    this.page.keepFragment();
    this.enable();
    if (this.wanted !== null) {
      const step = this.wanted;
      this.wanted = null;
      if (step !== state.step) this.go(step);
    }
  }

  draw(state) {
    const { editor } = this.page;
    editor.dispatch({ effects: setCompileMarks.of({ token: state.token, construct: state.construct }) });
    if (state.token !== null && state.token[0] >= 1 && state.token[0] <= editor.state.doc.lines)
      editor.dispatch({ effects: EditorView.scrollIntoView(editor.state.doc.line(state.token[0]).from, { y: 'nearest' }) });
    this.slider.max = state.last;
    this.slider.value = state.step;
    this.stepCount.textContent = `${state.step} / ${state.last}`;
    const [japanese, english] = sentence(state);
    this.said.textContent = `${japanese} / ${english}`;
    this.drawRules(state);
    this.drawSymbols(state);
    this.drawCode(state);
    const atEnd = state.step === state.last;
    const failed = this.opened && this.opened.error !== 0;
    // A compile of more events than the record keeps is shown up to there.
    const cut = this.opened?.truncated ? [' (記録はここまでです)', ' (the record stops here)'] : ['', ''];
    this.page.showStatus(
      `コンパイルの段階 ${state.step} / ${state.last}${atEnd ? (failed ? ' (エラーで終わりました)' : cut[0] || ' (終わり)') : ''}`,
      `compile step ${state.step} of ${state.last}${atEnd ? (failed ? ' (ended by an error)' : cut[1] || ' (the end)') : ''}`,
      'compiling');
    document.body.dataset.compileStep = state.step;
    // How many states have come: one more after every answer, for whoever
    // waits on one (the browser test).
    document.body.dataset.compileAnswers = Number(document.body.dataset.compileAnswers ?? 0) + 1;
  }

  drawRules(state) {
    if (state.routines.length === 0) {
      this.rules.innerHTML = '<li class="none">(解析中の構文ルーチンはありません / no grammar routine under way)</li>';
      return;
    }
    this.rules.innerHTML = state.routines.map(([name, line, column, step]) =>
      `<li class="rule" data-rule="${escapeHtml(name)}" data-line="${line}" data-column="${column}" data-step="${step}"` +
      ` title="${escapeHtml((ROUTINES[name] ?? ['', ''])[0])} / ${escapeHtml((ROUTINES[name] ?? ['', ''])[1])}">` +
      `${escapeHtml(name)} <span class="at">(${line}:${column})</span></li>`).join('');
  }

  drawSymbols(state) {
    const { symbols } = state;
    const lastEvent = state.event;
    const fresh = lastEvent && lastEvent.kind === 'regist' ? lastEvent.entry - 1 : -1;
    const deepest = Math.max(-1, ...state.scopes, ...symbols.map((s) => s[2]));
    if (deepest < 0) {
      this.symbols.innerHTML = '<div class="none">(記号表は空です / the symbol table is empty)</div>';
      return;
    }
    const open = new Set(state.scopes);
    const html = [];
    for (let level = 0; level <= deepest; level++) {
      html.push(`<div class="scope${open.has(level) ? '' : ' closed'}" data-level="${level}"><div class="scope-head">レベル ${level} / level ${level}</div>`);
      symbols.forEach(([name, kind, symbolLevel, offset, address, low, high, params, step], k) => {
        if (symbolLevel !== level) return;
        const routine = kind === 'procedure' || kind === 'function';
        const where = routine ? `命令 ${address}${params ? ` (${[...params].map((p) => (p === 'r' ? 'var' : '値')).join(', ')})` : ''}` : `+${offset}`;
        const bounds = kind === 'array' ? ` [${low}..${high}]` : '';
        html.push(`<div class="symbol${k === fresh ? ' fresh' : ''}" data-entry="${k + 1}" data-name="${escapeHtml(name)}" data-kind="${kind}"` +
          ` data-level="${symbolLevel}" data-offset="${offset}" data-address="${address}" data-step="${step}">` +
          `<span class="entry">${k + 1}</span><b>${escapeHtml(name)}</b> <span class="kind">${KINDS[kind] ?? kind} ${kind}${bounds}</span>` +
          ` <span class="where">${where}</span></div>`);
      });
    }
    for (let level = 0; level <= deepest; level++) html.push('</div>');
    this.symbols.innerHTML = html.join('');
  }

  drawCode(state) {
    const e = state.event;
    const lit = e && e.kind === 'emit' ? e.index : -1;
    const patched = e && e.kind === 'backpatch' ? e.index : -1;
    const open = new Set(state.open);
    if (state.code.length === 0) {
      this.code.innerHTML = '<div class="none">(命令はまだありません / no instructions yet)</div>';
      return;
    }
    this.code.innerHTML = state.code.map(([op, l, a, line, , , , step], index) => {
      const classes = ['code-row'];
      if (index === lit) classes.push('new');
      if (index === patched) classes.push('patched');
      const jump = op === 'UJP' || op === 'FJP';
      let arrow = '';
      if (open.has(index)) arrow = '<span class="arrow open">→ ?</span>';
      else if (jump) arrow = `<span class="arrow">${a > index ? '↓' : '↑'} ${a}</span>`;
      return `<div class="${classes.join(' ')}" data-index="${index}" data-step="${step}" data-line="${line}"${open.has(index) ? ' data-open="true"' : ''}>` +
        `<span class="index">${index}</span> ${op} ${l},${a}${arrow}</div>`;
    }).join('');
    const row = this.code.querySelector('.new, .patched');
    if (row) row.scrollIntoView({ block: 'nearest' });
  }
}
