-- KVScript in Neovim (0.7 or newer): the kvls language server for the
-- scripts of KVConverter games. With editors/vim and editors/nvim on the
-- runtime path (the Vim files give a game's scripts the filetype kvscript and
-- read them as CP932):
--
--   require('kvscript').setup({ cmd = { '/path/to/kvls' } })
--
-- Options:
--   cmd       the server's command line (default { 'kvls' }, from PATH)
--   roots     game folders; a script below one of them belongs to the
--             nearest. Without them a script's game is the nearest folder
--             that holds main.txt, from the script's own folder upwards
--   mappings  false leaves the keys alone (default true: gd, K, gr,
--             <leader>rn, [d and ]d in each script's buffer)
--
-- One server runs per game, started when the game's first script is opened;
-- every script of the game is attached to it. Each script's omnifunc asks
-- the server (<C-x><C-o>).
local M = {}

local config = { cmd = { 'kvls' }, roots = nil, mappings = true }
local clients = {}  -- game folder -> client id

local separator = package.config:sub(1, 1)

-- The folder above PATH, or nil at the top.
local function parent(path)
  local above = vim.fn.fnamemodify(path, ':h')
  if above == path then return nil end
  return above
end

local function without_trailing_separator(path)
  if #path > 1 and (path:sub(-1) == '/' or path:sub(-1) == separator) and not path:match('^%a:[/\\]$') then
    return path:sub(1, -2)
  end
  return path
end

-- True when PATH is FOLDER or lies below it.
local function within(path, folder)
  if path == folder then return true end
  local prefix = folder
  if prefix:sub(-1) ~= '/' and prefix:sub(-1) ~= separator then prefix = prefix .. separator end
  return path:sub(1, #prefix) == prefix
end

-- The game FILE belongs to: the nearest of the given roots that holds it, or
-- the nearest folder holding main.txt at or above FILE's folder.
function M.game_of(file)
  local path = vim.fn.fnamemodify(file, ':p')
  if config.roots then
    local best
    for _, root in ipairs(config.roots) do
      root = without_trailing_separator(vim.fn.fnamemodify(root, ':p'))
      if within(path, root) and (best == nil or #root > #best) then best = root end
    end
    return best
  end
  local folder = parent(path)
  while folder do
    if vim.fn.filereadable(folder .. separator .. 'main.txt') == 1 then return folder end
    folder = parent(folder)
  end
  return nil
end

local function set_up_buffer(bufnr)
  vim.bo[bufnr].omnifunc = 'v:lua.vim.lsp.omnifunc'
  if not config.mappings then return end
  local function map(keys, action)
    vim.keymap.set('n', keys, action, { buffer = bufnr, silent = true })
  end
  map('gd', vim.lsp.buf.definition)
  map('K', vim.lsp.buf.hover)
  map('gr', vim.lsp.buf.references)
  map('<leader>rn', vim.lsp.buf.rename)
  map('[d', vim.diagnostic.goto_prev)
  map(']d', vim.diagnostic.goto_next)
end

-- Attaches script buffer BUFNR to its game's server, starting the server
-- first when the game has none. Returns the client id, or nil when the
-- buffer belongs to no game.
function M.attach(bufnr)
  if bufnr == nil or bufnr == 0 then bufnr = vim.api.nvim_get_current_buf() end
  local game = M.game_of(vim.api.nvim_buf_get_name(bufnr))
  if not game then return nil end
  local id = clients[game]
  if id == nil or vim.lsp.get_client_by_id(id) == nil then
    id = vim.lsp.start_client({
      name = 'kvls',
      cmd = config.cmd,
      root_dir = game,
      on_exit = function()
        vim.schedule(function()
          if clients[game] == id then clients[game] = nil end
        end)
      end,
    })
    if id == nil then return nil end
    clients[game] = id
  end
  vim.lsp.buf_attach_client(bufnr, id)
  set_up_buffer(bufnr)
  return id
end

-- The client id of GAME's server, when one runs.
function M.client_of(game)
  return clients[game]
end

function M.setup(options)
  config = vim.tbl_extend('force', { cmd = { 'kvls' }, roots = nil, mappings = true }, options or {})
  if type(config.cmd) == 'string' then config.cmd = { config.cmd } end
  local group = vim.api.nvim_create_augroup('kvscript', { clear = true })
  vim.api.nvim_create_autocmd('FileType', {
    group = group,
    pattern = 'kvscript',
    callback = function(args) M.attach(args.buf) end,
  })
  -- Scripts that were open before the setup.
  for _, bufnr in ipairs(vim.api.nvim_list_bufs()) do
    if vim.api.nvim_buf_is_loaded(bufnr) and vim.bo[bufnr].filetype == 'kvscript' then
      M.attach(bufnr)
    end
  end
end

return M
