-- Debugging tsumiki programs in Neovim with nvim-dap: registers tsumiki-dap
-- as the adapter "tsumiki" and a launch configuration for *.tsu files.
--
-- It is part of the plugin folder editors/nvim (installed as
-- share/tsumiki/nvim); with that folder loaded, add to your init.lua, after
-- nvim-dap is loaded:
--
--   require('tsumiki_dap').setup({ command = '/path/to/tsumiki-dap' })
--
-- `command` defaults to 'tsumiki-dap' (found on PATH).  Then, in a .tsu
-- file: :lua require('dap').toggle_breakpoint(), :lua require('dap').continue()
-- (asks for the program's input: a file, or nothing), step_over, step_into,
-- step_out, step_back, reverse_continue, pause; require('dap.ui.widgets')
-- shows the scopes, and the REPL evaluates names (x, a[i]).
local M = {}

-- The program's standard input: a file name asked for, or none.
local function input_file()
  local name = vim.fn.input('Input file (empty: none): ', '', 'file')
  if name == '' then return nil end
  return vim.fn.fnamemodify(name, ':p')
end

function M.setup(opts)
  opts = opts or {}
  local dap = require('dap')
  dap.adapters.tsumiki = {
    type = 'executable',
    command = opts.command or 'tsumiki-dap',
    args = {},
  }
  dap.configurations.tsumiki = {
    {
      type = 'tsumiki',
      request = 'launch',
      name = 'Debug this file',
      program = '${file}',
      stopOnEntry = opts.stop_on_entry or false,
    },
    {
      type = 'tsumiki',
      request = 'launch',
      name = 'Debug this file with an input file',
      program = '${file}',
      inputFile = input_file,
      stopOnEntry = opts.stop_on_entry or false,
    },
  }
end

return M
