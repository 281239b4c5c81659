// Services that block or show something belong to the window; the command-line program and
// the tests install their own. Each hook has a default that needs no window.
#pragma once

#include <functional>
#include <string>

#include "d_util.h"
#include "d_win.h"

namespace corvane {

using MessageBoxHook = std::function<void(MsgDlgKind, const std::string&)>;
using PendingEventsHook = std::function<void()>;
using ShellOpenHook = std::function<std::int32_t(const ShellRequest&)>;
// The clipboard's plain text: setting throws std::runtime_error when it cannot be set.
using ClipboardSetHook = std::function<void(const std::string&)>;
using ClipboardGetHook = std::function<std::string()>;

// Replaces the message-box hook; an empty function restores the default (a line on stderr).
void SetMessageBoxHook(MessageBoxHook hook);
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
