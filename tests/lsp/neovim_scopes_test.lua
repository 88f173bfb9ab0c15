-- Neovim's own LSP client against tsumiki-lsp (the path in $TSUMIKI_LSP)
-- on a program whose names hide one another across nested routines:
-- completion, references and highlights follow the scope rules; Neovim's
-- rename changes the one variable it names, and a rename that a nested
-- parameter would capture is refused; signature help; a quick fix chosen
-- through Neovim's code action menu is applied; the addresses the server
-- gives as inlay hints (asked for directly: Neovim 0.7 does not draw them).
--
--   TSUMIKI_LSP=build/ci/tsumiki-lsp nvim --headless --clean -u NONE -c "luafile neovim_scopes_test.lua"
--
-- Exits 0 when every check passes, 1 with the reasons otherwise.
local here = debug.getinfo(1, 'S').source:sub(2):match('(.*)/')
local checks = dofile(here .. '/../neovim/checks.lua')
local check = checks.check
local server = checks.required_env('TSUMIKI_LSP')

-- count's n hides the program's; add, nested in count, reaches count's n
-- and the program's total through the static chain.
local PROGRAM = {
  'program scopes;',            -- 0
  'var n, total;',              -- 1
  'procedure count(k);',        -- 2
  'var n;',                     -- 3
  '  procedure add(s);',        -- 4
  '  begin',                    -- 5
  '    total := total + s + n', -- 6
  '  end;',                     -- 7
  'begin',                      -- 8
  '  n := k;',                  -- 9
  '  add(n)',                   -- 10
  'end;',                       -- 11
  'begin',                      -- 12
  '  n := 2;',                  -- 13
  '  total := 0;',              -- 14
  '  count(n);',                -- 15
  '  write(total)',             -- 16
  'end.',                       -- 17
}

-- "line:character" of each range (or location) in a list.
local function starts(list)
  local found = {}
  for _, r in ipairs(list or {}) do
    local range = r.range or r
    table.insert(found, range.start.line .. ':' .. range.start.character)
  end
  return table.concat(found, ' ')
end

