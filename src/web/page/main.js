// The playground page: an editor, a box for standard input, and the panes
// for what the compiler and the machine made of the program.  Programs run
// in a worker (worker.js); Stop ends that worker and starts a fresh one.
//
// The page keeps the program and its input in the address's fragment,
// `#code=...&input=...` (base64url of the UTF-8 text), and the breakpoints,
// `&break=5,12,*40` (source lines; `*N` instruction N); `&run` there runs
// the program as soon as the page has loaded, `&debug` starts the debugger
// on it (debug.js), `&compile&step=N` opens the Compile view at step N of
// its compile (compile.js).  `&debug&at=N` starts the debugger and runs
// forward until N instructions have run (stopping early before a run-time
// error or at the end), and `&why=wa`, `re` or `tle` says why a link opened
// it there (tsumiki-judge's: the write of the first wrong line, the error,
// the instruction limit).
import { defaultKeymap, history, historyKeymap, indentWithTab } from '@codemirror/commands';
import { HighlightStyle, StreamLanguage, syntaxHighlighting } from '@codemirror/language';
import { EditorState, StateEffect, StateField } from '@codemirror/state';
import {
  Decoration,
  EditorView,
  WidgetType,
  drawSelection,
  highlightActiveLine,
  highlightActiveLineGutter,
  keymap,
  lineNumbers,
} from '@codemirror/view';
import { tags } from '@lezer/highlight';
import examples from 'examples';
import { CompileView, compileMarks } from './compile.js';
import { Debugger } from './debug.js';
import { drawListing, hues, linkListing, markCurrentInstruction, markInstructionBreakpoints } from './listing.js';
import { breakpointLines, breakpointsChanged, debugMarks, setBreakpoints, showHues, showLinked } from './marks.js';

// The lexer's keywords (a unit test holds this list to the lexer's).
const KEYWORDS = new Set([
  'program', 'var', 'begin', 'end', 'if', 'then', 'else', 'while', 'do',
  'procedure', 'function', 'div', 'read', 'write',
]);

// The language's words, numbers and operators, for highlighting.
const tsumikiLanguage = StreamLanguage.define({
  token(stream) {
    if (stream.eatSpace()) return null;
    if (stream.match(/^[A-Za-z][A-Za-z0-9]*/))
      return KEYWORDS.has(stream.current()) ? 'keyword' : 'variableName';
    if (stream.match(/^[0-9]+/)) return 'number';
    if (stream.match(/^(:=|<>|<=|>=|\.\.|[-+*=<>])/)) return 'operator';
    stream.next();
    return 'punctuation';
  },
});

const highlighting = HighlightStyle.define([
  { tag: tags.keyword, color: '#7a2a8c', fontWeight: 'bold' },
  { tag: tags.number, color: '#1060b0' },
  { tag: tags.operator, color: '#b0421c' },
  { tag: tags.punctuation, color: '#667' },
]);

// The error mark: where the last compile or run error was found.
const setErrorMark = StateEffect.define();

class EndOfLineMark extends WidgetType {
  toDOM() {
    const mark = document.createElement('span');
    mark.className = 'error-mark at-end';
    return mark;
  }
}

const errorMarkField = StateField.define({
  create: () => Decoration.none,
  update(marks, transaction) {
    for (const effect of transaction.effects)
      if (effect.is(setErrorMark)) return errorMarkDecorations(transaction.state, effect.value);
    return transaction.docChanged ? Decoration.none : marks;
  },
  provide: (field) => EditorView.decorations.from(field),
});

