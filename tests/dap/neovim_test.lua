-- The nvim-dap setup shipped in editors/nvim, against the real adapter (the
-- path in $TSUMIKI_DAP).  nvim-dap itself is not on this machine, so a
-- stand-in module takes what the setup registers; the test then starts the
-- registered command as nvim-dap would, launches the registered
-- configuration (with ${file} filled in as nvim-dap fills it) and checks
-- that the adapter runs the program to its end.
--
--   TSUMIKI_DAP=build/ci/tsumiki-dap nvim --headless --clean -u NONE -c "luafile neovim_test.lua"
--
-- Exits 0 when every check passes, 1 with the reasons otherwise.  Written for
-- Neovim 0.7 (jobstart, json_encode).
local here = debug.getinfo(1, 'S').source:sub(2):match('(.*)/')
local checks = dofile(here .. '/../neovim/checks.lua')
local check = checks.check
local adapter_path = checks.required_env('TSUMIKI_DAP')

local function main()
  checks.use_editor_modules()
  local dap = { adapters = {}, configurations = {} }
  package.loaded['dap'] = dap
  require('tsumiki_dap').setup({ command = adapter_path })

  local adapter = dap.adapters.tsumiki
  check(adapter ~= nil and adapter.type == 'executable', 'an executable adapter named tsumiki')
  check(adapter and adapter.command == adapter_path, 'the adapter runs the command given')
  local configs = dap.configurations.tsumiki or {}
  check(#configs == 2, 'two configurations for the tsumiki filetype')
  local config = configs[1] or {}
  check(config.type == 'tsumiki' and config.request == 'launch', 'a launch of type tsumiki')
  check(config.program == '${file}', 'the program is the current file')
  check(type(configs[2].inputFile) == 'function', 'the second asks for an input file')

  local path = vim.fn.tempname() .. '.tsu'
  vim.fn.writefile({ 'program demo;', 'var x;', 'begin', '  x := 6 * 7;', '  write(x)', 'end.' }, path)
  local launch = {}
  for k, v in pairs(config) do launch[k] = (v == '${file}') and path or v end

  local received = ''
  local events = {}
  local job = vim.fn.jobstart({ adapter.command }, {
    on_stdout = function(_, data)
      received = received .. table.concat(data, '\n')
      while true do
        local length, header_end = received:match('^Content%-Length: (%d+)\r\n\r\n()')
        if not length or #received < header_end - 1 + tonumber(length) then break end
        local body = received:sub(header_end, header_end - 1 + tonumber(length))
        received = received:sub(header_end + tonumber(length))
        local message = vim.fn.json_decode(body)
        table.insert(events, message.event or (message.command .. (message.success and ' ok' or ' failed')))
        if message.event == 'output' then table.insert(events, message.body.output) end
      end
    end,
  })
  local seq = 0
  local function send(command, arguments)
    seq = seq + 1
    local body = vim.fn.json_encode({ seq = seq, type = 'request', command = command, arguments = arguments })
    vim.fn.chansend(job, 'Content-Length: ' .. #body .. '\r\n\r\n' .. body)
  end
  send('initialize', { adapterID = 'tsumiki', clientID = 'neovim' })
  send('launch', launch)
  send('configurationDone', vim.empty_dict())
  local done = vim.wait(10000, function() return vim.tbl_contains(events, 'terminated') end, 20)
  check(done, 'the program ran to its end: ' .. table.concat(events, ', '))
  check(vim.tbl_contains(events, '42\n'), 'its output came as an output event')
  check(vim.tbl_contains(events, 'launch ok'), 'the configuration launched')
  send('disconnect', vim.empty_dict())
  check(vim.fn.jobwait({ job }, 5000)[1] == 0, 'the adapter ends with 0 after disconnect')
end

checks.run(main)
