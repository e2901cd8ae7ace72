#pragma once

// What the fcitx5 addon and Tellwire say to each other on the session bus.
// Plain C++: the addon links no Qt.
//
// Every method names the input context by the addon's id for it and answers
// with what the context must show now, in this order:
//   b handled   the key is consumed (false for anything but ProcessKey)
//   s commit    text to commit (empty: none); hides the preedit first
//   b preedit   whether the preedit changed; then
//   s text      the new preedit (empty: hidden) and
//   i caret     its caret, in bytes of UTF-8
//   b composing it is a composition, which the client or fcitx5 commits
//               when the focus leaves (other preedit is dropped then)
//   i panel     candidates: 0 unchanged, 1 show, 2 hide; then
//   as words    the candidates shown
//   b chinese   the keyboard's mode
// Tellwire sends the same, after the context's id, as the signal Output when
// dictated text arrives between calls.
namespace tellwire::protocol {

inline constexpr const char* kService = "cc.orrisfeld.tellwire.inputmethod";
inline constexpr const char* kPath = "/cc/orrisfeld/tellwire/Fcitx5";
inline constexpr const char* kInterface = "cc.orrisfeld.tellwire.Fcitx5";
inline constexpr const char* kReplySignature = "bsbsibiasb";

// Methods: FocusIn(s id, b secret), FocusOut(s id), Reset(s id),
// SetSecret(s id, b secret), CaretMoved(s id), ProcessKey(s id, u keysym,
// u state, t sent) with X11 keysyms and modifier masks and the steady clock's
// microseconds when the addon sent it, SelectCandidate(s id, u index),
// Forget(s id) for a context that is gone; ShowPanel() and ShowSettings()
// from fcitx5's input-method menu.
inline constexpr const char* kOutputSignal = "Output";
// Sent once Tellwire serves the addon, which then tells it where the focus is.
inline constexpr const char* kReadySignal = "Ready";

// fcitx5 waits this long for an answer; past it the key goes to the application.
inline constexpr int kAnswerBoundMs = 50;
// A key older than this when Tellwire reads it may have gone to the
// application already: Tellwire leaves it alone rather than type it twice.
inline constexpr int kFreshKeyMs = 30;

enum Panel : int { kPanelUnchanged = 0, kPanelShow = 1, kPanelHide = 2 };

// The page of candidates; the keyboard offers at most this many.
inline constexpr int kPageSize = 9;

} // namespace tellwire::protocol
