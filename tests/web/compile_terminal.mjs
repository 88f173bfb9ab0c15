// The terminal's answers for the walks the playground test takes through
// compiles: each walk is played in `tsumiki-inspect compile` with `bt`,
// `info symbols` and `info jumps` after every motion, and what those say is
// written as JSON for the browser test to hold the Compile view against.
//
//   node compile_terminal.mjs TSUMIKI_INSPECT EXAMPLES_DIR ANSWERS.json
//
// A stop's answer: the step the motion went to, the grammar routines under
// way innermost first (`name@line:column`), the live symbol table
// (`entry:name kind level place`, kind in the page's words, place a
// routine's code address or a name's offset) and the jumps still waiting
// for their backpatch (instruction indexes).
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';

// The page's motions and the terminal commands that do the same; `code N`
// is a click on instruction N of the code store, `reverse-until N` there.
export const COMPILE_COMMANDS = {
  token: 'n',
  routine: 's',
  emit: 'e',
  end: 'c',
  'back-token': 'rn',
  'back-routine': 'rs',
  'back-emit': 're',
  start: 'rc',
};

const command = (press) => (press.startsWith('code ') ? `ru ${press.slice(5)}` : COMPILE_COMMANDS[press]);

// Each walk: an example and the motions made from step 0.  Every stop is
// compared, step 0 included.
export const COMPILE_WALKS = [
  {
    name: 'nested.tsu: into the nested procedures, a backpatch, and back',
    example: 'nested',
    presses: [
      'token', 'routine', 'emit', 'emit', 'emit', 'emit', 'emit', 'token', 'routine', 'back-token',
      ...Array(14).fill('emit'), 'routine', 'routine', 'back-emit', 'back-routine', 'code 4', 'end', 'start',
    ],
  },
  {
    name: 'sort.tsu: arrays, a while loop backpatched, and the end',
    example: 'sort',
    presses: [...Array(12).fill('emit'), 'token', 'token', ...Array(70).fill('emit'), 'routine', ...Array(20).fill('token'), 'back-token', 'end', 'back-emit', 'code 79', 'code 1'],
  },
];

const STEP = /^#(\d+) /;
const BACKTRACE = /^#\d+\s+(\S+) \((\d+):(\d+)\)$/;
const SYMBOL = /^\s*(\d+): (\S+)  (変数|var 引数|配列 \[-?\d+\.\.-?\d+\]|手続き|関数)  レベル (-?\d+)  (?:オフセット|命令) (-?\d+)/;
const JUMP = /^(\d+): [A-Z]{3}\(-?\d+,-?\d+\)  <- /;
const KIND_WORDS = { 変数: 'variable', 'var 引数': 'var parameter', 手続き: 'procedure', 関数: 'function' };

// Splits the transcript at its prompts and reads one stop from each motion
// and the three commands after it.
export function readCompileStops(transcript) {
  const sections = transcript.split('(tsumiki) ').slice(1).map((s) => s.split('\n'));
  const stops = [];
  for (let i = 0; i + 3 < sections.length; i += 4) {
    const [, ...moved] = sections[i];
    const stepLine = moved.find((line) => STEP.test(line));
    const step = stepLine ? Number(STEP.exec(stepLine)[1]) : 0;
    const [bt, ...rules] = sections[i + 1];
    const [symbolsCommand, ...symbols] = sections[i + 2];
    const [jumpsCommand, ...jumps] = sections[i + 3];
    if (bt !== 'bt' || symbolsCommand !== 'info symbols' || jumpsCommand !== 'info jumps') throw new Error(`out of order at ${i}`);
    stops.push({
      step,
      routines: rules.map((line) => BACKTRACE.exec(line)).filter(Boolean).map((m) => `${m[1]}@${m[2]}:${m[3]}`),
      symbols: symbols.map((line) => SYMBOL.exec(line)).filter(Boolean)
        .map((m) => `${m[1]}:${m[2]} ${KIND_WORDS[m[3]] ?? 'array'} ${m[4]} ${m[5]}`),
      open: jumps.map((line) => JUMP.exec(line)).filter(Boolean).map((m) => Number(m[1])),
    });
  }
  return stops;
}

// Plays a walk in the terminal; its stops, step 0's first.
export function compileStops(inspect, examplesDir, walk) {
  const dir = mkdtempSync(join(tmpdir(), 'tsumiki-compile-'));
  try {
    const file = join(dir, `${walk.example}.tsu`);
    writeFileSync(file, readFileSync(join(examplesDir, `${walk.example}.tsu`)));
    const looks = ['bt', 'info symbols', 'info jumps'];
    // `rc` with no breakpoint goes to step 0: the first stop.
    const script = ['rc', ...looks, ...walk.presses.flatMap((press) => [command(press), ...looks]), 'q', ''].join('\n');
    const transcript = execFileSync(resolve(inspect), ['compile', '--utf8', file], { input: script, encoding: 'utf8', cwd: dir });
    const stops = readCompileStops(transcript);
    if (stops.length !== walk.presses.length + 1) {
      throw new Error(`${walk.name}: ${stops.length} stops for ${walk.presses.length + 1}:\n${transcript}`);
    }
    return stops;
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

if (process.argv[1]?.endsWith('compile_terminal.mjs')) {
  const [inspect, examplesDir, out] = process.argv.slice(2);
  const answers = COMPILE_WALKS.map((walk) => ({ ...walk, stops: compileStops(inspect, examplesDir, walk) }));
  writeFileSync(out, `${JSON.stringify(answers, null, 1)}\n`);
}