local function main()
  local path = vim.fn.tempname() .. '.tsu'
  vim.fn.writefile(PROGRAM, path)
  checks.use_editor_modules()
  require('tsumiki').setup({ cmd = { server } })
  vim.cmd('edit ' .. vim.fn.fnameescape(path))
  local buf = vim.api.nvim_get_current_buf()
  local client = checks.initialized_client()
  if not (client and client.initialized) then return end
  local uri = vim.uri_from_bufnr(buf)

  local function request(method, line, character, extra)
    local params = vim.tbl_extend('force', {
      textDocument = { uri = uri },
      position = { line = line, character = character },
    }, extra or {})
    local answer, err = client.request_sync(method, params, 5000, buf)
    check(answer ~= nil and answer.err == nil, method .. ' answered: ' .. tostring(err) .. ' '
      .. vim.inspect(answer and answer.err))
    return answer and answer.result
  end

  -- Completion after "+ " in add's body: its parameter, count's names and
  -- the program's total; one n, count's, which hides the program's.
  local items = request('textDocument/completion', 6, 25) or {}
  local labels = {}
  for _, item in ipairs(items.items or items) do table.insert(labels, item.label .. ': ' .. (item.detail or '')) end
  table.sort(labels)
  local offered = table.concat(labels, ' | ')
  check(offered == 'k: 値引数 k (レベル 1、セル 3) 外側の手続き count の名前'
    .. ' | n: 変数 n (レベル 1、セル 4) 外側の手続き count の名前 | s: 値引数 s (レベル 2、セル 3)'
    .. ' | total: 変数 total (レベル 0、セル 4) 外側のプログラム scopes の名前', 'completion in add: ' .. offered)

  -- count's n: its declaration, add's use and count's two; none of the
  -- program's n.
  check(starts(request('textDocument/references', 6, 25, { context = { includeDeclaration = true } }))
    == '3:4 6:25 9:2 10:6', 'references of count\'s n')
  check(starts(request('textDocument/references', 13, 2, { context = { includeDeclaration = false } }))
    == '13:2 15:8', 'references of the program\'s n without its declaration')
  -- total, highlighted in add and in the program's body.
  check(starts(request('textDocument/documentHighlight', 6, 4)) == '1:7 6:4 6:13 14:2 16:8',
    'highlights of total')

  -- Renaming count's n to s: add's parameter s would take its use in add.
  local refused, err = client.request_sync('textDocument/rename', {
    textDocument = { uri = uri },
    position = { line = 9, character = 2 },
    newName = 's',
  }, 5000, buf)
  check(refused ~= nil and refused.err ~= nil
    and refused.err.message == 's にすると、7 行目の n が値引数 s (5 行目) を指すようになってしまいます',
    'a rename that add\'s s would capture is refused: ' .. tostring(err) .. vim.inspect(refused))

  -- Signature help inside add(n).
  local help = request('textDocument/signatureHelp', 10, 6)
  check(help ~= nil and help.signatures and help.signatures[1].label == 'add(s)'
    and help.activeParameter == 0, 'signature help of add: ' .. vim.inspect(help))

  -- Neovim's own rename from add's use of n: count's n becomes m, the
  -- program's n stays.
  vim.api.nvim_win_set_cursor(0, { 7, 25 })
  vim.lsp.buf.rename('m')
  vim.wait(5000, function() return vim.api.nvim_buf_get_lines(buf, 3, 4, false)[1] == 'var m;' end, 20)
  local want = vim.deepcopy(PROGRAM)
  want[4], want[7], want[10], want[11] = 'var m;', '    total := total + s + m', '  m := k;', '  add(m)'
  local lines = vim.api.nvim_buf_get_lines(buf, 0, -1, false)
  check(table.concat(lines, '\n') == table.concat(want, '\n'),
    'the rename changed count\'s n alone: ' .. table.concat(lines, ' | '))

  -- The inlay hints: the address of each use in add's statement, as
  -- 〈level difference,offset〉 (total two levels out, m one).
  local hints = client.request_sync('textDocument/inlayHint', {
    textDocument = { uri = uri },
    range = { start = { line = 6, character = 0 }, ['end'] = { line = 6, character = 99 } },
  }, 5000, buf)
  local shown = {}
  for _, h in ipairs(hints and hints.result or {}) do
    table.insert(shown, h.position.line .. ':' .. h.position.character .. ' ' .. h.label)
  end
  shown = table.concat(shown, ', ')
  check(shown == '6:9 〈2,4〉, 6:18 〈2,4〉, 6:22 〈0,3〉, 6:26 〈1,4〉', 'inlay hints in add: ' .. shown)

  -- A semicolon lost at the end of line 15: the diagnostic comes on line
  -- 16, and the quick fix chosen in Neovim's code action menu (the first
  -- offered, as pressing Enter would) puts it back.
  vim.api.nvim_buf_set_lines(buf, 14, 15, false, { '  total := 0' })
  vim.wait(5000, function() return #vim.diagnostic.get(buf) == 1 end, 20)
  local d = vim.diagnostic.get(buf)[1]
  check(d ~= nil and d.lnum == 15, 'the lost semicolon is diagnosed on line 16: ' .. vim.inspect(d))
  local fixes
  vim.ui.select = function(choices, _, on_choice)
    fixes = choices
    on_choice(choices[1], 1)
  end
  vim.api.nvim_win_set_cursor(0, { 16, 2 })
  vim.lsp.buf.code_action()
  vim.wait(5000, function() return vim.api.nvim_buf_get_lines(buf, 14, 15, false)[1] == '  total := 0;' end, 20)
  check(fixes ~= nil and #fixes == 1, 'one quick fix offered: ' .. vim.inspect(fixes))
  check(vim.api.nvim_buf_get_lines(buf, 14, 15, false)[1] == '  total := 0;', 'the quick fix put the semicolon back')
  vim.wait(5000, function() return #vim.diagnostic.get(buf) == 0 end, 20)
  check(#vim.diagnostic.get(buf) == 0, 'no diagnostic once the semicolon is back')

  client.stop()
  vim.wait(2000, function() return client.is_stopped() end, 20)
  os.remove(path)
end

checks.run(main)