// The error's line and column (bytes of UTF-8, from 1) as an offset in the
// editor's text, which counts UTF-16 units.
function offsetOf(doc, line, column) {
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

function errorMarkDecorations(state, where) {
  if (where === null || where.line < 1 || where.line > state.doc.lines) return Decoration.none;
  const line = state.doc.line(where.line);
  const at = offsetOf(state.doc, where.line, where.column);
  const ranges = [Decoration.line({ class: 'error-line' }).range(line.from)];
  if (at < line.to) {
    const next = at + (state.doc.sliceString(at, at + 2).codePointAt(0) >= 0x10000 ? 2 : 1);
    ranges.push(Decoration.mark({ class: 'error-mark' }).range(at, next));
  } else {
    ranges.push(Decoration.widget({ widget: new EndOfLineMark(), side: 1 }).range(at));
  }
  return Decoration.set(ranges);
}

// base64url of UTF-8 text, and back.
function encodeText(text) {
  let binary = '';
  for (const byte of new TextEncoder().encode(text)) binary += String.fromCharCode(byte);
  return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function decodeText(code) {
  const binary = atob(code.replace(/-/g, '+').replace(/_/g, '/'));
  return new TextDecoder().decode(Uint8Array.from(binary, (c) => c.charCodeAt(0)));
}

const $ = (id) => document.getElementById(id);
const panes = { output: $('output'), listing: $('listing'), trace: $('trace') };
const input = $('input');
const status = $('status');
const errorBox = $('error');
const warningsBox = $('warnings');

// How a run ended, by the library's name for it (run_end_name); a unit
// test holds these names to the library's.
const RUN_ENDS = {
  halted: ['終了しました', 'finished'],
  runtime_error: ['実行時エラー', 'run-time error'],
  budget_spent: ['命令数の上限に達しました', 'instruction limit reached'],
  stopped: ['停止しました', 'stopped'],
  output_failed: ['出力できませんでした', 'output failed'],
  check_failed: ['検査で止めました', 'stopped by the check'],
};

function showStatus(japanese, english, state) {
  status.textContent = `${japanese} / ${english}`;
  document.body.dataset.state = state;
}

// What the status says after a judge's link has opened a run, by `why`.
const LINK_NOTES = {
  wa: [' — 判定: ここで最初に違う行を書きます', ' — judge: this writes the first line that differs'],
  re: [' — 判定: ここで実行時エラーがおきます', ' — judge: the run-time error happens here'],
  tle: [' — 判定: 命令数の上限に達しました', ' — judge: the instruction limit was reached here'],
};

// The fragment follows the program and its input, without `run`.
let fragmentTimer = 0;
function keepFragment() {
  clearTimeout(fragmentTimer);
  fragmentTimer = setTimeout(() => {
    const code = encodeText(editor.state.doc.toString());
    const breaks = [...breakpointLines(editor.state), ...[...debuggerUI.pcBreakpoints].sort((x, y) => x - y).map((pc) => `*${pc}`)];
    const breakPart = breaks.length > 0 ? `&break=${breaks.join(',')}` : '';
    window.history.replaceState(null, '', `#code=${code}&input=${encodeText(input.value)}${breakPart}${compileView.fragment()}`);
  }, 200);
}

const editor = new EditorView({
  parent: $('editor'),
  state: EditorState.create({
    doc: '',
    extensions: [
      lineNumbers(),
      highlightActiveLineGutter(),
      highlightActiveLine(),
      drawSelection(),
      history(),
      keymap.of([...defaultKeymap, ...historyKeymap, indentWithTab]),
      tsumikiLanguage,
      syntaxHighlighting(highlighting),
      errorMarkField,
      debugMarks,
      compileMarks,
      EditorView.updateListener.of((update) => {
        if (update.docChanged) {
          keepFragment();
          programShown = null; // the listing no longer matches the text
          if (compileView.active) leaveCompile(); // nor does the compile's record
        }
        if (breakpointsChanged(update)) debuggerUI.breakpointsChanged();
      }),
    ],
  }),
});
input.addEventListener('input', keepFragment);

// Pointing at a source line lights up its instructions, and the other way.
let programShown = null;
editor.dom.addEventListener('mousemove', (event) => {
  if (programShown === null) return;
  const pos = editor.posAtCoords({ x: event.clientX, y: event.clientY });
  const line = pos === null ? null : editor.state.doc.lineAt(pos).number;
  linkListing(panes.listing, line);
});
editor.dom.addEventListener('mouseleave', () => linkListing(panes.listing, null));

// The text the program shown was compiled from, for the listing's source
// lines.
let sourceShown = [];
function drawProgram() {
  if (programShown === null) return;
  drawListing(panes.listing, programShown, {
    onPoint: (line) => {
      if (programShown !== null) showLinked(editor, line === null ? [] : [line]);
    },
    onToggle: (pc) => debuggerUI.toggleInstruction(pc),
  }, $('source-on').checked ? sourceShown : null);
  // A debugging session's marks on the rows, drawn again.
  if (debuggerUI.active) {
    markInstructionBreakpoints(panes.listing, debuggerUI.pcBreakpoints);
    const state = debuggerUI.state;
    if (state) markCurrentInstruction(panes.listing, state.ended ? null : state.pc);
  }
}

function setProgram(program) {
  programShown = program;
  sourceShown = editor.state.doc.toString().split('\n');
  drawProgram();
  showHues(editor, hues(program).lines);
}
$('source-on').addEventListener('change', drawProgram);

function load(source, text) {
  editor.dispatch({ changes: { from: 0, to: editor.state.doc.length, insert: source } });
  input.value = text;
  keepFragment();
}

// The worker, made anew whenever a run is stopped.
let wasmModule = null;
let worker = null;
let workerReady = null;
let running = false;

// A worker made beforehand (start.js) may be passed in.
function startWorker(made = new Worker('worker.js')) {
  worker = made;
  // A run that the module could not finish (it ran out of the browser's
  // own stack, say): report it and go on with a fresh worker.
  worker.onerror = (event) => {
    event.preventDefault();
    worker.terminate();
    startWorker();
    setRunning(false);
    debuggerUI.end();
    leaveCompile();
    showError(`${event.message}`, { line: 0, column: 0, hint: '' });
    showStatus('実行できませんでした', 'could not run', 'done');
  };
  workerReady = new Promise((resolve) => {
    worker.onmessage = (event) => {
      if (event.data.type !== 'ready') return;
      worker.onmessage = (e) => fromWorker(e.data);
      resolve();
    };
  });
  worker.postMessage({ type: 'init', module: wasmModule });
}

function setRunning(on) {
  running = on;
  $('run').disabled = on;
  $('stop').disabled = !on && !debuggerUI.active;
  compileView.enable();
}

// The error's message, then where it was found and the hint for it, as
// tsumiki-inspect check gives them.  The line breaks that end a message
// (a compile error's is followed by an empty line) are not shown.
function showError(message, where) {
  $('error-message').textContent = message.replace(/\n+$/, '');
  $('error-place').textContent =
    where.line > 0 ? `${where.line}行 ${where.column}列 / line ${where.line}, column ${where.column}` : '';
  $('error-hint').textContent = (where.hint ?? '').replace(/\n+$/, '');
  errorBox.hidden = false;
  if (where.line > 0) {
    editor.dispatch({
      effects: [setErrorMark.of(where), EditorView.scrollIntoView(offsetOf(editor.state.doc, where.line, where.column), { y: 'center' })],
    });
  }
}

// Text from the worker is gathered and drawn at most every DRAW_MS, in one
// piece per pane: a program that prints line after line must not make the
// page lay itself out once per line.
const DRAW_MS = 40;
const incoming = { output: '', listing: '', trace: '' };
let incomingEchoes = []; // [at, number] in incoming.output
let drawTimer = null;

// The number a read took, after its prompt, as a terminal echoes what is
// typed: drawn by the style from data-echo, in a style of its own and with
// a line break, so that the pane's text (what a copy takes) stays the
// program's output.
function echoMark(number) {
  const mark = document.createElement('span');
  mark.className = 'echo';
  mark.dataset.echo = String(number);
  mark.title = '入力 / input';
  return mark;
}

// The output's text with the echoes in their places.
function outputPieces(text, echoes) {
  const pieces = [];
  let from = 0;
  for (const [at, number] of echoes) {
    if (at > from) pieces.push(text.slice(from, at));
    pieces.push(echoMark(number));
    from = at;
  }
  if (from < text.length) pieces.push(text.slice(from));
  return pieces;
}

function draw() {
  clearTimeout(drawTimer);
  drawTimer = null;
  for (const name of Object.keys(incoming)) {
    if (name === 'output') {
      if (incoming.output === '' && incomingEchoes.length === 0) continue;
      panes.output.append(...outputPieces(incoming.output, incomingEchoes));
      incomingEchoes = [];
    } else if (incoming[name] === '') {
      continue;
    } else {
      panes[name].append(incoming[name]);
    }
    incoming[name] = '';
    if (name === 'output') panes.output.scrollTop = panes.output.scrollHeight;
  }
}

function fromWorker(message) {
  if (compileView.fromWorker(message)) return;
  if (debuggerUI.fromWorker(message)) return;
  if (message.type === 'program') {
    setProgram(message.program);
    return;
  }
  if (message.type === 'text') {
    for (const [at, number] of message.echoes ?? []) incomingEchoes.push([incoming.output.length + at, number]);
    incoming[message.pane] += message.text;
    if (drawTimer === null) drawTimer = setTimeout(draw, DRAW_MS);
    return;
  }
  draw();
  setRunning(false);
  if (message.lost) startWorker();
  const ms = `${message.ms.toFixed(1)} ms`;
  document.body.dataset.ms = message.ms;
  if (message.phase === 'compile') {
    showError(message.message, message);
    showStatus(`コンパイルエラー (${ms})`, `compile error (${ms})`, 'done');
    return;
  }
  warningsBox.textContent = message.warnings;
  warningsBox.hidden = message.warnings === '';
  if (message.message !== '') showError(message.message, message);
  const [japanese, english] = RUN_ENDS[message.end] ?? [message.end, message.end];
  showStatus(`${japanese} (${ms})`, `${english} (${ms})`, 'done');
}

async function run() {
  if (running) return;
  if (debuggerUI.active) stop();
  leaveCompile();
  draw();
  for (const pane of Object.values(panes)) pane.textContent = '';
  errorBox.hidden = true;
  warningsBox.hidden = true;
  editor.dispatch({ effects: setErrorMark.of(null) });
  setRunning(true);
  showStatus('実行中…', 'running…', 'running');
  await workerReady;
  worker.postMessage({
    type: 'run',
    source: editor.state.doc.toString(),
    input: input.value,
    trace: $('trace-on').checked,
    check: $('check-on').checked,
  });
}

function stop() {
  if (debuggerUI.active) {
    // A motion under way may never end: the worker goes with it.
    if (debuggerUI.moving) {
      worker.terminate();
      startWorker();
    }
    debuggerUI.end();
    setRunning(false);
    showStatus('停止しました', 'stopped', 'stopped');
    return;
  }
  if (!running) return;
  worker.terminate();
  draw();
  startWorker();
  setRunning(false);
  showStatus('停止しました', 'stopped', 'stopped');
}

// The Compile view takes the place of the stack and the output; Run and
// Debug go back to them.
function enterCompile() {
  if (debuggerUI.active) stop();
  errorBox.hidden = true;
  editor.dispatch({ effects: setErrorMark.of(null) });
  document.body.dataset.view = 'compile';
  document.querySelector('.compiler').hidden = false;
}

function leaveCompile() {
  if (document.body.dataset.view !== 'compile') return;
  compileView.end();
  document.body.dataset.view = 'run';
  document.querySelector('.compiler').hidden = true;
  keepFragment();
}

const debuggerUI = new Debugger({
  editor,
  input,
  listing: panes.listing,
  worker: () => worker,
  restartWorker: () => startWorker(),
  workerReady: () => workerReady,
  busy: () => running,
  stop: () => stop(),
  keepFragment,
  leaveCompile: () => leaveCompile(),
  showStatus,
  showError,
  hideError: () => {
    errorBox.hidden = true;
  },
  setProgram,
  setOutput: (text) => {
    panes.output.textContent = text;
    panes.output.scrollTop = panes.output.scrollHeight;
  },
  clearPanes: () => {
    draw();
    for (const pane of Object.values(panes)) pane.textContent = '';
    errorBox.hidden = true;
    editor.dispatch({ effects: setErrorMark.of(null) });
    $('stop').disabled = false;
  },
});

const compileView = new CompileView({
  editor,
  worker: () => worker,
  restartWorker: () => startWorker(),
  workerReady: () => workerReady,
  busy: () => running,
  keepFragment,
  showStatus,
  showError,
  hideError: () => {
    errorBox.hidden = true;
  },
  enterCompile,
  leaveCompile,
});

const menu = $('examples');
for (const example of examples) menu.add(new Option(example.name, example.name));
menu.addEventListener('change', () => {
  const example = examples.find((e) => e.name === menu.value);
  if (example) load(example.source, example.input);
});
$('run').addEventListener('click', run);
$('stop').addEventListener('click', stop);
editor.contentDOM.addEventListener('keydown', (event) => {
  if (event.key === 'Enter' && (event.ctrlKey || event.metaKey)) {
    event.preventDefault();
    run();
  }
});

async function start() {
  const fragment = new URLSearchParams(location.hash.slice(1));
  try {
    if (fragment.has('code')) load(decodeText(fragment.get('code')), decodeText(fragment.get('input') ?? ''));
    else load(examples.find((e) => e.name === 'hello')?.source ?? '', '');
    const breaks = (fragment.get('break') ?? '').split(',').filter((b) => /^\*?[0-9]+$/.test(b));
    setBreakpoints(editor, breaks.filter((b) => !b.startsWith('*')).map(Number));
    for (const b of breaks.filter((b) => b.startsWith('*'))) debuggerUI.pcBreakpoints.add(Number(b.slice(1)));
  } catch {
    load('', '');
  }
  wasmModule = await window.tsumikiStart.module;
  startWorker(window.tsumikiStart.worker);
  await workerReady;
  $('run').disabled = false;
  showStatus('準備完了', 'ready', 'ready');
  debuggerUI.enable();
  compileView.enable();
  if (fragment.has('compile')) compileView.start(Number(fragment.get('step') ?? 0) || 0);
  else if (fragment.has('debug')) {
    const at = fragment.get('at') ?? '';
    const why = fragment.get('why') ?? '';
    if (/^[0-9]{1,15}$/.test(at)) debuggerUI.start(Number(at), Object.hasOwn(LINK_NOTES, why) ? LINK_NOTES[why] : null);
    else debuggerUI.start();
  }
  else if (fragment.has('run')) run();
}

start().catch((error) => showStatus(`読み込めませんでした: ${error}`, 'could not load', 'failed'));
