// The debugger's controls: Debug starts a session in the worker, stopped
// at the program's first statement; the buttons and keys make motions;
// the slider goes to any step of the history.  Each stop is drawn: the
// current line in the editor, the current instruction in the listing, the
// stack, and the output as it was at that step.
//
// Keys, as editors have them: F5 continue, F10 next, F11 step, Shift+F11
// finish, Shift+F10 step back (over calls, the reverse of F10), F9 a
// breakpoint on the cursor's line, Shift+F5 stop.
import { breakpointLines, setBreakpoints, showCurrentLine, toggleBreakpointAt } from './marks.js';
import { markCurrentInstruction, markInstructionBreakpoints } from './listing.js';
import { StackView } from './stack.js';

const BUTTONS = {
  step: 'step',
  next: 'next',
  finish: 'finish',
  back: 'back-next',
  continue: 'continue',
  stepi: 'stepi',
  backi: 'back-stepi',
  'back-continue': 'back-continue',
};

const REASONS = {
  entry: ['開始', 'started'],
  step: ['停止中', 'stopped'],
  breakpoint: ['ブレークポイントで停止', 'stopped at a breakpoint'],
  error: ['実行時エラーの直前で停止', 'stopped before a run-time error'],
  check: ['停止中', 'stopped'],
  paused: ['一時停止', 'paused'],
  exited: ['実行を終えました', 'the run has ended'],
  'history-start': ['履歴の先頭', 'at the start of the history'],
  refused: ['できません', 'not possible here'],
};

export class Debugger {
  // page: what the page lends it (main.js): its editor, input and listing,
  // its worker, and the ways it shows things.
  constructor(page) {
    this.page = page;
    this.active = false;
    this.moving = false;
    this.program = null;
    this.state = null;
    this.pcBreakpoints = new Set();
    this.seekWanted = null;
    this.stack = new StackView(document.getElementById('stack'));
    this.slider = document.getElementById('history');
    this.stepCount = document.getElementById('history-step');
    document.getElementById('debug').addEventListener('click', () => this.start());
    for (const [id, motion] of Object.entries(BUTTONS))
      document.getElementById(id).addEventListener('click', () => this.motion(motion));
    document.getElementById('pause').addEventListener('click', () => this.pause());
    this.slider.addEventListener('input', () => this.seek(Number(this.slider.value)));
    document.addEventListener('keydown', (event) => this.key(event));
    this.enable();
  }

  key(event) {
    const keys = {
      F5: event.shiftKey ? () => this.page.stop() : () => (this.active ? this.motion('continue') : this.start()),
      F10: () => this.motion(event.shiftKey ? 'back-next' : 'next'),
      F11: () => this.motion(event.shiftKey ? 'finish' : 'step'),
      F9: () => toggleBreakpointAt(this.page.editor, this.page.editor.state.selection.main.head),
    };
    const action = keys[event.key];
    if (!action) return;
    event.preventDefault();
    action();
  }

  // The breakpoints for the worker and the share link.
  breakpoints() {
    return [
      ...breakpointLines(this.page.editor.state).map((line) => ({ line })),
      ...[...this.pcBreakpoints].map((pc) => ({ pc })),
    ];
  }

  breakpointsChanged() {
    markInstructionBreakpoints(this.page.listing, this.pcBreakpoints);
    if (this.active && !this.moving) this.page.worker().postMessage({ type: 'breakpoints', breakpoints: this.breakpoints() });
    this.page.keepFragment();
  }

  toggleInstruction(pc) {
    if (this.pcBreakpoints.has(pc)) this.pcBreakpoints.delete(pc);
    else this.pcBreakpoints.add(pc);
    this.breakpointsChanged();
  }

  enable() {
    const stopped = this.active && !this.moving;
    const ended = this.state?.ended ?? false;
    for (const id of ['step', 'next', 'finish', 'continue', 'stepi'])
      document.getElementById(id).disabled = !stopped || ended;
    for (const id of ['back', 'backi', 'back-continue'])
      document.getElementById(id).disabled = !stopped || (this.state?.position ?? 0) <= (this.state?.oldest ?? 0);
    document.getElementById('pause').disabled = !(this.active && this.moving);
    document.getElementById('debug').disabled = this.page.busy() && !this.active;
    this.slider.disabled = !this.active;
    document.body.dataset.debug = this.active ? (this.moving ? 'moving' : 'stopped') : 'off';
  }

  // at: forward until that many instructions have run rather than to the
  // first statement; note: a sentence the status shows at that first stop
  // (why a link opened the run there).
  async start(at, note = null) {
    if (this.page.busy() && !this.active) return;
    this.page.leaveCompile();
    // A session under way ends first (its worker too, if it is moving).
    if (this.active) this.page.stop();
    this.active = true;
    this.moving = true;
    this.state = null;
    this.note = note;
    this.stack.reset();
    this.page.clearPanes();
    this.page.showStatus('デバッグ開始…', 'starting the debugger…', 'debugging');
    this.enable();
    await this.page.workerReady();
    this.page.worker().postMessage({
      type: 'debug',
      source: this.page.editor.state.doc.toString(),
      input: this.page.input.value,
      breakpoints: this.breakpoints(),
      ...(at === undefined ? {} : { at }),
    });
  }

