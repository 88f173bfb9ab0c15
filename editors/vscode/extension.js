// The tsumiki extension: starts tsumiki-lsp for .tsu files and shows the
// instructions of a routine when its code lens is clicked.
const vscode = require('vscode');
const { LanguageClient } = require('vscode-languageclient/node');

let client;

function activate(context) {
  const path = vscode.workspace.getConfiguration('tsumiki').get('server.path') || 'tsumiki-lsp';
  const output = vscode.window.createOutputChannel('tsumiki instructions');
  context.subscriptions.push(
    output,
    vscode.commands.registerCommand('tsumiki.showInstructions', (name, listing) => {
      output.clear();
      output.appendLine(`- ${name} -`);
      output.append(listing || '');
      output.show(true);
    }));
  client = new LanguageClient(
    'tsumiki',
    'tsumiki',
    { command: path, args: [] },
    { documentSelector: [{ scheme: 'file', language: 'tsumiki' }, { scheme: 'untitled', language: 'tsumiki' }] });
  client.start();
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
