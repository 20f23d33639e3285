#!/usr/bin/python3
"""Reads the running window through the accessibility bus, as a screen reader does.

    atspi-tree.py APPLICATION-NAME

Every visible control has a name, the two editors and the two placeholder lists say
which is which. Exits 0 when all holds, 1 with the reasons otherwise.
"""

import sys
import time

import pyatspi

CONTROLS = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_TEXT,
    pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_TABLE, pyatspi.ROLE_PAGE_TAB,
    pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_SPIN_BUTTON,
}


def find_application(name, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name.lower() == name.lower():
                # The window is there once the application has a showing frame.
                for child in app:
                    if child is not None and child.getState().contains(pyatspi.STATE_SHOWING):
                        return app
        time.sleep(0.5)
    return None


def controls(node, found, depth=0):
    if node is None or depth > 60:
        return
    try:
        role = node.getRole()
        states = node.getState()
    except Exception:
        return
    if not states.contains(pyatspi.STATE_SHOWING):
        return
    if role in CONTROLS:
        found.append((role, node.name or "", node.description or ""))
    if role in (pyatspi.ROLE_TABLE, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_MENU_BAR):
        return  # cells, list entries and menus are not controls of their own here
    for child in node:
        controls(child, found, depth + 1)


def main():
    app = find_application(sys.argv[1])
    if app is None:
        print(f"no application '{sys.argv[1]}' on the accessibility bus")
        return 1
    time.sleep(1)  # let the window settle
    found = []
    for window in app:
        controls(window, found)
    problems = []
    problems += [f"{role} without a name" for role, name, _ in found if not name.strip()]
    names = [name for _, name, _ in found]
    for wanted in ("Plain-text body", "Plain-text placeholders", "Recipients", "Subject:"):
        if wanted not in names:
            problems.append(f"no control named '{wanted}'")
    combo_names = [name for role, name, _ in found if role == pyatspi.ROLE_COMBO_BOX]
    if len(combo_names) != len(set(combo_names)):
        problems.append(f"lists share a name: {combo_names}")
    for role, name, description in found:
        print(f"{getattr(role, 'value_nick', role)}: {name!r} {description!r}")
    for problem in problems:
        print("FAIL:", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
