-- Neovim 0.7 as a user meets the language server: the configuration the README shows,
-- loaded as it is, opens a plug-in file and asks what the README says it can ask.
--
-- Started by nvim_test.sh as `nvim --headless --clean -u nvim_client_test.lua`, with
--   CORVANE_NVIM_CONFIG  the configuration file (editors/neovim/corvanexml-0.7.lua)
--   CORVANE_PLUGIN_FILE  the plug-in file to open (tests/fixtures/editors/Editor.xml, copied)
--   CORVANE_FEATURE      diagnostics, completion, hover, definition or quickfix
--   CORVANE_RESULTS      where to write what happened, one line per check
-- Exits 0 when every check passed, 77 when the server does not advertise the feature, 1 else.
-- Every wait is bounded.

local results = assert(io.open(assert(os.getenv("CORVANE_RESULTS")), "w"))
local failed = false

local function say(line)
  results:write(line, "\n")
  results:flush()
end

local function check(ok, what, detail)
  say((ok and "ok   " or "FAIL ") .. what .. (ok and "" or (": " .. vim.inspect(detail))))
  if not ok then failed = true end
  return ok
end

-- Ends Neovim, and with it the server (the client shuts it down on the way out).
local function finish(status)
  results:close()
  vim.cmd(status == 0 and "qall!" or ("cquit " .. status))
end

-- Lines and codes of the buffer's diagnostics, sorted: { "8 Msg003", ... } (lines from 0).
local function diagnostic_keys(buf)
  local keys = {}
  for _, d in ipairs(vim.diagnostic.get(buf)) do
    table.insert(keys, d.lnum .. " " .. tostring(d.code))
  end
  table.sort(keys)
  return keys
end

local function find_diagnostic(buf, code)
  for _, d in ipairs(vim.diagnostic.get(buf)) do
    if d.code == code then return d end
  end
end

-- One request through the client, as a command of the editor sends it; its result or nil.
local function request(client, buf, method, params)
  local answers, reason = vim.lsp.buf_request_sync(buf, method, params, 10000)
  if not check(answers ~= nil, method .. " is answered in time", reason) then return nil end
  local answer = answers[client.id]
  if not check(answer ~= nil and answer.error == nil, method .. " succeeds", answer) then return nil end
  return answer.result
end

local function position(buf, line, character)
  return { textDocument = { uri = vim.uri_from_bufnr(buf) }, position = { line = line, character = character } }
end

local function line_of(buf, line)
  return vim.api.nvim_buf_get_lines(buf, line, line + 1, true)[1]
end

-- The five findings of the fixture: lines counted from 0, as the protocol counts them.
local expected_diagnostics = { "10 Msg007", "11 Msg006", "14 Msg009", "18 Msg008", "8 Msg003" }

