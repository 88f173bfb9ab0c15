-- The Neovim plugin folder (editors/nvim, or where the package installed
-- it: $TSUMIKI_NVIM_PLUGIN) loaded as a plugin manager loads it, on
-- 'runtimepath' from the start and nothing else: a .tsu file gets the
-- filetype tsumiki and its highlighting, every keyword of the language
-- highlighted, routine names and numbers as such, other names not.
--
--   TSUMIKI_NVIM_PLUGIN=editors/nvim nvim --headless --clean -u NONE \
--     --cmd "set rtp+=editors/nvim" -c "luafile neovim_plugin_test.lua"
--
-- Exits 0 when every check passes, 1 with the reasons otherwise.
local here = debug.getinfo(1, 'S').source:sub(2):match('(.*)/')
local checks = dofile(here .. '/../neovim/checks.lua')
local check = checks.check

local function main()
  local plugin = os.getenv('TSUMIKI_NVIM_PLUGIN')
  check(plugin ~= nil and vim.fn.isdirectory(plugin) == 1, 'TSUMIKI_NVIM_PLUGIN names a folder')
  local on_path = false
  for _, dir in ipairs(vim.api.nvim_list_runtime_paths()) do
    on_path = on_path or vim.fn.fnamemodify(dir, ':p:h') == vim.fn.fnamemodify(plugin, ':p:h')
  end
  check(on_path, 'the plugin folder is on runtimepath (--cmd "set rtp+=...")')
  vim.cmd('syntax on')
  local path = vim.fn.tempname() .. '.tsu'
  vim.fn.writefile({
    'program demo;',
    'var total, a[1..2];',
    'function f(var y);',
    'begin f := y div 2 end;',
    'procedure p;',
    'begin',
    '  while total < 10 do total := total + 1;',
    '  if total = 3 then read(total) else write(total)',
    'end;',
    'begin p end.',
  }, path)
  vim.cmd('edit ' .. vim.fn.fnameescape(path))
  check(vim.bo.filetype == 'tsumiki', 'the filetype is tsumiki: ' .. vim.bo.filetype)
  check(vim.b.current_syntax == 'tsumiki', 'the syntax is tsumiki: ' .. tostring(vim.b.current_syntax))
  local function group_at(line, word)
    local column = vim.fn.getline(line):find(word, 1, true)
    if column == nil then return '(' .. word .. ' not on line ' .. line .. ')' end
    return vim.fn.synIDattr(vim.fn.synID(line, column, 1), 'name')
  end
  local expected = {
    { 1, 'program', 'tsumikiDeclaration' }, { 2, 'var', 'tsumikiDeclaration' },
    { 3, 'function', 'tsumikiDeclaration' }, { 5, 'procedure', 'tsumikiDeclaration' },
    { 6, 'begin', 'tsumikiBlock' }, { 9, 'end', 'tsumikiBlock' },
    { 7, 'while', 'tsumikiRepeat' }, { 7, 'do', 'tsumikiRepeat' },
    { 8, 'if', 'tsumikiConditional' }, { 8, 'then', 'tsumikiConditional' },
    { 8, 'else', 'tsumikiConditional' }, { 4, 'div', 'tsumikiOperatorWord' },
    { 8, 'read', 'tsumikiBuiltin' }, { 8, 'write', 'tsumikiBuiltin' },
    { 1, 'demo', 'tsumikiRoutineName' }, { 3, 'f(', 'tsumikiRoutineName' },
    { 7, '10', 'tsumikiNumber' }, { 7, ':=', 'tsumikiOperator' },
    { 2, 'total', '' }, { 4, 'y div', '' },
  }
  for _, e in ipairs(expected) do
    local got = group_at(e[1], e[2])
    check(got == e[3], ('"%s" on line %d is %s, not "%s"'):format(e[2], e[1], got, e[3]))
  end
  os.remove(path)
end

checks.run(main)
