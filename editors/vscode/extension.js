// The tsumiki extension: starts tsumiki-lsp for .tsu files, shows the
// instructions of a routine when its code lens is clicked, and starts
// tsumiki-dap for a debugging session of type "tsumiki".
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
  const adapter = vscode.workspace.getConfiguration('tsumiki').get('debugger.path') || 'tsumiki-dap';
  context.subscriptions.push(
    vscode.debug.registerDebugAdapterDescriptorFactory('tsumiki', {
      createDebugAdapterDescriptor: () => new vscode.DebugAdapterExecutable(adapter, [])
    }));
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