  // The session is over (Stop, or a new run): the drawing stays, the marks go.
  end() {
    this.active = false;
    this.moving = false;
    showCurrentLine(this.page.editor, null);
    markCurrentInstruction(this.page.listing, null);
    this.enable();
  }

  motion(motion) {
    if (!this.active || this.moving) return;
    if (motion === 'finish' && this.state && this.state.frames.length <= 1) {
      this.page.showStatus('一番外側のフレームです', 'already in the outermost frame', 'debugging');
      return;
    }
    this.moving = true;
    this.enable();
    this.page.worker().postMessage({ type: 'motion', motion });
  }

  pause() {
    if (this.active && this.moving) this.page.worker().postMessage({ type: 'pause' });
  }

  seek(position) {
    if (!this.active) return;
    if (this.moving) {
      this.seekWanted = position;
      return;
    }
    this.moving = true;
    this.enable();
    this.page.worker().postMessage({ type: 'seek', position });
  }

  // A message from the worker that is the debugger's; false if not.
  fromWorker(message) {
    if (!this.active) return false;
    switch (message.type) {
    case 'program':
      this.program = message.program;
      this.page.setProgram(message.program);
      markInstructionBreakpoints(this.page.listing, this.pcBreakpoints);
      return true;
    case 'debug-error':
      this.end();
      if (message.lost) this.page.restartWorker();
      this.page.showError(message.message, message);
      this.page.showStatus('コンパイルエラー', 'compile error', 'done');
      return true;
    case 'moving':
      this.page.showStatus('実行中…', 'running…', 'debugging');
      return true;
    case 'breakpoints':
      this.placed(message.breakpoints);
      return true;
    case 'stopped':
      this.stopped(message);
      return true;
    default:
      return false;
    }
  }

  // Line breakpoints go where the session put them: a line without a
  // statement's start moves to the next that has one.
  placed(list) {
    if (!list) return;
    const lines = list.filter((bp) => bp.line !== undefined).map((bp) => bp.line);
    const asked = breakpointLines(this.page.editor.state);
    if (asked.length !== lines.length || asked.some((line, k) => line !== lines[k])) {
      setBreakpoints(this.page.editor, lines);
      this.page.keepFragment();
    }
  }

  stopped({ state, output, breakpoints }) {
    this.moving = false;
    this.state = state;
    this.placed(breakpoints);
    if (output !== null) this.page.setOutput(output);
    const pc = state.pc;
    const line = this.program && pc >= 0 && pc < this.program.code.length ? this.program.line[pc] : 0;
    const statement = this.program && pc < this.program.code.length ? this.program.statementOf[pc] : -1;
    const statementLine = statement >= 0 ? this.program.statements[statement][0] : line;
    // The instruction about to run is marked on what it computes.
    const range = line > 0 && this.program.range ? this.program.range[pc] : null;
    showCurrentLine(this.page.editor, statementLine > 0 ? { line: statementLine, error: state.reason === 'error', range } : null);
    markCurrentInstruction(this.page.listing, state.ended ? null : pc);
    this.stack.draw(this.program, state);
    this.slider.min = state.oldest;
    this.slider.max = state.furthest;
    this.slider.value = state.position;
    this.stepCount.textContent = `${state.position} / ${state.furthest}`;
    this.page.hideError();
    if (state.reason === 'error' || (state.reason === 'exited' && state.message !== '')) this.page.showError(state.message, { line: 0, column: 0 });
    if (state.reason === 'refused') this.page.showError(state.refusal, { line: 0, column: 0 });
    const [japanese, english] = REASONS[state.reason] ?? REASONS.step;
    const where = state.ended ? '' : ` — ${statementLine} 行目 / line ${statementLine}, p = ${pc}`;
    // The history keeps a bounded number of bytes: past it the oldest steps go.
    const dropped = state.dropped > 0 ? [` (古い ${state.dropped} 歩の履歴は捨てました)`, ` (the oldest ${state.dropped} steps are no longer kept)`] : ['', ''];
    // A link's note, at the stop it opened the run at.
    const note = this.note ?? ['', ''];
    this.note = null;
    this.page.showStatus(`${japanese}${where}${dropped[0]}${note[0]}`, `${english}${dropped[1]}${note[1]}`, state.ended ? 'debug-ended' : 'debugging');
    document.body.dataset.reason = state.reason;
    document.body.dataset.position = state.position;
    this.enable();
    if (this.seekWanted !== null) {
      const position = this.seekWanted;
      this.seekWanted = null;
      if (position !== state.position) this.seek(position);
    }
  }
}
