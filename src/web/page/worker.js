// Runs programs for the page, off its thread, so that a program that never
// ends never freezes the page: the page ends a run by ending this worker.
//
// From the page:  {type: 'init', module}  the compiled WebAssembly module
//                 {type: 'run', source, input, trace}
// To the page:    {type: 'ready'}
//                 {type: 'text', pane, text}  output, listing or trace, as it comes
//                 {type: 'done', phase, end, message, line, column, ms}
importScripts('tsumiki.js');

const PANES = ['output', 'listing', 'trace'];
// Text is sent on at most this often (ms), so that a program printing
// line after line doesn't flood the page with messages.
const SEND_EVERY = 30;

let tsumiki = null;
let decoders = [];
let pending = ['', '', ''];
let sentAt = 0;

function send() {
  PANES.forEach((pane, i) => {
    if (pending[i] !== '') postMessage({ type: 'text', pane, text: pending[i] });
    pending[i] = '';
  });
  sentAt = performance.now();
}

// Called by the module (playground.cpp) with each piece of a pane's text.
function onText(pane, bytes) {
  pending[pane] += decoders[pane].decode(bytes, { stream: true });
  if (performance.now() - sentAt >= SEND_EVERY) send();
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

function lastError() {
  const heap = tsumiki.HEAPU8;
  const at = tsumiki._tsu_message();
  let end = at;
  while (heap[end] !== 0) end++;
  return {
    message: new TextDecoder().decode(heap.subarray(at, end)),
    line: tsumiki._tsu_line(),
    column: tsumiki._tsu_column(),
  };
}

function run({ source, input, trace }) {
  const started = performance.now();
  decoders = PANES.map(() => new TextDecoder());
  const error = withBytes(source, (at, n) => tsumiki._tsu_compile(at, n));
  if (error !== 0) {
    postMessage({ type: 'done', phase: 'compile', ...lastError(), ms: performance.now() - started });
    return;
  }
  tsumiki._tsu_list();
  const end = withBytes(input, (at, n) => tsumiki._tsu_run(at, n, trace ? 1 : 0));
  PANES.forEach((pane, i) => (pending[i] += decoders[i].decode()));
  send();
  postMessage({ type: 'done', phase: 'run', end, ...lastError(), ms: performance.now() - started });
}

onmessage = async (event) => {
  const request = event.data;
  if (request.type === 'init') {
    tsumiki = await createTsumiki({
      onText,
      instantiateWasm(imports, receive) {
        WebAssembly.instantiate(request.module, imports).then((instance) => receive(instance));
        return {};
      },
    });
    postMessage({ type: 'ready' });
  } else if (request.type === 'run') {
    run(request);
  }
};
