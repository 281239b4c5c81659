-- corvanexml-check as the language server of XML files, for Neovim 0.7 to 0.9.
-- Put it in init.lua, or save it as ~/.config/nvim/lua/corvanexml.lua and require it there.
local servers = {} -- one server per web application

vim.api.nvim_create_autocmd("FileType", {
  pattern = "xml",
  callback = function(args)
    local file = vim.api.nvim_buf_get_name(args.buf)
    -- The web application is the part of the path before "portal".
    local root = file:match("^(.-)/portal/") or vim.fn.fnamemodify(file, ":p:h")
    local id = servers[root]
    if id == nil or vim.lsp.get_client_by_id(id) == nil then
      id = vim.lsp.start_client({
        name = "corvanexml",
        -- Add "--tree", "NAME" or "--schema", "FILE" to check against another tree.
        cmd = { "corvanexml-check", "--lsp" },
        root_dir = root,
        -- The tree can also be chosen here: init_options = { corvanexml = { tree = "PROD" } },
      })
      servers[root] = id
    end
    if id == nil then return end
    vim.lsp.buf_attach_client(args.buf, id)
    vim.bo[args.buf].omnifunc = "v:lua.vim.lsp.omnifunc" -- completion with CTRL-X CTRL-O
    local map = function(keys, action) vim.keymap.set("n", keys, action, { buffer = args.buf }) end
    map("K", vim.lsp.buf.hover)
    map("gd", vim.lsp.buf.definition)
    map("<Leader>ca", vim.lsp.buf.code_action)
  end,
})
