-- kvls in a real client: Neovim's own LSP client (Neovim 0.7, headless)
-- starts the server on the sample game and opens two scripts (as CP932),
-- edits them (never saving), and checks what the editor then shows: a
-- diagnostic at its line and column, a definition in the other script, a
-- completion, and a rename that edits every reference. Run by ctest as
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
  local main_buf = vim.api.nvim_get_current_buf()
  local response = client.request_sync('textDocument/documentSymbol',
    { textDocument = { uri = vim.uri_from_bufnr(0) } }, 5000, 0)
  if check(response ~= nil, 'no answer to documentSymbol') then
    check(response.err == nil, 'documentSymbol failed: ' .. vim.inspect(response.err))
  end

  vim.cmd('edit ++enc=cp932 ' .. vim.fn.fnameescape(game .. '/scenes/chapter1.txt'))
  local scene_buf = vim.api.nvim_get_current_buf()
  check(vim.lsp.buf_attach_client(scene_buf, client_id), 'chapter1.txt did not attach')
  local scene_uri = vim.uri_from_bufnr(scene_buf)

  -- A goto to no label: its warning stands on the target, line 12 column 6.
  vim.api.nvim_buf_set_lines(scene_buf, -1, -1, false, { 'goto nowhere;' })
  local found
  vim.wait(10000, function()
    for _, d in ipairs(vim.diagnostic.get(scene_buf)) do
      if d.code == 'undefined-label' then found = d end
    end
    return found ~= nil
  end, 20)
  if check(found ~= nil, 'no undefined-label diagnostic on chapter1.txt') then
    check(found.lnum == 11 and found.col == 5 and found.end_col == 12,
          'the diagnostic stands at ' .. found.lnum .. ':' .. found.col .. '-' .. found.end_col)
    check(found.severity == vim.diagnostic.severity.WARN, 'the diagnostic is no warning')
  end

  -- Completion at the start of a statement offers the commands.
  vim.api.nvim_buf_set_lines(scene_buf, -1, -1, false, { 'layer_s' })
  local last = vim.api.nvim_buf_line_count(scene_buf) - 1
  response = client.request_sync('textDocument/completion',
    { textDocument = { uri = scene_uri }, position = { line = last, character = 7 } }, 5000, scene_buf)
  local offered = false
  for _, item in ipairs(response and response.result and response.result.items or {}) do
    if item.label == 'layer_show' then offered = true end
  end
  check(offered, 'completion did not offer layer_show')
  vim.api.nvim_buf_set_lines(scene_buf, last, last + 1, false, {})

  -- From a goto in main.txt to the label in chapter1.txt.
  vim.api.nvim_buf_set_lines(main_buf, -1, -1, false, { 'goto chapter1;' })
  local goto_line = vim.api.nvim_buf_line_count(main_buf) - 1
  response = client.request_sync('textDocument/definition',
    { textDocument = { uri = vim.uri_from_bufnr(main_buf) }, position = { line = goto_line, character = 7 } },
    5000, main_buf)
  local target = response and response.result and response.result[1]
  if check(target ~= nil, 'no definition of chapter1') then
    check(target.uri == scene_uri and target.range.start.line == 1 and target.range.start.character == 0,
          'the definition is at ' .. vim.inspect(target))
  end

  -- Renaming the label edits its definition and both gotos.
  response = client.request_sync('textDocument/rename',
    { textDocument = { uri = scene_uri }, position = { line = 1, character = 3 }, newName = 'opening' },
    5000, scene_buf)
  if check(response and response.result, 'no edits for the rename') then
    vim.lsp.util.apply_workspace_edit(response.result, client.offset_encoding)
    check(vim.api.nvim_buf_get_lines(scene_buf, 1, 2, false)[1] == 'opening:', 'the label was not renamed')
    check(vim.api.nvim_buf_get_lines(scene_buf, 7, 8, false)[1] == '  goto opening;',
          'the goto in chapter1.txt was not renamed')
    check(vim.api.nvim_buf_get_lines(main_buf, goto_line, goto_line + 1, false)[1] == 'goto opening;',
          'the goto in main.txt was not renamed')
  end

  client.stop()
  check(vim.wait(10000, function() return exit_code ~= nil end, 10), 'kvls did not exit')
  check(exit_code == 0, 'kvls exited with ' .. tostring(exit_code))
end)
check(ok, tostring(err))
finish()
