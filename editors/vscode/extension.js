// The tsumiki extension: starts tsumiki-lsp for .tsu files, shows the
// instructions of a routine when its code lens is clicked, and starts
// tsumiki-dap for a debugging session of type "tsumiki".
const vscode = require('vscode');
const fs = require('fs');
const path = require('path');

let client;

// The program a setting names: a path, or a name looked up on PATH as a
// shell would.  Undefined when there is no such executable file.
function find_program(name, search = process.env.PATH || '') {
  const runnable = (file) => {
    try {
      fs.accessSync(file, fs.constants.X_OK);
      return fs.statSync(file).isFile();
    } catch {
      return false;
    }
  };
  if (name.includes('/') || name.includes(path.sep)) return runnable(name) ? name : undefined;
  for (const dir of search.split(path.delimiter)) {
    if (dir && runnable(path.join(dir, name))) return path.join(dir, name);
  }
  return undefined;
}

// The program of a setting, or undefined after telling the user plainly
// which setting to change (the editor itself would only say that it could
// not connect, or nothing at all).
function program_of(setting, fallback) {
  const name = vscode.workspace.getConfiguration('tsumiki').get(setting) || fallback;
  const found = find_program(name);
  if (!found) {
    const open = 'Open Settings';
    vscode.window
      .showErrorMessage(
        `tsumiki: cannot find the program ${name}. Build tsumiki, then put ${fallback} on PATH ` +
          `or set "tsumiki.${setting}" to its path.`,
        open)
      .then((choice) => {
        if (choice === open)
          vscode.commands.executeCommand('workbench.action.openSettings', `tsumiki.${setting}`);
      });
  }
  return found;
}

// F5 with no launch.json debugs the .tsu file in the editor, as the
// package's initialConfigurations would; a launch configuration without a
// program is refused with the reason.  (No provideDebugConfigurations: VS
// Code would write its configurations into a new launch.json after the
// package's, twice the same.)
const configurations = {
  resolveDebugConfiguration(folder, config) {
    if (!config.type && !config.request && !config.name) {
      const editor = vscode.window.activeTextEditor;
      if (editor && editor.document.languageId === 'tsumiki') {
        config.type = 'tsumiki';
        config.request = 'launch';
        config.name = 'Debug this tsumiki file';
        config.program = '${file}';
        config.stopOnEntry = true;
      }
    }
    if (!config.program) {
      vscode.window.showInformationMessage(
        'tsumiki: open a .tsu file to debug it, or give "program" in the launch configuration.');
      return undefined;
    }
    // Without the adapter the editor would start nothing and say nothing.
    return program_of('debugger.path', 'tsumiki-dap') ? config : undefined;
  }
};

function activate(context) {
  const output = vscode.window.createOutputChannel('tsumiki instructions');
  context.subscriptions.push(
    output,
    vscode.commands.registerCommand('tsumiki.showInstructions', (name, listing) => {
      output.clear();
      output.appendLine(`- ${name} -`);
      output.append(listing || '');
      output.show(true);
    }),
    vscode.debug.registerDebugConfigurationProvider('tsumiki', configurations),
    vscode.debug.registerDebugAdapterDescriptorFactory('tsumiki', {
      // Looked up at each session, so that a changed setting holds at once.
      createDebugAdapterDescriptor: () => {
        const name = vscode.workspace.getConfiguration('tsumiki').get('debugger.path') || 'tsumiki-dap';
        return new vscode.DebugAdapterExecutable(find_program(name) || name, []);
      }
    }));
  const server = program_of('server.path', 'tsumiki-lsp');
  if (!server) return;
  const { LanguageClient } = require('vscode-languageclient/node');
  client = new LanguageClient(
    'tsumiki',
    'tsumiki',
    { command: server, args: [] },
    {
      documentSelector: [{ scheme: 'file', language: 'tsumiki' }, { scheme: 'untitled', language: 'tsumiki' }],
      middleware: {
        // The addresses after each use teach, yet crowd the text: shown
        // only with the setting on (read at each request).
        provideInlayHints: (document, range, token, next) =>
          vscode.workspace.getConfiguration('tsumiki').get('inlayHints.addresses') ? next(document, range, token) : []
      }
    });
  client.start();
  // The editor asks for inlay hints again only when the text changes: a
  // change of the setting asks for them at once, as the server's refresh
  // request would.
  context.subscriptions.push(
    vscode.workspace.onDidChangeConfiguration((change) => {
      if (!change.affectsConfiguration('tsumiki.inlayHints.addresses')) return;
      const hints = client.getFeature('textDocument/inlayHint');
      const providers = new Set(vscode.window.visibleTextEditors.map((e) => hints.getProvider(e.document)));
      for (const provider of providers) if (provider) provider.onDidChangeInlayHints.fire();
    }));
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate, find_program };
