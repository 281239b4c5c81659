// Services that block or show something belong to the window; the command-line program and
// the tests install their own. Each hook has a default that needs no window.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "d_util.h"
#include "d_win.h"

namespace corvane {

// Details, often empty, say why: the box may keep them folded away under its text.
using MessageBoxHook = std::function<void(MsgDlgKind, const std::string& text, const std::string& details)>;
// A hook for the text alone, for installers that have no use for the details.
using MessageTextHook = std::function<void(MsgDlgKind, const std::string& text)>;
using PendingEventsHook = std::function<void()>;
using ShellOpenHook = std::function<std::int32_t(const ShellRequest&)>;
// The clipboard's plain text: setting throws std::runtime_error when it cannot be set.
using ClipboardSetHook = std::function<void(const std::string&)>;
using ClipboardGetHook = std::function<std::string()>;

// Replaces the message-box hook; an empty function or nullptr restores the default (the text
// as a line on stderr; the details came from there already).
void SetMessageBoxHook(MessageBoxHook hook);
void SetMessageBoxHook(MessageTextHook hook);
void SetMessageBoxHook(std::nullptr_t);
// Replaces the hook that lets the window repaint during long reads; empty = do nothing.
void SetPendingEventsHook(PendingEventsHook hook);
// Runs the installed pending-events hook.
void ProcessPendingEvents();
// Replaces the open action that ShellRun hands its request to; empty = OpenWithDesktop.
void SetShellOpenHook(ShellOpenHook hook);
// Replaces the clipboard; empty functions restore the default, a clipboard inside the
// process (enough for the command-line program and the tests).
void SetClipboardHooks(ClipboardSetHook set, ClipboardGetHook get);
// Replaces the clipboard's content with plain text (throws when it cannot).
void SetClipboardText(const std::string& text);
// The clipboard's plain text.
std::string ClipboardText();

}  // namespace corvane
