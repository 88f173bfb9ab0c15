// Runs programs for the page, off its thread, so that a program that never
// ends never freezes the page: the page ends a run by ending this worker.
//
// From the page:  {type: 'init', module}  the compiled WebAssembly module
//                 {type: 'run', source, input, trace, check}
//                 the debugger's (debugger.js), the Compile view's (compiler.js)
// To the page:    {type: 'ready'}
//                 {type: 'text', pane, text, echoes}  output or trace, as it
//                                   comes; for the output, the number each read
//                                   took, [at, number], `at` counted in `text`
//                 {type: 'program', program}  the compiled program, for the listing
//                 {type: 'done', phase, end, message, line, column, hint, warnings, ms,
//                  runMs, steps}
//                   (end: how the run ended, by the library's name for it; ms
//                   from the request to the end, runMs the run alone, steps
//                   the instructions it began)
importScripts('tsumiki.js', 'debugger.js', 'compiler.js');

const PANES = ['output', 'listing', 'trace'];

// A pane gets at most this many characters of a run: a program that
// prints for ever must not use up the page's memory.
const PANE_MAX = 1 << 20;
const CUT = '\n… (以下省略 / the rest is not shown)\n';

// While a program runs this worker gets no chance of its own to send: text
// goes on from the module's calls, onText with each piece and onPulse every
// few thousand instructions however the run goes on (playground.cpp).  Text
// goes at once when nothing went for HOLD_MS; past that it is held until
// HOLD_MS have passed, so that a program printing line after line sends a
// few dozen messages a second, not one per line, and nothing waits longer
// than HOLD_MS and a pulse.
const HOLD_MS = 20;

let tsumiki = null;
let tooDeep = ''; // the compiler's message for nesting too deep
let decoders = [];
let pending = ['', '', ''];
let pendingEchoes = []; // the output's, as [at, number], `at` in pending[0]
let held = false; // whether pending has text
let kept = [0, 0, 0]; // characters of each pane so far
let lastSent = -Infinity;

function send() {
  PANES.forEach((pane, i) => {
    const echoes = i === 0 ? pendingEchoes : [];
    if (pending[i] !== '' || echoes.length > 0) postMessage({ type: 'text', pane, text: pending[i], echoes });
    pending[i] = '';
  });
  pendingEchoes = [];
  held = false;
  lastSent = performance.now();
}

function sendWhenDue() {
  if (held && performance.now() - lastSent >= HOLD_MS) send();
}

// Called by the module (playground.cpp) with each piece of a pane's text.
function onText(pane, bytes) {
  if (kept[pane] <= PANE_MAX) {
    let text = decoders[pane].decode(bytes, { stream: true });
    kept[pane] += text.length;
    if (kept[pane] > PANE_MAX) text = text.slice(0, text.length - (kept[pane] - PANE_MAX)) + CUT;
    pending[pane] += text;
    held ||= text !== '';
  }
  sendWhenDue();
}

// Called by the module with the number a read took, right after the text
// of its prompt: the page shows it there (main.js).  It counts against the
// output's characters as its digits and a line break would; one that does
// not fit is left out, and the cut is the output's own.
function onEcho(number) {
  const size = String(number).length + 1;
  if (kept[0] + size <= PANE_MAX) {
    kept[0] += size;
    pendingEchoes.push([pending[0].length, number]);
    held = true;
  }
  sendWhenDue();
}

// Called by the module every few thousand instructions of a run.
function onPulse() {
  sendWhenDue();
}

// Calls fn with the text's UTF-8 bytes placed in the module's memory.
function withBytes(text, fn) {
  const bytes = new TextEncoder().encode(text);
  const at = tsumiki._malloc(bytes.length + 1);
  tsumiki.HEAPU8.set(bytes, at);
  try {
    return fn(at, bytes.length);
  } finally {
    tsumiki._free(at);
  }
}

// A C string of the module's, as text.
function text(at) {
  const heap = tsumiki.HEAPU8;
  let end = at;
  while (heap[end] !== 0) end++;
  return new TextDecoder().decode(heap.subarray(at, end));
}

function lastError() {
  return {
    message: text(tsumiki._tsu_message()),
    line: tsumiki._tsu_line(),
    column: tsumiki._tsu_column(),
    hint: text(tsumiki._tsu_hint()),
  };
}

function run({ source, input, trace, check }) {
  const started = performance.now();
  decoders = PANES.map(() => new TextDecoder());
  kept = [0, 0, 0];
  pendingEchoes = [];
  let error;
  try {
    error = withBytes(source, (at, n) => tsumiki._tsu_compile(at, n));
  } catch (thrown) {
    // The compiler keeps within the module's stack, but the browser may
    // give its own calls less room than a deeply nested program needs.
    // This module is then past use: the page makes a new worker.
    if (!(thrown instanceof RangeError)) throw thrown;
    postMessage({ type: 'done', phase: 'compile', message: tooDeep, line: 0, column: 0, hint: '',
                  ms: performance.now() - started, lost: true });
    close();
    return;
  }
  if (error !== 0) {
    postMessage({ type: 'done', phase: 'compile', ...lastError(), ms: performance.now() - started });
    return;
  }
  const warnings = text(tsumiki._tsu_warnings());
  // The whole program, for its listing, before the run starts.
  postMessage({ type: 'program', program: moduleJson(tsumiki._tsu_program()) });
  const runStarted = performance.now();
  const end = text(withBytes(input, (at, n) => tsumiki._tsu_run(at, n, trace ? 1 : 0, check ? 1 : 0)));
  const runMs = performance.now() - runStarted;
  PANES.forEach((pane, i) => {
    if (kept[i] <= PANE_MAX) pending[i] += decoders[i].decode();
  });
  send();
  postMessage({ type: 'done', phase: 'run', end, ...lastError(), warnings,
                ms: performance.now() - started, runMs, steps: tsumiki._tsu_steps() });
}

async function init(request) {
  tsumiki = await createTsumiki({
    onText,
    onEcho,
    onPulse,
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(request.module, imports).then((instance) => receive(instance));
      return {};
    },
  });
  tsumiki._tsu_nesting_message();
  tooDeep = lastError().message;
  postMessage({ type: 'ready' });
}

onmessage = (event) => {
  if (event.data.type === 'init') init(event.data);
  else if (event.data.type === 'run') run(event.data);
  else if (!compileMessage(event.data)) debugMessage(event.data);
};
