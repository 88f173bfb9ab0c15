-- Neovim's own LSP client against tsumiki-lsp (the path in $TSUMIKI_LSP),
-- set up by the snippet shipped in editors/nvim: a program with an error
-- gets its diagnostic at the right place, the server's quick fix mends it
-- and the list empties; a definition, hovers, completion and references
-- come back; a rename to a keyword is refused, Neovim's own rename
-- changes every use, and its formatting lays a line out.
--
--   TSUMIKI_LSP=build/ci/tsumiki-lsp nvim --headless --clean -u NONE -c "luafile neovim_test.lua"
--
-- Exits 0 when every check passes, 1 with the reasons otherwise.  Written for
-- Neovim 0.7 (start_client and buf_attach_client).
local here = debug.getinfo(1, 'S').source:sub(2):match('(.*)/')
local checks = dofile(here .. '/../neovim/checks.lua')
local check = checks.check
local server = checks.required_env('TSUMIKI_LSP')

-- Any error in the checks ends the run as a failure, not a hanging editor.
local function main()
  local path = vim.fn.tempname() .. '.tsu'
  vim.fn.writefile({
    'program demo;',
    'var total;',
    'begin',
    '  total = 1;',
    '  write(total)',
    'end.',
  }, path)
  checks.use_editor_modules()
  require('tsumiki').setup({ cmd = { server } })
  vim.cmd('syntax on') -- as Neovim's defaults have it; -u NONE leaves it off
  vim.cmd('edit ' .. vim.fn.fnameescape(path))
  local buf = vim.api.nvim_get_current_buf()
  check(vim.bo[buf].filetype == 'tsumiki', 'a .tsu file has the filetype tsumiki')
  -- setup() found the syntax file beside its lua/ folder.
  check(vim.b.current_syntax == 'tsumiki', 'a .tsu file has the syntax tsumiki: ' .. tostring(vim.b.current_syntax))
  check(vim.bo[buf].omnifunc == 'v:lua.vim.lsp.omnifunc', '<C-x><C-o> asks the server')
  local group = vim.fn.synIDattr(vim.fn.synID(1, 1, 1), 'name')
  check(group == 'tsumikiDeclaration', '"program" is highlighted as a declaration: ' .. group)

  local client = checks.initialized_client()

  -- The error: "=" where ":=" belongs, on line 4 (3 from 0), column 8.
  local diagnostics = {}
  vim.wait(5000, function()
    diagnostics = vim.diagnostic.get(buf)
    return #diagnostics > 0
  end, 20)
  check(#diagnostics == 1, 'one diagnostic for the broken program')
  if #diagnostics == 1 then
    local d = diagnostics[1]
    check(d.lnum == 3 and d.col == 8, ('the diagnostic at 3:8, not %d:%d'):format(d.lnum, d.col))
    check(d.end_lnum == 3 and d.end_col == 9, 'the diagnostic ends after the "="')
    check(d.source == 'tsumiki', 'its source is tsumiki')
    check(d.message == '構文エラー: :=がありません\nヒント: 代入は := です。= は値を比べるときに使います',
      'its message and its hint: ' .. tostring(d.message))
    check(d.severity == vim.diagnostic.severity.ERROR, 'it is an error')
  end

  -- The fix, as the server's quick fix makes it: the list empties.
  local actions = client.request_sync('textDocument/codeAction', {
    textDocument = { uri = vim.uri_from_bufnr(buf) },
    range = { start = { line = 3, character = 0 }, ['end'] = { line = 3, character = 0 } },
    context = { diagnostics = {} },
  }, 5000, buf)
  local action = actions and actions.result and actions.result[1]
  check(action ~= nil and action.kind == 'quickfix', 'a quick fix for "=": ' .. vim.inspect(actions))
  if action then vim.lsp.util.apply_workspace_edit(action.edit, 'utf-16') end
  check(vim.api.nvim_buf_get_lines(buf, 3, 4, false)[1] == '  total := 1;', 'the quick fix wrote ":="')
  vim.wait(5000, function() return #vim.diagnostic.get(buf) == 0 end, 20)
  check(#vim.diagnostic.get(buf) == 0, 'no diagnostic once the program is fixed')

  local function request(method, line, character)
    local params = {
      textDocument = { uri = vim.uri_from_bufnr(buf) },
      position = { line = line, character = character },
    }
      local answer, err = client.request_sync(method, params, 5000, buf)
    check(answer ~= nil and answer.err == nil, method .. ' answered: ' .. tostring(err))
    return answer and answer.result
  end

  -- "total" in write(total) leads to its declaration on line 2.
  local def = request('textDocument/definition', 4, 9)
  local target = def and (def.range and def or def[1])
  check(target ~= nil and target.uri == vim.uri_from_bufnr(buf), 'the definition is in the document')
  if target then
    check(target.range.start.line == 1 and target.range.start.character == 4,
      'the definition is the "total" of "var total;"')
  end

  local hover = request('textDocument/hover', 4, 9)
  local text = hover and hover.contents and hover.contents.value or ''
  check(text:find('変数 total', 1, true) ~= nil, 'the hover names the variable: ' .. text)
  check(text:find('2 行目で宣言', 1, true) ~= nil, 'the hover says where it was declared')
  hover = request('textDocument/hover', 4, 3)
  text = hover and hover.contents and hover.contents.value or ''
  check(text:find(': LOD%(0,3%)\n%d+: PUT%(0,0%)\n') ~= nil, 'the hover on write shows its instructions: ' .. text)

  -- Completion in write(...): the variable, not the program's name.
  local items = request('textDocument/completion', 4, 8) or {}
  local labels = {}
  for _, item in ipairs(items.items or items) do table.insert(labels, item.label) end
  check(table.concat(labels, ' ') == 'total', 'completion offers total alone: ' .. table.concat(labels, ' '))

  -- References: the declaration and both uses.
  local params = {
    textDocument = { uri = vim.uri_from_bufnr(buf) },
    position = { line = 4, character = 9 },
    context = { includeDeclaration = true },
  }
  local refs = client.request_sync('textDocument/references', params, 5000, buf)
  local found = {}
  for _, r in ipairs(refs and refs.result or {}) do
    table.insert(found, r.range.start.line .. ':' .. r.range.start.character)
  end
  check(table.concat(found, ' ') == '1:4 3:2 4:8', 'references of total: ' .. table.concat(found, ' '))

  -- A keyword is refused with the reason.
  params.newName = 'while'
  local refused = client.request_sync('textDocument/rename', params, 5000, buf)
  check(refused ~= nil and refused.err ~= nil and refused.err.message == 'while はキーワードなので名前にできません',
    'renaming to a keyword is refused: ' .. vim.inspect(refused))

  -- Neovim's own rename (prepareRename, then rename) changes every place.
  vim.api.nvim_win_set_cursor(0, { 5, 9 })
  vim.lsp.buf.rename('sum')
  vim.wait(5000, function() return vim.api.nvim_buf_get_lines(buf, 1, 2, false)[1] == 'var sum;' end, 20)
  local lines = vim.api.nvim_buf_get_lines(buf, 0, -1, false)
  check(table.concat(lines, '\n') == 'program demo;\nvar sum;\nbegin\n  sum := 1;\n  write(sum)\nend.',
    'the rename changed the declaration and both uses: ' .. table.concat(lines, ' | '))

  -- Formatting lays out a line written carelessly again.
  vim.api.nvim_buf_set_lines(buf, 3, 4, false, { 'sum:=1  ;' })
  vim.lsp.buf.formatting_sync(nil, 5000)
  lines = vim.api.nvim_buf_get_lines(buf, 0, -1, false)
  check(lines[4] == '  sum := 1;' and #lines == 6, 'formatting laid the line out: ' .. table.concat(lines, ' | '))

  client.stop()
  vim.wait(2000, function() return client.is_stopped() end, 20)
  check(client.is_stopped(), 'the server ended after shutdown and exit')
  os.remove(path)
end

checks.run(main)
