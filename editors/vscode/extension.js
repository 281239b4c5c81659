// Starts corvanexml-check --lsp for the XML files of the workspace. The settings
// corvanexml.tree and corvanexml.schemaFiles go to the server at its start and whenever
// they change.
const vscode = require("vscode");
const { LanguageClient } = require("vscode-languageclient/node");

let client;

function settings() {
  const config = vscode.workspace.getConfiguration("corvanexml");
  const schemaFiles = config.get("schemaFiles");
  return {
    tree: config.get("tree"),
    schemaFiles: schemaFiles && schemaFiles.length > 0 ? schemaFiles : null,
  };
}

function activate(context) {
  const command = vscode.workspace.getConfiguration("corvanexml").get("path") || "corvanexml-check";
  client = new LanguageClient(
    "corvanexml",
    "Corvane XML Check",
    { command, args: ["--lsp"] },
    {
      documentSelector: [{ scheme: "file", language: "xml" }],
      initializationOptions: { corvanexml: settings() },
      synchronize: { configurationSection: "corvanexml" },
    },
  );
  context.subscriptions.push(client);
  return client.start();
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
