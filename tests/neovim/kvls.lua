-- kvls in a real client: Neovim's own LSP client (Neovim 0.7, headless)
-- starts the server on the sample game, opens main.txt, edits it, asks a
-- question and shuts the server down. Run by ctest as
--
--   KVLS=build/kvls KV_SAMPLE_GAME=examples/sample_game \
--     nvim --headless -u NONE -i NONE -n -c 'luafile tests/neovim/kvls.lua'
--
-- It quits with status 0 when every check holds and 1 otherwise, naming the
-- checks that failed on standard error.

local failures = {}
local function check(ok, what)
  if not ok then table.insert(failures, what) end
  return ok
end

local function finish()
  if #failures > 0 then
    io.stderr:write('kvls in Neovim: ' .. table.concat(failures, '; ') .. '\n')
    vim.cmd('cquit 1')
  end
  vim.cmd('qall!')
end

local ok, err = pcall(function()
  local game = vim.fn.fnamemodify(os.getenv('KV_SAMPLE_GAME'), ':p'):gsub('/$', '')
  local exit_code
  local client_id = vim.lsp.start_client({
    name = 'kvls',
    cmd = { os.getenv('KVLS') },
    root_dir = game,
    flags = { debounce_text_changes = 0 },  -- each edit goes out at once
    on_exit = function(code) exit_code = code end,
  })
  if not check(client_id ~= nil, 'the client did not start kvls') then return end
  local client = vim.lsp.get_client_by_id(client_id)
  if not check(vim.wait(10000, function() return client.initialized end, 10),
               'no answer to initialize') then return end
  local capabilities = client.server_capabilities
  check(client.offset_encoding == 'utf-16', 'positions are not in UTF-16')
  check(capabilities.positionEncoding == 'utf-16', 'positionEncoding is not utf-16')
  check(capabilities.textDocumentSync.change == 2, 'no incremental sync')

  -- The script as the engine reads it: CP932.
  vim.cmd('edit ++enc=cp932 ' .. vim.fn.fnameescape(game .. '/main.txt'))
  check(vim.fn.getline(1):find('サンプルゲーム', 1, true) ~= nil, 'main.txt did not read as CP932')
  check(vim.lsp.buf_attach_client(0, client_id), 'the buffer did not attach')
  vim.api.nvim_buf_set_text(0, 0, 0, 0, 0, { '// 編集 ' })

  -- An answer after the open document and the edit: the server read both.
  local response = client.request_sync('textDocument/documentSymbol',
    { textDocument = { uri = vim.uri_from_bufnr(0) } }, 5000, 0)
  if check(response ~= nil, 'no answer to documentSymbol') then
    check(response.err == nil, 'documentSymbol failed: ' .. vim.inspect(response.err))
  end

  client.stop()
  check(vim.wait(10000, function() return exit_code ~= nil end, 10), 'kvls did not exit')
  check(exit_code == 0, 'kvls exited with ' .. tostring(exit_code))
end)
check(ok, tostring(err))
finish()
