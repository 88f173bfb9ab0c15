Content-Length: 559

{"jsonrpc": "2.0", "method": "textDocument/didOpen", "params": {"textDocument": {"uri": "file:///s.tsu", "version": 1, "text": "program nested;\nvar total;\nprocedure count(n);\nvar calls;\n  procedure add(k);\n  begin\n    total := total + k;\n    calls := calls + 1\n  end;\n  procedure addrange(lo, hi);\n  begin\n    while lo <= hi do\n    begin\n      add(lo);\n      lo := lo + 1\n    end\n  end;\nbegin\n  calls := 0;\n  addrange(1, n);\n  write(calls)\nend;\nbegin\n  total := 0;\n  count(10);\n  write(total);\n  count(4);\n  write(total)\nend.\n"}}}Content-Length: 154

{"jsonrpc": "2.0", "id": 1, "method": "textDocument/hover", "params": {"textDocument": {"uri": "file:///s.tsu"}, "position": {"line": 6, "character": 4}}}Content-Length: 160

{"jsonrpc": "2.0", "id": 2, "method": "textDocument/definition", "params": {"textDocument": {"uri": "file:///s.tsu"}, "position": {"line": 13, "character": 8}}}Content-Length: 163

{"jsonrpc": "2.0", "id": 3, "method": "textDocument/documentSymbol", "params": {"textDocument": {"uri": "file:///s.tsu"}, "position": {"line": 0, "character": 0}}}Content-Length: 157

{"jsonrpc": "2.0", "id": 4, "method": "textDocument/codeLens", "params": {"textDocument": {"uri": "file:///s.tsu"}, "position": {"line": 0, "character": 0}}}Content-Length: 155

{"jsonrpc": "2.0", "id": 5, "method": "textDocument/hover", "params": {"textDocument": {"uri": "file:///s.tsu"}, "position": {"line": 11, "character": 4}}}