-- What the headless Neovim tests share (tests/lsp/neovim_*_test.lua,
-- tests/dap/neovim_test.lua): checks that collect failures instead of
-- stopping, the binary under test from the environment, the Lua folder of
-- the setup shipped in editors/nvim, and a run that ends Neovim with 0 when
-- every check passed, 1 with the reasons otherwise.  Each test loads it with
--
--   local here = debug.getinfo(1, 'S').source:sub(2):match('(.*)/')
--   local checks = dofile(here .. '/../neovim/checks.lua')
local M = {}

local failures = {}
local here = debug.getinfo(1, 'S').source:sub(2):match('(.*)/')

-- Records `what` as a failure unless `ok`.
function M.check(ok, what)
  if not ok then table.insert(failures, what) end
end

-- Prints the failures and ends Neovim: 0 when there were none.
function M.finish()
  for _, f in ipairs(failures) do io.stderr:write('FAIL: ' .. f .. '\n') end
  if #failures == 0 then io.stdout:write('all checks passed\n') end
  os.exit(#failures == 0 and 0 or 1)
end

-- The value of the environment variable `name`; when it is unset or empty
-- the run ends there, failed.
function M.required_env(name)
  local value = os.getenv(name)
  if not value or value == '' then
    M.check(false, name .. ' is not set')
    M.finish()
  end
  return value
end

-- Lets `require` find the modules of editors/nvim/lua (tsumiki,
-- tsumiki_dap) without installing them.
function M.use_editor_modules()
  package.path = here .. '/../../editors/nvim/lua/?.lua;' .. package.path
end

-- The language server's client, once it has answered initialize (checked);
-- nil when it has not within five seconds.
function M.initialized_client()
  local client
  vim.wait(5000, function()
    client = vim.lsp.get_active_clients()[1]
    return client ~= nil and client.initialized
  end, 20)
  M.check(client ~= nil and client.initialized, 'the server answered initialize')
  return client
end

-- Runs `main`; an error in it ends the run as a failure, not a hanging
-- editor.  Then finishes.
function M.run(main)
  local ok, err = pcall(main)
  M.check(ok, 'the script ran to its end: ' .. tostring(err))
  M.finish()
end

return M
