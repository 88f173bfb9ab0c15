Content-Length: 559

{"jsonrpc": "2.0", "method": "textDocument/didOpen", "params": {"textDocument": {"uri": "file:///s.tsu", "version": 1, "text": "program nested;\nvar total;\nprocedure count(n);\nvar calls;\n  procedure add(k);\n  begin\n    total := total + k;\n    calls := calls + 1\n  end;\n  procedure addrange(lo, hi);\n  begin\n    while lo <= hi do\n    begin\n      add(lo);\n      lo := lo + 1\n    end\n  end;\nbegin\n  calls := 0;\n  addrange(1, n);\n  write(calls)\nend;\nbegin\n  total := 0;\n  count(10);\n  write(total);\n  count(4);\n  write(total)\nend.\n"}}}Content-Length: 207

{"jsonrpc": "2.0", "method": "textDocument/didChange", "params": {"textDocument": {"uri": "file:///s.tsu", "version": 2}, "contentChanges": [{"text": "program p;\nvar a[1..3];\nbegin\n  a[1] = 2\nend.\n"}]}}Content-Length: 107

{"jsonrpc": "2.0", "method": "textDocument/didClose", "params": {"textDocument": {"uri": "file:///s.tsu"}}}Content-Length: 49

{"jsonrpc": "2.0", "id": 9, "method": "shutdown"}Content-Length: 36

{"jsonrpc": "2.0", "method": "exit"}