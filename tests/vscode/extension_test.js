// The VS Code extension in editors/vscode, against the real programs (the
// paths in $TSUMIKI_LSP and $TSUMIKI_DAP).  VS Code itself is not here, so
// stand-in modules for "vscode" and "vscode-languageclient/node" take what
// the extension registers; the test then plays the editor: F5 with and
// without a launch.json, with the programs found and missing, and checks
// that every launch configuration the extension offers uses only the
// attributes it declares.
//
//   TSUMIKI_LSP=build/ci/tsumiki-lsp TSUMIKI_DAP=build/ci/tsumiki-dap node extension_test.js
//
// Exits 0 when every check passes, 1 with the reasons otherwise.
'use strict';
const assert = require('assert');
const Module = require('module');
const path = require('path');

const extension_dir = path.join(__dirname, '..', '..', 'editors', 'vscode');
const manifest = require(path.join(extension_dir, 'package.json'));

// What the extension did to the editor, reset by each check.
let editor;
function fresh_editor(settings, active_language) {
  editor = {
    settings,
    errors: [],
    notes: [],
    providers: {},
    factories: {},
    clients: [],
    listeners: [],
    refreshed: 0,
    active: active_language ? { document: { languageId: active_language } } : undefined
  };
}

const vscode = {
  workspace: {
    getConfiguration: (section) => ({ get: (key) => editor.settings[`${section}.${key}`] }),
    onDidChangeConfiguration: (listener) => {
      editor.listeners.push(listener);
      return { dispose() {} };
    }
  },
  window: {
    get activeTextEditor() { return editor.active; },
    get visibleTextEditors() { return editor.active ? [editor.active] : []; },
    createOutputChannel: () => ({ dispose() {}, clear() {}, appendLine() {}, append() {}, show() {} }),
    showErrorMessage: (text) => { editor.errors.push(text); return Promise.resolve(undefined); },
    showInformationMessage: (text) => { editor.notes.push(text); return Promise.resolve(undefined); }
  },
  commands: { registerCommand: () => ({ dispose() {} }), executeCommand: () => Promise.resolve() },
  debug: {
    registerDebugConfigurationProvider: (type, provider) => {
      editor.providers[type] = provider;
      return { dispose() {} };
    },
    registerDebugAdapterDescriptorFactory: (type, factory) => {
      editor.factories[type] = factory;
      return { dispose() {} };
    }
  },
  DebugAdapterExecutable: class {
    constructor(command, args) { this.command = command; this.args = args; }
  }
};
const languageclient = {
  LanguageClient: class {
    constructor(id, name, server, options) { this.server = server; this.options = options; editor.clients.push(this); }
    start() { this.started = true; }
    // One inlay hint provider for every document, as the real client has.
    getFeature(method) {
      assert.strictEqual(method, 'textDocument/inlayHint');
      const provider = { onDidChangeInlayHints: { fire: () => ++editor.refreshed } };
      return { getProvider: () => provider };
    }
    stop() {}
  }
};
const stand_ins = { 'vscode': vscode, 'vscode-languageclient/node': languageclient };
const real_load = Module._load;
Module._load = function (request, ...rest) {
  return request in stand_ins ? stand_ins[request] : real_load.call(this, request, ...rest);
};
const tsumiki = require(path.join(extension_dir, 'extension.js'));

const lsp = process.env.TSUMIKI_LSP;
const dap = process.env.TSUMIKI_DAP;
const failures = [];
function check(what, body) {
  try {
    body();
  } catch (error) {
    failures.push(`${what}: ${error.message}`);
  }
}
function activate(settings, active_language) {
  fresh_editor(settings, active_language);
  tsumiki.activate({ subscriptions: [] });
}
const found = { 'tsumiki.server.path': lsp, 'tsumiki.debugger.path': dap };
const missing = { 'tsumiki.server.path': '/nowhere/tsumiki-lsp', 'tsumiki.debugger.path': 'no-such-tsumiki-dap' };

check('the programs named by the settings are started', () => {
  assert.ok(lsp && dap, 'TSUMIKI_LSP and TSUMIKI_DAP name the built programs');
  activate(found, 'tsumiki');
  assert.strictEqual(editor.clients.length, 1);
  assert.strictEqual(editor.clients[0].server.command, lsp);
  assert.ok(editor.clients[0].started);
  const adapter = editor.factories.tsumiki.createDebugAdapterDescriptor({});
  assert.strictEqual(adapter.command, dap);
  assert.deepStrictEqual(editor.errors, []);
});

