// The listing, one row per instruction, drawn from the compiled program
// (program_json.hpp): "i: OPC(l,a)" as the compiler lists it.  Each source
// line with code gets a hue, and its instructions the same one; pointing at
// either side lights up the other.  A row's mark sets a breakpoint on its
// instruction, and its title says what the instruction does.
const HUES = 8;

// The source line an instruction belongs to: where its innermost
// statement starts, or its own construct's line outside every statement.
export function lineOfInstruction(program, pc) {
  const s = program.statementOf[pc];
  return s >= 0 ? program.statements[s][0] : program.line[pc];
}

// [[line, hue], ...] for the editor, and each instruction's hue.
export function hues(program) {
  const lines = [...new Set(program.code.map((_, pc) => lineOfInstruction(program, pc)))]
    .filter((line) => line > 0)
    .sort((a, b) => a - b);
  const hueOf = new Map(lines.map((line, k) => [line, k % HUES]));
  return { lines: lines.map((line) => [line, hueOf.get(line)]), hueOf };
}

function effectText(program, op) {
  const [symbols, english, japanese] = program.effects[op] ?? ['', '', ''];
  return `${japanese}\n${english}\n${symbols}`;
}

// Fills `pane` with the rows; `events` has onPoint(line or null),
// onToggle(pc).  With `sourceLines` (the program's text, line by line),
// each source line comes above the instructions compiled for it, as
// `tsumiki-inspect list --source` prints it: the lines without code with
// the next line that has some, and a line again wherever the code goes
// back to it.
export function drawListing(pane, program, events, sourceLines = null) {
  const { hueOf } = hues(program);
  const rows = document.createDocumentFragment();
  let shownLine = 0; // the source line shown last
  let highest = 0; // and the furthest shown
  program.code.forEach(([op, l, a], pc) => {
    const row = document.createElement('div');
    const line = lineOfInstruction(program, pc);
    if (sourceLines !== null && line > 0 && line !== shownLine) {
      // Going on: the lines not shown yet up to this one (declarations
      // among them); going back: this line again.
      const from = line > highest ? highest + 1 : line;
      for (let n = from; n <= line; n++) {
        const source = document.createElement('div');
        source.className = 'src-line';
        source.textContent = `${String(n).padStart(5)} | ${sourceLines[n - 1] ?? ''}`;
        rows.append(source);
      }
      shownLine = line;
      highest = Math.max(highest, line);
    }
    row.className = `ins hue${hueOf.get(line) ?? ''}`;
    row.dataset.pc = pc;
    row.dataset.line = line;
    row.title = effectText(program, op);
    const mark = document.createElement('span');
    mark.className = 'bp-mark';
    mark.title = 'ブレークポイント / breakpoint';
    row.append(mark, `${pc}: ${program.mnemonics[op] ?? '???'}(${l},${a})`);
    rows.append(row);
  });
  pane.replaceChildren(rows);
  pane.onclick = (event) => {
    const mark = event.target.closest('.bp-mark');
    if (mark) events.onToggle(Number(mark.parentElement.dataset.pc));
  };
  pane.onmouseover = (event) => {
    const row = event.target.closest('.ins');
    events.onPoint(row ? Number(row.dataset.line) : null);
  };
  pane.onmouseleave = () => events.onPoint(null);
}

// Lights up the rows of one source line (null: none).
export function linkListing(pane, line) {
  for (const row of pane.querySelectorAll('.ins.linked')) row.classList.remove('linked');
  if (line === null) return;
  for (const row of pane.querySelectorAll(`.ins[data-line="${line}"]`)) row.classList.add('linked');
}

export function markInstructionBreakpoints(pane, pcs) {
  for (const row of pane.querySelectorAll('.ins.has-bp')) row.classList.remove('has-bp');
  for (const pc of pcs) pane.querySelector(`.ins[data-pc="${pc}"]`)?.classList.add('has-bp');
}

// The instruction the machine runs next (null: none).
export function markCurrentInstruction(pane, pc) {
  for (const row of pane.querySelectorAll('.current-instruction')) {
    row.classList.remove('current-instruction');
    delete row.dataset.current;
  }
  if (pc === null) return;
  const row = pane.querySelector(`.ins[data-pc="${pc}"]`);
  if (!row) return;
  row.classList.add('current-instruction');
  const top = row.offsetTop - pane.offsetTop;
  if (top < pane.scrollTop || top > pane.scrollTop + pane.clientHeight - row.offsetHeight)
    pane.scrollTop = top - pane.clientHeight / 2;
}
