-- tsumiki in Neovim (0.7 or later): *.tsu files get the filetype "tsumiki"
-- and its highlighting (ftdetect/ and syntax/ beside this lua/ folder), and
-- tsumiki-lsp is started for them (one server per Neovim).
--
-- The folder this file is in belongs to a plugin: load its parent folder
-- (the package installs it as share/tsumiki/nvim) with a plugin manager, or
-- add it to 'runtimepath' yourself, and add to your init.lua:
--
--   require('tsumiki').setup({ cmd = { '/path/to/tsumiki-lsp' } })
--
-- setup() puts the plugin's folder on 'runtimepath' when it is not there
-- yet, so that copying the whole folder anywhere and pointing package.path
-- at its lua/ works too.
--
-- `cmd` defaults to { 'tsumiki-lsp' } (found on PATH).  Then: errors are
-- shown as you type, `vim.lsp.buf.definition()` goes to a declaration,
-- `vim.lsp.buf.hover()` tells what a name is or shows a statement's
-- instructions, `vim.lsp.codelens.refresh()` and `vim.lsp.codelens.run()`
-- show each routine's instructions, `vim.lsp.buf.document_symbol()` lists
-- the outline, <C-x><C-o> completes a name (the buffer's 'omnifunc'),
-- `vim.lsp.buf.references()` and `vim.lsp.buf.document_highlight()` find
-- a name's uses, and `vim.lsp.buf.rename()` renames it.
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

-- The plugin's folder: the parent of the lua/ folder this file is in.
local function plugin_root()
  local source = debug.getinfo(1, 'S').source
  if source:sub(1, 1) ~= '@' then return nil end
  return vim.fn.fnamemodify(source:sub(2), ':p:h:h')
end

function M.setup(opts)
  opts = opts or {}
  local root = plugin_root()
  if root and vim.fn.isdirectory(root .. '/syntax') == 1 then
    local known = false
    for _, dir in ipairs(vim.api.nvim_list_runtime_paths()) do
      if vim.fn.fnamemodify(dir, ':p:h') == root then known = true end
    end
    if not known then vim.opt.runtimepath:append(root) end
  end
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
  if client_id ~= nil then
    vim.lsp.buf_attach_client(buf, client_id)
    vim.bo[buf].omnifunc = 'v:lua.vim.lsp.omnifunc'
  end
end

return M