local function wait_for_diagnostics(buf, count)
  return vim.wait(15000, function() return #vim.diagnostic.get(buf) == count end, 20)
end

local features = {}

function features.diagnostics(_, buf)
  wait_for_diagnostics(buf, #expected_diagnostics)
  check(vim.deep_equal(diagnostic_keys(buf), expected_diagnostics), "the findings arrive as diagnostics",
    diagnostic_keys(buf))
  local unknown_class = find_diagnostic(buf, "Msg006")
  if check(unknown_class ~= nil, "Msg006 is there") then
    -- The range is the element's value, so that the editor underlines the name itself.
    check(unknown_class.col == 22 and unknown_class.end_col == 26, "Msg006 covers the class name", unknown_class)
    check(unknown_class.severity == vim.diagnostic.severity.WARN, "a finding is a warning", unknown_class.severity)
    check(unknown_class.source == "corvanexml", "the source is corvanexml", unknown_class.source)
    check(unknown_class.message == 'Msg 006: Schema - Class not found: "user" (CreateUser)', "the message line",
      unknown_class.message)
  end
  -- An edit the user makes is checked without saving: a second duplicate id.
  vim.api.nvim_buf_set_lines(buf, 19, 19, false, { "    <id>HelpDesk</id>" })
  wait_for_diagnostics(buf, #expected_diagnostics + 1)
  check(vim.deep_equal(diagnostic_keys(buf), { "10 Msg007", "11 Msg006", "14 Msg009", "18 Msg008", "19 Msg008",
    "8 Msg003" }), "an unsaved edit is checked", diagnostic_keys(buf))
end

function features.completion(client, buf)
  -- An empty object-type-name typed into the second task, not saved.
  vim.api.nvim_buf_set_lines(buf, 19, 19, false, { "    <object-type-name></object-type-name>" })
  local result = request(client, buf, "textDocument/completion", position(buf, 19, 22))
  if result == nil then return end
  local items = result.items or result
  local user
  for _, item in ipairs(items) do
    if item.label == "User" then user = item end
  end
  if not check(user ~= nil, "the class User is offered", #items .. " items") then return end
  check(#vim.tbl_filter(function(i) return i.label == "Given Name" end, items) == 0, "no attribute is offered")
  -- Chosen, it fills the element's value.
  if user.textEdit then
    vim.lsp.util.apply_text_edits({ user.textEdit }, buf, client.offset_encoding)
  else
    vim.api.nvim_buf_set_text(buf, 19, 22, 19, 22, { user.insertText or user.label })
  end
  check(line_of(buf, 19) == "    <object-type-name>User</object-type-name>", "the chosen class is inserted",
    line_of(buf, 19))
end

function features.hover(client, buf)
  local result = request(client, buf, "textDocument/hover", position(buf, 19, 24))
  if not check(result ~= nil and result.contents ~= nil, "a class has a hover", result) then return end
  local text = table.concat(vim.lsp.util.convert_input_to_markdown_lines(result.contents), "\n")
  check(text:find("**User**", 1, true) ~= nil, "the hover names the class", text)
  check(text:find("Given Name", 1, true) ~= nil, "the hover lists its attributes", text)
end

function features.definition(client, buf)
  local result = request(client, buf, "textDocument/definition", position(buf, 9, 23))
  if not check(result ~= nil and not vim.tbl_isempty(result), "a role assignment has a definition", result) then
    return
  end
  local location = vim.tbl_islist(result) and result[1] or result
  local uri = location.uri or location.targetUri
  local range = location.range or location.targetSelectionRange
  check(uri == vim.uri_from_bufnr(buf), "the definition is in the same file", uri)
  check(range.start.line == 3, "the definition is the id's line", range)
  -- Where the editor jumps to.
  vim.lsp.util.jump_to_location(location, client.offset_encoding)
  check(vim.api.nvim_win_get_cursor(0)[1] == 4, "the cursor lands on the id", vim.api.nvim_win_get_cursor(0))
end

-- Requests the quick fixes of a finding and applies the preferred one to the buffer.
local function apply_fix(client, buf, code, line, expected)
  local d = find_diagnostic(buf, code)
  if not check(d ~= nil, code .. " is there to fix") then return end
  -- The line's diagnostics as the protocol has them, as vim.lsp.buf.code_action() sends them.
  local on_line = vim.lsp.diagnostic.get_line_diagnostics(buf, d.lnum, nil, client.id)
  local params = {
    textDocument = { uri = vim.uri_from_bufnr(buf) },
    range = on_line[1].range,
    context = { diagnostics = on_line },
  }
  local actions = request(client, buf, "textDocument/codeAction", params)
  if not check(actions ~= nil and #actions > 0, code .. " has a quick fix", actions) then return end
  local chosen = actions[1]
  for _, action in ipairs(actions) do
    if action.isPreferred then chosen = action end
  end
  check(chosen.kind == "quickfix", code .. ": the action is a quick fix", chosen.kind)
  if not check(chosen.edit ~= nil, code .. ": the quick fix carries its edit", chosen) then return end
  vim.lsp.util.apply_workspace_edit(chosen.edit, client.offset_encoding)
  check(line_of(buf, line) == expected, code .. " is corrected in the buffer", line_of(buf, line))
end

function features.quickfix(client, buf)
  if not check(#vim.diagnostic.get(buf) == #expected_diagnostics, "the findings arrive", diagnostic_keys(buf)) then
    return
  end
  -- Each correction changes the buffer, which is checked again: the finding is gone, the
  -- others stay, and the next one is fixed in the text as it is now.
  apply_fix(client, buf, "Msg006", 11, "    <object-type-name>User</object-type-name>")
  wait_for_diagnostics(buf, #expected_diagnostics - 1)
  check(vim.deep_equal(diagnostic_keys(buf), { "10 Msg007", "14 Msg009", "18 Msg008", "8 Msg003" }),
    "the Msg006 is gone", diagnostic_keys(buf))
  apply_fix(client, buf, "Msg009", 14, "      <param-value>Organizational_Unit</param-value>")
  wait_for_diagnostics(buf, #expected_diagnostics - 2)
  check(vim.deep_equal(diagnostic_keys(buf), { "10 Msg007", "18 Msg008", "8 Msg003" }),
    "the Msg009 is gone", diagnostic_keys(buf))
end

-- What the server must advertise for each feature.
local capability = {
  completion = "completionProvider",
  hover = "hoverProvider",
  definition = "definitionProvider",
  quickfix = "codeActionProvider",
}

local function run()
  local feature = assert(os.getenv("CORVANE_FEATURE"))
  assert(features[feature], "no such feature: " .. feature)
  dofile(assert(os.getenv("CORVANE_NVIM_CONFIG")))
  vim.cmd("edit " .. vim.fn.fnameescape(assert(os.getenv("CORVANE_PLUGIN_FILE"))))
  local buf = vim.api.nvim_get_current_buf()
  check(vim.bo[buf].filetype == "xml", "the plug-in file is an XML buffer", vim.bo[buf].filetype)
  local client
  vim.wait(10000, function()
    for _, c in pairs(vim.lsp.buf_get_clients(buf)) do
      if c.name == "corvanexml" and c.initialized then client = c end
    end
    return client ~= nil
  end, 20)
  if not check(client ~= nil, "the server is started and attached to the buffer") then return 1 end
  local needed = capability[feature]
  if needed and not client.server_capabilities[needed] then
    say("SKIP " .. feature .. ": the server does not advertise " .. needed)
    return 77
  end
  -- The first findings say the server has read the tree; the questions come after them, as a
  -- user's would.
  if feature ~= "diagnostics" then
    wait_for_diagnostics(buf, #expected_diagnostics)
  end
  features[feature](client, buf)
  return failed and 1 or 0
end

vim.api.nvim_create_autocmd("VimEnter", {
  once = true,
  callback = function()
    vim.schedule(function()
      local ok, status = pcall(run)
      if not ok then say("FAIL error: " .. tostring(status)) end
      finish(ok and status or 1)
    end)
  end,
})
