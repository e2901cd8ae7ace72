#!/usr/bin/python3
# A GTK window with two text fields and a password field, as applications
# have them. Prints its state as one JSON line whenever it changes:
# which field has focus, each field's text, the preedit shown, and the keys
# that reached the application past the input method ("alt+d", "escape"),
# and whether its window is the active one. A line "focus NAME" on standard
# input moves the focus to that field, as the application itself may.
# Usage: fields.py 3|4
import json
import sys

import gi

VERSION = sys.argv[1]
gi.require_version("Gtk", VERSION + ".0")
gi.require_version("Gdk", VERSION + ".0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

GTK4 = VERSION == "4"
state = {"focus": "", "a": "", "b": "", "p": "", "preedit": "", "keys": [], "active": False}


def report(*_):
    state["active"] = window.is_active()
    line = json.dumps(state, ensure_ascii=False)
    print(line, flush=True)


def watch(name, entry):
    text = entry.get_delegate() if GTK4 else entry

    def changed(*_):
        state[name] = entry.get_text()
        report()

    def preedit(_, value):
        state["preedit"] = value
        report()

    def focused(*_):
        if text.has_focus() if GTK4 else entry.has_focus():
            state["focus"] = name
            report()

    entry.connect("changed", changed)
    text.connect("preedit-changed", preedit)
    text.connect("notify::has-focus", focused)


# A click puts the caret where it lands, as in the other toolkits, instead of selecting all.
Gtk.Settings.get_default().set_property("gtk-entry-select-on-focus", False)
window = Gtk.Window(title="fields")
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
entries = {"a": Gtk.Entry(), "b": Gtk.Entry(), "p": Gtk.PasswordEntry() if GTK4 else Gtk.Entry()}
if not GTK4:
    entries["p"].set_visibility(False)
# GNOME Shell tells IBus a field's purpose twice on focus-in, the last field's
# first; libibus skips a change to a content type it believes is set already,
# and that can leave the field after a password taken for one. Spell-checked
# text, as in most everyday applications, always differs from what a password
# field leaves behind.
entries["b"].set_input_hints(Gtk.InputHints.SPELLCHECK)
for name, entry in entries.items():
    watch(name, entry)
    box.append(entry) if GTK4 else box.pack_start(entry, False, False, 0)


def key(keyval, modifiers):
    name = Gdk.keyval_name(keyval).lower()
    alt = Gdk.ModifierType.ALT_MASK if GTK4 else Gdk.ModifierType.MOD1_MASK
    state["keys"].append(("alt+" if modifiers & alt else "") + name)
    report()
    return False


if GTK4:
    keys = Gtk.EventControllerKey()
    keys.connect("key-pressed", lambda _, keyval, code, modifiers: key(keyval, modifiers))
    window.add_controller(keys)
else:
    window.connect_after("key-press-event", lambda _, event: key(event.keyval, event.state))


window.connect("notify::is-active", report)


def command(source, _):
    line = source.readline()
    if not line:
        return False
    words = line.split()
    if len(words) == 2 and words[0] == "focus" and words[1] in entries:
        entries[words[1]].grab_focus()
    return True


GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
loop = GLib.MainLoop()
if GTK4:
    window.set_child(box)
    window.connect("close-request", lambda *_: loop.quit())
    window.present()
else:
    window.add(box)
    window.connect("destroy", lambda *_: loop.quit())
    window.show_all()
entries["a"].grab_focus()


def report_places(*_):
    places = {}
    for name, entry in entries.items():
        if GTK4:
            x, y = entry.translate_coordinates(window, entry.get_width() / 2, entry.get_height() / 2)
        else:
            allocation = entry.get_allocation()
            x, y = entry.translate_coordinates(window, allocation.width // 2, allocation.height // 2)
        places[name] = [int(x), int(y)]
    print(json.dumps({"places": places}), flush=True)
    report()
    return False


GLib.idle_add(report_places)
loop.run()
