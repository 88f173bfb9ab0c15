-- tsumiki in Neovim (0.7 or later): *.tsu files get the filetype "tsumiki",
-- and tsumiki-lsp is started for them (one server per Neovim).
--
-- Put this file where Neovim finds Lua (e.g. ~/.config/nvim/lua/tsumiki.lua)
-- and add to your init.lua:
--
--   require('tsumiki').setup({ cmd = { '/path/to/tsumiki-lsp' } })
--
-- `cmd` defaults to { 'tsumiki-lsp' } (found on PATH).  Then: errors are
-- shown as you type, `vim.lsp.buf.definition()` goes to a declaration,
-- `vim.lsp.buf.hover()` tells what a name is or shows a statement's
-- instructions, `vim.lsp.codelens.refresh()` and `vim.lsp.codelens.run()`
-- show each routine's instructions, `vim.lsp.buf.document_symbol()` lists
-- the outline.
local M = {}

local client_id = nil

-- The code lens command: the instructions in a scratch window.
local function show_instructions(command)
  local lines = vim.split(command.arguments[2] or '', '\n', { trimempty = true })
  vim.cmd('new')
  vim.api.nvim_buf_set_lines(0, 0, -1, false, lines)
  vim.bo.buftype = 'nofile'
  vim.bo.bufhidden = 'wipe'
  vim.api.nvim_buf_set_name(0, 'tsumiki: ' .. (command.arguments[1] or '?'))
end

function M.setup(opts)
  opts = opts or {}
  local cmd = opts.cmd or { 'tsumiki-lsp' }
  vim.lsp.commands['tsumiki.showInstructions'] = show_instructions

  vim.cmd([[
    augroup tsumiki
      autocmd!
      autocmd BufRead,BufNewFile *.tsu setfiletype tsumiki
      autocmd FileType tsumiki lua require('tsumiki').attach()
    augroup END
  ]])
  M.cmd = cmd
end

function M.attach()
  local buf = vim.api.nvim_get_current_buf()
  if client_id == nil or vim.lsp.get_client_by_id(client_id) == nil then
    client_id = vim.lsp.start_client({
      name = 'tsumiki',
      cmd = M.cmd,
      root_dir = vim.fn.getcwd(),
    })
  end
  if client_id ~= nil then vim.lsp.buf_attach_client(buf, client_id) end
end

return M
