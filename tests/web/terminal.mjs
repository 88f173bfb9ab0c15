// The terminal debugger's answers for the walks the playground test takes
// through the examples: each walk is played in `tsumiki-inspect debug` with
// `bt` and `x` after every stop, and what those say is written as JSON for
// the browser test to hold the page's drawing against.
//
//   node terminal.mjs TSUMIKI_INSPECT EXAMPLES_DIR ANSWERS.json
//
// A stop's answer: the current line, the frames innermost first
// (`routine@base`), every named cell of 0..t (`index:name` -> value; an
// array element is `a[3]`, a function's result cell carries the function's
// name), and each called frame's static and dynamic links (`kind from->to`,
// cell indexes; the program's own frame has no caller and draws none).
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';

// The page's buttons and the terminal commands that do the same.
export const COMMANDS = { step: 's', next: 'n', finish: 'finish', back: 'rn', continue: 'c' };

// Each walk: an example, its breakpoints, and the buttons pressed after the
// session has stopped at the program's first statement.  Every stop along
// the way, the first one included, is compared.
export const WALKS = [
  {
    name: 'nested.tsu, statement by statement into add and out again',
    example: 'nested',
    breaks: [],
    presses: ['step', 'step', 'next', 'step', 'step', 'step', 'next', 'finish', 'back', 'back', 'step'],
  },
  {
    name: 'nested.tsu from breakpoint to breakpoint, over the second count',
    example: 'nested',
    breaks: [8, 27],
    presses: ['continue', 'continue', 'step', 'continue', 'next', 'step', 'continue'],
  },
  {
    name: 'recursion.tsu down fact to fact(0), back up, and into fib',
    example: 'recursion',
    breaks: [4, 9],
    presses: [...Array(11).fill('continue'), 'finish', 'finish', 'back', 'next', 'continue', 'continue', 'step'],
  },
];

const BACKTRACE = /^#(\d+)\s+(\S+) \(.*\) \S+:(\d+)\s+b=(\d+)$/;
const CELL = /^s\[\s*(\d+)\] = (-?\d+)\s+(.*)$/;

// What a cell's label from `x` makes of it: a link, or a name ('' for a
// return address, a temporary or a cell outside every frame).
function label(text) {
  let m = /^(静的リンク|動的リンク) \(#\d+ (\S+)\)$/.exec(text);
  if (m) return { link: m[1] === '静的リンク' ? 'static' : 'dynamic' };
  if (/^戻り番地 /.test(text)) return { name: '' };
  m = /^(\S+) の結果 \(#\d+\)$/.exec(text);
  if (m) return { name: m[1] };
  m = /^(\S+) \(#\d+ \S+\)$/.exec(text);
  if (m) return { name: m[1] };
  return { name: '' };
}

// Splits the terminal's transcript at its prompts and reads one stop from
// each `bt` and the `x` after it.
export function readStops(transcript) {
  const sections = transcript.split('(tsumiki) ').slice(1).map((s) => s.split('\n'));
  const stops = [];
  for (let i = 0; i < sections.length; i++) {
    const [command, ...lines] = sections[i];
    if (command !== 'bt') continue;
    const frames = [];
    let line = 0;
    for (const text of lines) {
      const m = BACKTRACE.exec(text);
      if (!m) continue;
      if (m[1] === '0') line = Number(m[3]);
      frames.push(`${m[2]}@${m[4]}`);
    }
    if (frames.length === 0) throw new Error(`no frames in: ${lines.join('\n')}`);
    const [xCommand, ...cells] = sections[i + 1] ?? [];
    if (xCommand !== 'x') throw new Error('bt not followed by x');
    const names = {};
    const links = [];
    for (const text of cells) {
      const m = CELL.exec(text);
      if (!m) continue;
      const [index, value, what] = [Number(m[1]), Number(m[2]), label(m[3])];
      if (what.link) {
        // Cells 0 and 1 are the program frame's, which has no caller.
        if (index > 1) links.push(`${what.link} ${index}->${value}`);
      } else if (what.name !== '') {
        names[`${index}:${what.name}`] = value;
      }
    }
    stops.push({ line, frames, names, links: links.sort() });
  }
  return stops;
}

// Plays a walk in the terminal debugger; its stops, the first one included.
export function terminalStops(inspect, examplesDir, walk) {
  const dir = mkdtempSync(join(tmpdir(), 'tsumiki-walk-'));
  try {
    const file = join(dir, `${walk.example}.tsu`);
    writeFileSync(file, readFileSync(join(examplesDir, `${walk.example}.tsu`)));
    const script = [
      ...walk.breaks.map((line) => `b ${line}`),
      'start', 'bt', 'x',
      ...walk.presses.flatMap((press) => [COMMANDS[press], 'bt', 'x']),
      'q', '',
    ].join('\n');
    const transcript = execFileSync(resolve(inspect), ['debug', '--utf8', file], { input: script, encoding: 'utf8', cwd: dir });
    const stops = readStops(transcript);
    if (stops.length !== walk.presses.length + 1) {
      throw new Error(`${walk.name}: ${stops.length} stops for ${walk.presses.length + 1}:\n${transcript}`);
    }
    return stops;
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

if (process.argv[1]?.endsWith('terminal.mjs')) {
  const [inspect, examplesDir, out] = process.argv.slice(2);
  const answers = WALKS.map((walk) => ({ ...walk, stops: terminalStops(inspect, examplesDir, walk) }));
  writeFileSync(out, `${JSON.stringify(answers, null, 1)}\n`);
}