check('a name without a slash is looked up on PATH', () => {
  const dir = path.dirname(dap);
  assert.strictEqual(tsumiki.find_program(path.basename(dap), `/nowhere${path.delimiter}${dir}`),
                     path.join(dir, path.basename(dap)));
  assert.strictEqual(tsumiki.find_program('no-such-tsumiki-dap', dir), undefined);
  // A folder is not a program.
  assert.strictEqual(tsumiki.find_program(dir), undefined);
});

check('F5 with no launch.json debugs the .tsu file in the editor', () => {
  activate(found, 'tsumiki');
  const config = editor.providers.tsumiki.resolveDebugConfiguration(undefined, {});
  assert.deepStrictEqual(config, {
    type: 'tsumiki', request: 'launch', name: 'Debug this tsumiki file', program: '${file}', stopOnEntry: true
  });
  assert.deepStrictEqual(editor.notes, []);
});

check('F5 with no launch.json and no .tsu file says what to do', () => {
  activate(found, 'plaintext');
  assert.strictEqual(editor.providers.tsumiki.resolveDebugConfiguration(undefined, {}), undefined);
  assert.strictEqual(editor.notes.length, 1);
  assert.match(editor.notes[0], /open a \.tsu file/);
});

check('a launch.json configuration goes through as written', () => {
  activate(found, 'plaintext');
  const written = { type: 'tsumiki', request: 'launch', name: 'mine', program: '/p/a.tsu', input: '3\n' };
  assert.deepStrictEqual(editor.providers.tsumiki.resolveDebugConfiguration(undefined, { ...written }), written);
});

check('missing programs are named with the setting to change', () => {
  activate(missing, 'tsumiki');
  assert.strictEqual(editor.clients.length, 0, 'no language client for a missing server');
  assert.strictEqual(editor.errors.length, 1);
  assert.match(editor.errors[0], /\/nowhere\/tsumiki-lsp.*"tsumiki\.server\.path"/);
  const config = editor.providers.tsumiki.resolveDebugConfiguration(undefined, {});
  assert.strictEqual(config, undefined, 'the session does not start');
  assert.strictEqual(editor.errors.length, 2);
  assert.match(editor.errors[1], /no-such-tsumiki-dap.*"tsumiki\.debugger\.path"/);
});

check('the offered configurations use only declared attributes', () => {
  const debugger_ = manifest.contributes.debuggers.find((d) => d.type === 'tsumiki');
  const declared = debugger_.configurationAttributes.launch;
  const known = new Set(['type', 'request', 'name', ...Object.keys(declared.properties)]);
  activate(found, 'tsumiki');
  // F5 without launch.json, and what "create a launch.json file" writes.
  const f5 = editor.providers.tsumiki.resolveDebugConfiguration(undefined, {});
  const offered = [f5, ...debugger_.initialConfigurations, ...debugger_.configurationSnippets.map((s) => s.body)];
  for (const config of offered) {
    for (const key of Object.keys(config)) assert.ok(known.has(key), `"${key}" is not declared`);
    for (const key of declared.required) assert.ok(key in config, `"${key}" is missing`);
    assert.strictEqual(config.type, 'tsumiki');
    assert.strictEqual(config.request, 'launch');
  }
  assert.deepStrictEqual([f5], debugger_.initialConfigurations);
  // VS Code adds a provider's configurations to the package's in a new
  // launch.json: there must be only the one.
  assert.strictEqual(editor.providers.tsumiki.provideDebugConfigurations, undefined);
});

check('inlay hints are off until the setting turns them on', () => {
  const setting = manifest.contributes.configuration.properties['tsumiki.inlayHints.addresses'];
  assert.strictEqual(setting.default, false);
  activate(found, 'tsumiki');
  const hints = editor.clients[0].options.middleware.provideInlayHints;
  const next = () => ['〈0,3〉'];
  assert.deepStrictEqual(hints({}, {}, {}, next), []);
  editor.settings['tsumiki.inlayHints.addresses'] = true;
  assert.deepStrictEqual(hints({}, {}, {}, next), ['〈0,3〉']);
});

check('turning the setting on or off shows or hides the hints at once', () => {
  activate(found, 'tsumiki');
  const changed = (name) => ({ affectsConfiguration: (section) => section === name });
  for (const listener of editor.listeners) listener(changed('tsumiki.server.path'));
  assert.strictEqual(editor.refreshed, 0, 'another setting asks for nothing');
  for (const listener of editor.listeners) listener(changed('tsumiki.inlayHints.addresses'));
  assert.strictEqual(editor.refreshed, 1, 'the hints are asked for again');
});

check('debugging activates the extension', () => {
  assert.ok(manifest.activationEvents.includes('onDebugResolve:tsumiki'));
});

for (const f of failures) process.stderr.write(`FAIL: ${f}\n`);
if (failures.length === 0) process.stdout.write('all checks passed\n');
process.exit(failures.length === 0 ? 0 : 1);
