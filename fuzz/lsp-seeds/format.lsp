Content-Length: 65

{"jsonrpc": "2.0", "id": 0, "method": "initialize", "params": {}}Content-Length: 192

{"jsonrpc": "2.0", "method": "textDocument/didOpen", "params": {"textDocument": {"uri": "file:///f.tsu", "version": 1, "text": "program p;var x;\nbegin x:=-1;\n  while x<0 do x:=x+1 end.\n"}}}Content-Length: 167

{"jsonrpc": "2.0", "id": 1, "method": "textDocument/formatting", "params": {"textDocument": {"uri": "file:///f.tsu"}, "options": {"tabSize": 2, "insertSpaces": true}}}Content-Length: 257

{"jsonrpc": "2.0", "id": 2, "method": "textDocument/rangeFormatting", "params": {"textDocument": {"uri": "file:///f.tsu"}, "range": {"start": {"line": 1, "character": 0}, "end": {"line": 2, "character": 0}}, "options": {"tabSize": 2, "insertSpaces": true}}}