// The worker's half of the debugger (worker.js loads it beside the
// module): it opens a debugging session in the module (debugger.cpp),
// makes the motions the page asks for, and answers with the state where
// the session stopped.
//
// From the page:  {type: 'debug', source, input, breakpoints, at}
//                                                                 open, stop at the first statement;
//                                                                 with `at`, once that many
//                                                                 instructions have run (a link's)
//                 {type: 'motion', motion}                        a motion (MOTIONS)
//                 {type: 'seek', position}                        to a step of the history
//                 {type: 'breakpoints', breakpoints}              [{line} or {pc}, ...]
//                 {type: 'pause'}                                 the motion under way stops
// To the page:    {type: 'program', program}                      the compiled program
//                 {type: 'debug-error', message, line, column, lost}
//                                                                 it does not compile; lost: nor
//                                                                 can this worker go on
//                 {type: 'moving'}                                a long motion is under way
//                 {type: 'stopped', state, output, breakpoints}
//
// A motion runs SLICE instructions at a time; between slices the worker
// reads its messages, so that Pause reaches a program that never ends.

const MOTIONS = [
  'stepi', 'step', 'next', 'finish', 'continue',
  'back-stepi', 'back-step', 'back-next', 'back-finish', 'back-continue',
];
const SLICE = 200000;

let debugMoving = false;
let pauseWanted = false;
let outputSent = -1; // bytes of output the page was last given
let debugOpen = false;

function moduleText(at) {
  const heap = tsumiki.HEAPU8;
  let end = at;
  while (heap[end] !== 0) end++;
  return new TextDecoder().decode(heap.subarray(at, end));
}

function moduleJson(at) {
  return JSON.parse(moduleText(at));
}

// Sets the page's breakpoints; answers with where each went (a line
// breakpoint moves to the next line with a statement; one that has none
// is left out).
function setBreakpoints(list) {
  tsumiki._tsu_debug_clear_breakpoints();
  const placed = [];
  for (const bp of list) {
    if (bp.line !== undefined) {
      const line = tsumiki._tsu_debug_break_line(bp.line);
      if (line > 0) placed.push({ line, asked: bp.line });
    } else if (tsumiki._tsu_debug_break_pc(bp.pc)) {
      placed.push({ pc: bp.pc });
    }
  }
  return placed;
}

const nextTurn = () => new Promise((resolve) => setTimeout(resolve, 0));

function report(state, breakpoints) {
  let output = null;
  if (state.output !== outputSent) {
    const size = tsumiki._tsu_debug_output_size();
    const at = tsumiki._tsu_debug_output();
    output = new TextDecoder().decode(tsumiki.HEAPU8.subarray(at, at + size));
    outputSent = state.output;
  }
  postMessage({ type: 'stopped', state, output, breakpoints });
}

// Makes a motion to its end, slice by slice.
async function move(first) {
  debugMoving = true;
  pauseWanted = false;
  let state = first();
  if (state.reason === 'budget') postMessage({ type: 'moving' });
  while (state.reason === 'budget') {
    await nextTurn();
    if (pauseWanted) tsumiki._tsu_debug_pause();
    pauseWanted = false;
    state = moduleJson(tsumiki._tsu_debug_resume(SLICE));
  }
  debugMoving = false;
  return state;
}

async function openSession({ source, input, breakpoints, at }) {
  let opened;
  try {
    opened = withBytes(source, (s, n) => withBytes(input, (i, m) => moduleJson(tsumiki._tsu_debug_open(s, n, i, m))));
  } catch (thrown) {
    // As for a run (worker.js): the browser's own stack ran out in the
    // compiler, and this module is past use.
    if (!(thrown instanceof RangeError)) throw thrown;
    postMessage({ type: 'debug-error', error: 3, message: tooDeep, line: 0, column: 0, lost: true });
    close();
    return;
  }
  if (opened.error !== 0) {
    debugOpen = false;
    postMessage({ type: 'debug-error', ...opened });
    return;
  }
  debugOpen = true;
  outputSent = -1;
  postMessage({ type: 'program', program: moduleJson(tsumiki._tsu_debug_program()) });
  const placed = setBreakpoints(breakpoints);
  // From the entry (before the jump over the routines) to the first
  // statement, or forward to the instruction a link names.
  const state = await move(() =>
    moduleJson(at === undefined ? tsumiki._tsu_debug_run(MOTIONS.indexOf('step'), SLICE) : tsumiki._tsu_debug_run_to(at, SLICE)));
  report(state, placed);
}

// Handles a debugger's message; false for one that is not.
function debugMessage(message) {
  switch (message.type) {
  case 'debug':
    if (!debugMoving) openSession(message);
    return true;
  case 'pause':
    pauseWanted = debugMoving;
    return true;
  case 'motion':
    if (debugOpen && !debugMoving) {
      const motion = MOTIONS.indexOf(message.motion);
      move(() => moduleJson(tsumiki._tsu_debug_run(motion, SLICE))).then((state) => report(state));
    }
    return true;
  case 'seek':
    if (debugOpen && !debugMoving)
      move(() => moduleJson(tsumiki._tsu_debug_seek(message.position, SLICE))).then((state) => report(state));
    return true;
  case 'breakpoints':
    if (debugOpen && !debugMoving) postMessage({ type: 'breakpoints', breakpoints: setBreakpoints(message.breakpoints) });
    return true;
  default:
    return false;
  }
}
