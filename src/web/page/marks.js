// What the debugger puts on the editor: breakpoints in a gutter beside the
// line numbers (a click sets or clears one), the current statement's line,
// each statement's colour (the same as its instructions' in the listing),
// and the source of the instruction pointed at in the listing.
import { RangeSet, StateEffect, StateField } from '@codemirror/state';
import { Decoration, EditorView, GutterMarker, gutter } from '@codemirror/view';

class BreakpointMarker extends GutterMarker {
  toDOM() {
    const dot = document.createElement('span');
    dot.className = 'breakpoint';
    dot.textContent = '●';
    return dot;
  }
}
const breakpointMarker = new BreakpointMarker();

// {pos, on}: a breakpoint on the line at pos set or cleared; {lines}: these
// lines' breakpoints, and no others.
const toggleBreakpoint = StateEffect.define({ map: (v, changes) => ({ pos: changes.mapPos(v.pos), on: v.on }) });
const setBreakpointLines = StateEffect.define();

const breakpointField = StateField.define({
  create: () => RangeSet.empty,
  update(set, transaction) {
    set = set.map(transaction.changes);
    for (const effect of transaction.effects) {
      if (effect.is(toggleBreakpoint)) {
        const { pos, on } = effect.value;
        const from = transaction.state.doc.lineAt(pos).from;
        set = set.update({ filter: (f) => f !== from });
        if (on) set = set.update({ add: [breakpointMarker.range(from)] });
      } else if (effect.is(setBreakpointLines)) {
        const doc = transaction.state.doc;
        const starts = [...new Set(effect.value.filter((l) => l >= 1 && l <= doc.lines))]
          .sort((a, b) => a - b)
          .map((l) => breakpointMarker.range(doc.line(l).from));
        set = RangeSet.of(starts);
      }
    }
    return set;
  },
});

function hasBreakpoint(state, pos) {
  let found = false;
  state.field(breakpointField).between(pos, pos, () => {
    found = true;
  });
  return found;
}

// The lines (from 1) that carry a breakpoint.
export function breakpointLines(state) {
  const lines = [];
  const cursor = state.field(breakpointField).iter();
  for (; cursor.value !== null; cursor.next()) lines.push(state.doc.lineAt(cursor.from).number);
  return lines;
}

// Whether an editor update set or cleared a breakpoint, or moved one.
export function breakpointsChanged(update) {
  return update.startState.field(breakpointField) !== update.state.field(breakpointField);
}

export function setBreakpoints(view, lines) {
  view.dispatch({ effects: setBreakpointLines.of(lines) });
}

export function toggleBreakpointAt(view, pos) {
  const from = view.state.doc.lineAt(pos).from;
  view.dispatch({ effects: toggleBreakpoint.of({ pos: from, on: !hasBreakpoint(view.state, from) }) });
}

const breakpointGutter = [
  breakpointField,
  gutter({
    class: 'cm-breakpoint-gutter',
    markers: (view) => view.state.field(breakpointField),
    initialSpacer: () => breakpointMarker,
    domEventHandlers: {
      mousedown(view, line) {
        toggleBreakpointAt(view, line.from);
        return true;
      },
    },
  }),
];

// Where in a line of the document a column of the compiler stands: the
// compiler counts bytes of UTF-8, the editor UTF-16 code units.
function offsetInLine(text, column) {
  let bytes = 0;
  let offset = 0;
  for (const c of text) {
    if (bytes >= column - 1) break;
    const code = c.codePointAt(0);
    bytes += code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    offset += c.length;
  }
  return offset;
}

// The stretch [line, column, endLine, endColumn] (the end just past it) as
// editor positions, or null when it lies outside the document.
function rangePositions(doc, range) {
  const [line, column, endLine, endColumn] = range;
  if (!(line >= 1 && endLine >= line && endLine <= doc.lines && column >= 1 && endColumn >= 1)) return null;
  const first = doc.line(line);
  const last = doc.line(endLine);
  const from = first.from + offsetInLine(first.text, column);
  const to = last.from + offsetInLine(last.text, endColumn);
  return from < to ? { from, to } : null;
}

// The current statement's line, {line} or null; with `range`, the
// stretch of source the current instruction computes is marked in it.
const setCurrent = StateEffect.define();
const currentField = StateField.define({
  create: () => Decoration.none,
  update(marks, transaction) {
    for (const effect of transaction.effects) {
      if (!effect.is(setCurrent)) continue;
      const where = effect.value;
      const doc = transaction.state.doc;
      if (where === null || where.line < 1 || where.line > doc.lines) return Decoration.none;
      const attributes = { class: `current-line${where.error ? ' current-error' : ''}`, 'data-line': String(where.line) };
      const marks = [Decoration.line({ attributes }).range(doc.line(where.line).from)];
      const span = where.range ? rangePositions(doc, where.range) : null;
      if (span !== null)
        marks.push(Decoration.mark({ class: 'current-range', attributes: { 'data-range': where.range.join(',') } }).range(span.from, span.to));
      return Decoration.set(marks, true);
    }
    return transaction.docChanged ? Decoration.none : marks;
  },
  provide: (field) => EditorView.decorations.from(field),
});

export function showCurrentLine(view, where) {
  const effects = [setCurrent.of(where)];
  if (where !== null && where.line >= 1 && where.line <= view.state.doc.lines)
    effects.push(EditorView.scrollIntoView(view.state.doc.line(where.line).from, { y: 'nearest' }));
  view.dispatch({ effects });
}

// Each line's colour: [[line, hue], ...]; and the lines pointed at.
const setHues = StateEffect.define();
const setLinked = StateEffect.define();

function lineDecorations(doc, list, attributesOf) {
  const ranges = [];
  for (const [line, value] of [...list].sort((x, y) => x[0] - y[0]))
    if (line >= 1 && line <= doc.lines) ranges.push(Decoration.line({ attributes: attributesOf(value) }).range(doc.line(line).from));
  return Decoration.set(ranges, true);
}

function lineField(effectType, attributesOf) {
  return StateField.define({
    create: () => Decoration.none,
    update(marks, transaction) {
      for (const effect of transaction.effects)
        if (effect.is(effectType)) return lineDecorations(transaction.state.doc, effect.value, attributesOf);
      return transaction.docChanged ? Decoration.none : marks;
    },
    provide: (field) => EditorView.decorations.from(field),
  });
}

const hueField = lineField(setHues, (hue) => ({ class: `hue hue${hue}` }));
const linkedField = lineField(setLinked, () => ({ class: 'linked' }));

export function showHues(view, list) {
  view.dispatch({ effects: setHues.of(list) });
}

export function showLinked(view, lines) {
  view.dispatch({ effects: setLinked.of(lines.map((line) => [line, true])) });
}

export const debugMarks = [breakpointGutter, currentField, hueField, linkedField];
