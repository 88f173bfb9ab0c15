Content-Length: 472

{"jsonrpc": "2.0", "method": "textDocument/didOpen", "params": {"textDocument": {"uri": "file:///s.tsu", "version": 1, "text": "program nested;\nvar total, a[1..3];\nfunction twice(n);\nbegin\n  twice := n + n\nend;\nprocedure count(var n, k);\nvar calls;\n  procedure add(k);\n  begin\n    total := total + k;\n    calls := calls + 1\n  end;\nbegin\n  calls := 0;\n  add(twice(k));\n  n := calls\nend;\nbegin\n  total := 0;\n  count(a[1], 10);\n  write(total)\nend.\n"}}}Content-Length: 186

{"jsonrpc": "2.0", "method": "textDocument/didOpen", "params": {"textDocument": {"uri": "file:///b.tsu", "version": 1, "text": "program p;\nvar x;\nbegin\n  x = 1\n  y := ２\nend.\n"}}}Content-Length: 161

{"jsonrpc": "2.0", "id": 1, "method": "textDocument/completion", "params": {"textDocument": {"uri": "file:///s.tsu"}, "position": {"line": 10, "character": 14}}}Content-Length: 200

{"jsonrpc": "2.0", "id": 2, "method": "textDocument/references", "params": {"textDocument": {"uri": "file:///s.tsu"}, "position": {"line": 1, "character": 4}, "context": {"includeDeclaration": true}}}Content-Length: 167

{"jsonrpc": "2.0", "id": 3, "method": "textDocument/documentHighlight", "params": {"textDocument": {"uri": "file:///s.tsu"}, "position": {"line": 10, "character": 6}}}Content-Length: 163

{"jsonrpc": "2.0", "id": 4, "method": "textDocument/prepareRename", "params": {"textDocument": {"uri": "file:///s.tsu"}, "position": {"line": 8, "character": 12}}}Content-Length: 176

{"jsonrpc": "2.0", "id": 5, "method": "textDocument/rename", "params": {"textDocument": {"uri": "file:///s.tsu"}, "position": {"line": 8, "character": 12}, "newName": "calls"}}Content-Length: 173

{"jsonrpc": "2.0", "id": 6, "method": "textDocument/rename", "params": {"textDocument": {"uri": "file:///s.tsu"}, "position": {"line": 1, "character": 4}, "newName": "sum"}}Content-Length: 164

{"jsonrpc": "2.0", "id": 7, "method": "textDocument/signatureHelp", "params": {"textDocument": {"uri": "file:///s.tsu"}, "position": {"line": 20, "character": 15}}}Content-Length: 120

{"jsonrpc": "2.0", "id": 8, "method": "textDocument/foldingRange", "params": {"textDocument": {"uri": "file:///s.tsu"}}}Content-Length: 127

{"jsonrpc": "2.0", "id": 9, "method": "textDocument/semanticTokens/full", "params": {"textDocument": {"uri": "file:///s.tsu"}}}Content-Length: 204

{"jsonrpc": "2.0", "id": 10, "method": "textDocument/inlayHint", "params": {"textDocument": {"uri": "file:///s.tsu"}, "range": {"start": {"line": 0, "character": 0}, "end": {"line": 24, "character": 0}}}}Content-Length: 236

{"jsonrpc": "2.0", "id": 11, "method": "textDocument/codeAction", "params": {"textDocument": {"uri": "file:///b.tsu"}, "range": {"start": {"line": 3, "character": 0}, "end": {"line": 5, "character": 0}}, "context": {"diagnostics": []}}}