-- The Neovim plugin (editors/nvim) with the Vim files (editors/vim), as a
-- user sets them up: opening two scripts of the sample game gives them the
-- filetype kvscript, one kvls for the game and both buffers attached; then a
-- diagnostic shows, go-to-definition (the plugin's gd) leads to the label,
-- and the omnifunc it sets completes a command. Run by ctest as
--
--   KVLS=build/kvls KV_SOURCE_DIR=. nvim --headless -u NONE -i NONE -n \
--     -c 'luafile tests/neovim/plugin.lua'
--
-- It quits with status 0 when every check holds and 1 otherwise, naming the
-- checks that failed on standard error. Nothing is saved.

local failures = {}
local function check(ok, what)
  if not ok then table.insert(failures, what) end
  return ok
end

local ok, err = pcall(function()
  local source = vim.fn.fnamemodify(os.getenv('KV_SOURCE_DIR'), ':p'):gsub('/$', '')
  local game = source .. '/examples/sample_game'
  vim.opt.runtimepath:prepend(source .. '/editors/nvim')
  vim.opt.runtimepath:prepend(source .. '/editors/vim')
  vim.cmd('filetype plugin on')
  vim.g.mapleader = ' '
  require('kvscript').setup({ cmd = { os.getenv('KVLS') } })

  vim.cmd('edit ' .. vim.fn.fnameescape(game .. '/scenes/chapter1.txt'))
  local scene_buf = vim.api.nvim_get_current_buf()
  check(vim.bo.filetype == 'kvscript', 'chapter1.txt is not kvscript')
  check(vim.bo.omnifunc == 'v:lua.vim.lsp.omnifunc', 'no omnifunc on chapter1.txt')
  check(vim.fn.maparg('gd', 'n') ~= '', 'no gd mapping')
  vim.cmd('edit ' .. vim.fn.fnameescape(game .. '/main.txt'))
  local main_buf = vim.api.nvim_get_current_buf()
  check(vim.fn.getline(1):find('サンプルゲーム', 1, true) ~= nil, 'main.txt did not read as CP932')

  local id = require('kvscript').client_of(game)
  if not check(id ~= nil, 'no server for the sample game') then return end
  local client = vim.lsp.get_client_by_id(id)
  if not check(vim.wait(10000, function() return client.initialized end, 10),
               'no answer to initialize') then return end
  check(#vim.lsp.get_active_clients() == 1, 'more than one server for one game')
  check(vim.lsp.buf_is_attached(scene_buf, id) and vim.lsp.buf_is_attached(main_buf, id),
        'the scripts are not both attached')

  -- A goto to no label: its warning on chapter1.txt.
  vim.api.nvim_buf_set_lines(scene_buf, -1, -1, false, { 'goto nowhere;' })
  check(vim.wait(10000, function()
    for _, d in ipairs(vim.diagnostic.get(scene_buf)) do
      if d.code == 'undefined-label' then return true end
    end
    return false
  end, 20), 'no undefined-label diagnostic on chapter1.txt')

  -- gd on a goto in main.txt opens chapter1.txt at the label.
  vim.api.nvim_buf_set_lines(main_buf, -1, -1, false, { 'goto chapter1;' })
  vim.api.nvim_win_set_cursor(0, { vim.api.nvim_buf_line_count(main_buf), 7 })
  vim.cmd('normal gd')
  check(vim.wait(10000, function()
    return vim.api.nvim_get_current_buf() == scene_buf and vim.api.nvim_win_get_cursor(0)[1] == 2
  end, 20), 'gd did not lead to the label chapter1')

  -- The omnifunc completes a command at the start of a statement. Neovim
  -- hands its answer to complete() in Insert mode only, which a headless
  -- run does not stay in: the mode is given as Insert and complete() caught.
  vim.api.nvim_set_current_buf(scene_buf)
  vim.api.nvim_buf_set_lines(scene_buf, -1, -1, false, { 'layer_s x' })
  vim.api.nvim_win_set_cursor(0, { vim.api.nvim_buf_line_count(scene_buf), 7 })
  local offered
  local complete, mode = vim.fn.complete, vim.fn.mode
  vim.fn.complete = function(_, items) offered = items end
  vim.fn.mode = function() return 'i' end
  local omnifunc = vim.bo.omnifunc:gsub('^v:lua%.', '')
  local call = assert(loadstring('return ' .. omnifunc .. '(...)'))
  call(1, '')
  vim.wait(10000, function() return offered ~= nil end, 20)
  vim.fn.complete, vim.fn.mode = complete, mode
  local found = false
  for _, item in ipairs(offered or {}) do
    if item.word == 'layer_show' then found = true end
  end
  check(found, 'the omnifunc did not offer layer_show')

  client.stop()
end)
check(ok, tostring(err))
if #failures > 0 then
  io.stderr:write('kvscript plugin in Neovim: ' .. table.concat(failures, '; ') .. '\n')
  vim.cmd('cquit 1')
end
vim.cmd('qall!')
