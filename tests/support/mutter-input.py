#!/usr/bin/python3
"""Real pointer and key input under mutter, as a person's hands give it.

    mutter-input.py < COMMANDS

Run inside `TASTAVIA_WM=mutter with-x11.sh`. Reads commands in xdotool's
words, one a line, and answers each with "ok" or "error: WHY" once the input
has arrived:

    mousemove X Y      pointer to screen pixel X,Y
    mousedown N        N: 1 left, 2 middle, 3 right, 8 back, 9 forward
    mouseup N
    click N            down and up; 4 to 7 scroll one step up, down, left, right
    keydown KEY        KEY: an X keysym name (z, slash, Escape, Return, KP_Insert)
    keyup KEY               or ctrl, shift, alt, super
    key KEY[+KEY...]   a chord: pressed in order, released in reverse

Under Xwayland, XTEST input reaches the X clients but mutter never sees it, so
its focus does not follow. This sends the input through mutter's
remote-desktop session instead, over the session bus of with-x11.sh.

Whatever is still held at the end of the input is let go, so that a test that
stops half way leaves no key or button down.
"""

import ctypes
import ctypes.util
import signal
import sys
import time

from gi.repository import Gio, GLib

RD_NAME = "org.gnome.Mutter.RemoteDesktop"
RD_PATH = "/org/gnome/Mutter/RemoteDesktop"
SESSION = RD_NAME + ".Session"

# Linux input event codes, as the remote-desktop interface takes them.
BUTTONS = {1: 0x110, 2: 0x112, 3: 0x111, 8: 0x113, 9: 0x114}
# X buttons 4 to 7 are scroll steps: (axis, steps), axis 0 vertical.
SCROLLS = {4: (0, -1), 5: (0, 1), 6: (1, -1), 7: (1, 1)}
ALIASES = {
    "ctrl": "Control_L",
    "control": "Control_L",
    "shift": "Shift_L",
    "alt": "Alt_L",
    "meta": "Meta_L",
    "super": "Super_L",
}
# X keycodes are the kernel's plus 8.
XKB_OFFSET = 8
XI_ALL_DEVICES = 0

# How long to watch X for the input to arrive. It takes a millisecond or two
# when idle; past this the input went where X does not see it (onto no X
# window, or into a window move that mutter runs itself).
ARRIVAL_TIMEOUT = 0.25
# Where X can show nothing (scroll steps, input X does not get), give mutter
# the frame in which it passes the input on.
SETTLE = 0.02


class XDisplay:
    """The little of Xlib needed to name keys and see what Xwayland got."""

    class Attributes(ctypes.Structure):
        _fields_ = [
            ("x", ctypes.c_int), ("y", ctypes.c_int),
            ("width", ctypes.c_int), ("height", ctypes.c_int),
            ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
            ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong),
            ("c_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
            ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
            ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
            ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
            ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int),
            ("all_event_masks", ctypes.c_long), ("your_event_mask", ctypes.c_long),
            ("do_not_propagate_mask", ctypes.c_long), ("override_redirect", ctypes.c_int),
            ("screen", ctypes.c_void_p),
        ]

    class DeviceInfo(ctypes.Structure):
        _fields_ = [
            ("deviceid", ctypes.c_int), ("name", ctypes.c_char_p), ("use", ctypes.c_int),
            ("attachment", ctypes.c_int), ("enabled", ctypes.c_int), ("num_classes", ctypes.c_int),
            ("classes", ctypes.c_void_p),
        ]

    INPUT_OUTPUT = 1
    IS_VIEWABLE = 2

    def __init__(self):
        x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        ul, p = ctypes.c_ulong, ctypes.c_void_p
        x.XOpenDisplay.restype = p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ul
        x.XDefaultRootWindow.argtypes = [p]
        x.XDefaultScreen.argtypes = [p]
        x.XDisplayWidth.argtypes = [p, ctypes.c_int]
        x.XDisplayHeight.argtypes = [p, ctypes.c_int]
        x.XStringToKeysym.restype = ul
        x.XStringToKeysym.argtypes = [ctypes.c_char_p]
        x.XKeysymToKeycode.restype = ctypes.c_ubyte
        x.XKeysymToKeycode.argtypes = [p, ul]
        x.XkbKeycodeToKeysym.restype = ul
        x.XkbKeycodeToKeysym.argtypes = [p, ctypes.c_ubyte, ctypes.c_int, ctypes.c_int]
        x.XQueryPointer.argtypes = [p, ul] + [ctypes.POINTER(ul)] * 2 + [ctypes.POINTER(ctypes.c_int)] * 4 + [
            ctypes.POINTER(ctypes.c_uint)]
        x.XQueryKeymap.argtypes = [p, ctypes.c_char_p]
        x.XGetInputFocus.argtypes = [p, ctypes.POINTER(ul), ctypes.POINTER(ctypes.c_int)]
        x.XQueryTree.argtypes = [p, ul, ctypes.POINTER(ul), ctypes.POINTER(ul),
                                 ctypes.POINTER(ctypes.POINTER(ul)), ctypes.POINTER(ctypes.c_uint)]
        x.XGetWindowAttributes.argtypes = [p, ul, ctypes.POINTER(XDisplay.Attributes)]
        x.XTranslateCoordinates.argtypes = [p, ul, ul, ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_int),
                                            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ul)]
        x.XFree.argtypes = [p]
        x.XRefreshKeyboardMapping.argtypes = [p]
        x.XPending.argtypes = [p]
        x.XNextEvent.argtypes = [p, ctypes.c_char_p]
        x.XSetErrorHandler.restype = p
        x.XSetErrorHandler.argtypes = [p]
        xi = ctypes.CDLL(ctypes.util.find_library("Xi") or "libXi.so.6")
        xi.XIQueryDevice.restype = ctypes.POINTER(XDisplay.DeviceInfo)
        xi.XIQueryDevice.argtypes = [p, ctypes.c_int, ctypes.POINTER(ctypes.c_int)]
        xi.XIFreeDeviceInfo.argtypes = [ctypes.POINTER(XDisplay.DeviceInfo)]
        self.x = x
        self.xi = xi
        self.dpy = x.XOpenDisplay(None)
        if not self.dpy:
            raise RuntimeError("cannot open the X display")
        # A window that goes away while we look at it is no error here.
        self._ignore_errors = ctypes.CFUNCTYPE(ctypes.c_int, p, p)(lambda d, e: 0)
        x.XSetErrorHandler(ctypes.cast(self._ignore_errors, p))
        self.root = x.XDefaultRootWindow(self.dpy)
        screen = x.XDefaultScreen(self.dpy)
        self.width = x.XDisplayWidth(self.dpy, screen)
        self.height = x.XDisplayHeight(self.dpy, screen)

    def drain_events(self):
        # Only MappingNotify comes unasked; Xlib updates its key tables on it.
        event = ctypes.create_string_buffer(192)
        while self.x.XPending(self.dpy):
            self.x.XNextEvent(self.dpy, event)
            if int.from_bytes(event.raw[:4], sys.byteorder) == 34:  # MappingNotify
                self.x.XRefreshKeyboardMapping(event)

    def spare_keycode(self):
        """A kernel keycode that no keysym is on, or None."""
        for keycode in range(XKB_OFFSET + 1, 256):
            if not any(self.x.XkbKeycodeToKeysym(self.dpy, keycode, 0, level) for level in range(4)):
                return keycode - XKB_OFFSET
        return None

    def has_devices(self):
        """Whether Xwayland has both a pointer and a keyboard from mutter."""
        count = ctypes.c_int()
        devices = self.xi.XIQueryDevice(self.dpy, XI_ALL_DEVICES, ctypes.byref(count))
        try:
            enabled = {devices[n].name.split(b":")[0] for n in range(count.value) if devices[n].enabled}
            return {b"xwayland-pointer", b"xwayland-keyboard"} <= enabled
        finally:
            self.xi.XIFreeDeviceInfo(devices)

    def key(self, name):
        """Kernel keycode for a keysym name, and whether it needs Shift."""
        self.drain_events()
        keysym = self.x.XStringToKeysym(ALIASES.get(name.lower(), name).encode())
        if not keysym:
            raise ValueError(f"no keysym named '{name}'")
        keycode = self.x.XKeysymToKeycode(self.dpy, keysym)
        if not keycode:
            raise ValueError(f"'{name}' is on no key of the keyboard map")
        shifted = (self.x.XkbKeycodeToKeysym(self.dpy, keycode, 0, 0) != keysym
                   and self.x.XkbKeycodeToKeysym(self.dpy, keycode, 0, 1) == keysym)
        return keycode - XKB_OFFSET, shifted

    def pointer(self):
        ul, i = ctypes.c_ulong, ctypes.c_int
        root, child, rx, ry, wx, wy, mask = ul(), ul(), i(), i(), i(), i(), ctypes.c_uint()
        self.x.XQueryPointer(self.dpy, self.root, ctypes.byref(root), ctypes.byref(child), ctypes.byref(rx),
                             ctypes.byref(ry), ctypes.byref(wx), ctypes.byref(wy), ctypes.byref(mask))
        return rx.value, ry.value, mask.value

    def key_down(self, keycode):
        keys = ctypes.create_string_buffer(32)
        self.x.XQueryKeymap(self.dpy, keys)
        x_keycode = keycode + XKB_OFFSET
        return bool(keys.raw[x_keycode // 8] & (1 << (x_keycode % 8)))

    def _viewable(self, window):
        attributes = XDisplay.Attributes()
        if not self.x.XGetWindowAttributes(self.dpy, window, ctypes.byref(attributes)):
            return None
        if attributes.map_state != self.IS_VIEWABLE or attributes.c_class != self.INPUT_OUTPUT:
            return None
        return attributes

    def window_at(self, px, py):
        """Whether an X window shows at this screen pixel, so that Xwayland,
        and not some other client or mutter's backdrop, gets the pointer."""
        ul = ctypes.c_ulong
        root, parent, children, count = ul(), ul(), ctypes.POINTER(ul)(), ctypes.c_uint()
        if not self.x.XQueryTree(self.dpy, self.root, ctypes.byref(root), ctypes.byref(parent),
                                 ctypes.byref(children), ctypes.byref(count)):
            return False
        try:
            for n in range(count.value):
                a = self._viewable(children[n])
                if a and a.x <= px < a.x + a.width + 2 * a.border_width \
                        and a.y <= py < a.y + a.height + 2 * a.border_width:
                    return True
            return False
        finally:
            if children:
                self.x.XFree(children)

    def has_focus(self):
        """Whether an X window on the screen has the keyboard, so that keys
        reach X at all. With no window focused, mutter gives the X focus to
        a window of its own off the screen."""
        focus, revert = ctypes.c_ulong(), ctypes.c_int()
        self.x.XGetInputFocus(self.dpy, ctypes.byref(focus), ctypes.byref(revert))
        if focus.value <= 1:  # None, PointerRoot
            return False
        a = self._viewable(focus.value)
        if a is None:
            return False
        left, top, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        if not self.x.XTranslateCoordinates(self.dpy, focus.value, self.root, 0, 0, ctypes.byref(left),
                                            ctypes.byref(top), ctypes.byref(child)):
            return False
        return (left.value + a.width > 0 and top.value + a.height > 0
                and left.value < self.width and top.value < self.height)


class Session:
    def __init__(self, x):
        self.x = x
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        self.path = self.bus.call_sync(RD_NAME, RD_PATH, RD_NAME, "CreateSession", None,
                                       GLib.VariantType("(o)"), Gio.DBusCallFlags.NONE, -1,
                                       None).unpack()[0]
        self.call("Start")
        self.buttons = set()
        self.keys = []  # kernel keycodes held, in pressing order
        self.shifts = {}  # kernel keycode held: the Shift pressed for it
        # Absolute motion wants a screen-cast stream, and screen casting wants
        # PipeWire, which a test machine does not run. Relative motion has no
        # acceleration on a virtual pointer, so after pinning the pointer into
        # the top left corner, the pointer is where the sums say.
        self.call("NotifyPointerMotionRelative", "(dd)", (-4.0 * x.width, -4.0 * x.height))
        self.px, self.py = 0, 0
        self.wait_for_devices()

    def wait_for_devices(self):
        """mutter's seat has a pointer and a keyboard only once a session has
        sent pointer and key events, and Xwayland takes them only then: the
        first key is lost (an Escape in a trial, but any key), or at best
        its release arrives alone. Spend it on a key that means nothing, sent
        with its release in one go so that both go before Xwayland listens,
        and wait until Xwayland has both devices."""
        keycode = self.x.spare_keycode() or self.x.key("Shift_L")[0]
        self.call_together([("NotifyKeyboardKeycode", "(ub)", (keycode, True)),
                            ("NotifyKeyboardKeycode", "(ub)", (keycode, False))])
        deadline = time.monotonic() + 2.0
        while not self.x.has_devices() and time.monotonic() < deadline:
            time.sleep(0.002)
        # Xwayland asks for the devices as it enables them; give mutter a
        # moment to answer with the keymap before real input follows.
        time.sleep(0.02)
        self.x.drain_events()

    def call_together(self, calls):
        """Sends the calls at once, so that mutter takes them in one go, and
        returns once it has answered them all."""
        loop = GLib.MainLoop()
        errors = []
        pending = [len(calls)]

        def done(bus, result):
            try:
                bus.call_finish(result)
            except GLib.Error as e:
                errors.append(e)
            pending[0] -= 1
            if not pending[0]:
                loop.quit()

        for method, signature, args in calls:
            self.bus.call(RD_NAME, self.path, SESSION, method, GLib.Variant(signature, args), None,
                          Gio.DBusCallFlags.NONE, -1, None, done)
        loop.run()
        if errors:
            raise errors[0]

    def call(self, method, signature=None, args=None):
        self.bus.call_sync(RD_NAME, self.path, SESSION, method,
                           GLib.Variant(signature, args) if signature else None, None,
                           Gio.DBusCallFlags.NONE, -1, None)

    def wait_until(self, arrived, visible):
        """Returns once X shows the input; mutter has taken it already (the
        call returned), but passes it on with its next frame."""
        if not visible:
            time.sleep(SETTLE)
            return
        deadline = time.monotonic() + ARRIVAL_TIMEOUT
        while not arrived() and time.monotonic() < deadline:
            time.sleep(0.001)

    def move(self, tx, ty):
        # mutter keeps the pointer on the screen; so must the sums.
        tx = min(max(tx, 0), self.x.width - 1)
        ty = min(max(ty, 0), self.x.height - 1)
        if (tx, ty) != (self.px, self.py):
            self.call("NotifyPointerMotionRelative", "(dd)", (float(tx - self.px), float(ty - self.py)))
            self.px, self.py = tx, ty
        # A held button keeps the pointer with the X window that took the
        # press, wherever it goes; but while mutter moves a window itself,
        # X gets no pointer motion.
        self.wait_until(lambda: self.x.pointer()[:2] == (tx, ty),
                        self.x_sees_buttons() and (bool(self.buttons) or self.x.window_at(tx, ty)))

    def x_sees_buttons(self):
        mask = self.x.pointer()[2]
        return all(mask & (1 << (7 + n)) for n in self.buttons if n <= 5)

    def button(self, n, down):
        if n in SCROLLS:
            raise ValueError(f"button {n} scrolls: use click {n}")
        if n not in BUTTONS:
            raise ValueError(f"no button {n}")
        if down == (n in self.buttons):
            raise ValueError(f"button {n} is already {'down' if down else 'up'}")
        bit = 1 << (7 + n)
        if n > 5:
            visible = False  # X keeps no state of these buttons
        elif down:
            visible = self.x_sees_buttons() and (bool(self.buttons) or self.x.window_at(self.px, self.py))
        else:
            visible = bool(self.x.pointer()[2] & bit)
        self.call("NotifyPointerButton", "(ib)", (BUTTONS[n], down))
        if down:
            self.buttons.add(n)
        else:
            self.buttons.discard(n)
        self.wait_until(lambda: bool(self.x.pointer()[2] & bit) == down, visible)

    def click(self, n):
        if n in SCROLLS:
            axis, steps = SCROLLS[n]
            self.call("NotifyPointerAxisDiscrete", "(ui)", (axis, steps))
            time.sleep(SETTLE)
            return
        self.button(n, True)
        self.button(n, False)

    def press(self, keycode, down):
        visible = self.x.has_focus()
        self.call("NotifyKeyboardKeycode", "(ub)", (keycode, down))
        if down:
            self.keys.append(keycode)
        else:
            self.keys.remove(keycode)
        self.wait_until(lambda: self.x.key_down(keycode) == down, visible)

    def strokes(self, name):
        """The keys that type a keysym: its own, after Shift where the
        keysym is on the shifted level (A, question)."""
        keycode, shifted = self.x.key(name)
        if shifted:
            return [self.x.key("Shift_L")[0], keycode]
        return [keycode]

    def key_down(self, name):
        *shift, keycode = self.strokes(name)
        if keycode in self.keys:
            raise ValueError(f"{name} is already down")
        # A Shift pressed for this key goes up with it, one held before stays.
        self.shifts[keycode] = [k for k in shift if k not in self.keys]
        for k in self.shifts[keycode]:
            self.press(k, True)
        self.press(keycode, True)

    def key_up(self, name):
        *_, keycode = self.strokes(name)
        if keycode not in self.keys:
            raise ValueError(f"{name} is not down")
        self.press(keycode, False)
        for k in reversed(self.shifts.pop(keycode, [])):
            if k in self.keys:
                self.press(k, False)

    def chord(self, names):
        # Keys held before the chord stay held after it.
        strokes = []
        for name in names:
            strokes += [k for k in self.strokes(name) if k not in strokes and k not in self.keys]
        for keycode in strokes:
            self.press(keycode, True)
        for keycode in reversed(strokes):
            self.press(keycode, False)

    def release_all(self):
        for n in sorted(self.buttons):
            self.button(n, False)
        for keycode in reversed(list(self.keys)):
            self.press(keycode, False)

    def close(self):
        try:
            self.release_all()
        finally:
            self.call("Stop")


def number(text):
    try:
        return int(text)
    except ValueError:
        raise ValueError(f"'{text}' is not a whole number") from None


def run(session, line):
    words = line.split()
    if not words:
        raise ValueError("empty command")
    command, args = words[0], words[1:]
    arity = {"mousemove": 2, "mousedown": 1, "mouseup": 1, "click": 1, "keydown": 1, "keyup": 1, "key": 1}
    if command not in arity:
        raise ValueError(f"unknown command '{command}'")
    if len(args) != arity[command]:
        raise ValueError(f"{command} takes {arity[command]} argument(s)")
    if command == "mousemove":
        session.move(number(args[0]), number(args[1]))
    elif command == "mousedown":
        session.button(number(args[0]), True)
    elif command == "mouseup":
        session.button(number(args[0]), False)
    elif command == "click":
        session.click(number(args[0]))
    elif command == "keydown":
        session.key_down(args[0])
    elif command == "keyup":
        session.key_up(args[0])
    elif command == "key":
        names = args[0].split("+")
        if "" in names:
            raise ValueError(f"'{args[0]}' names an empty key")
        session.chord(names)


def main():
    # A test that is stopped still gets its keys and buttons let go.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        session = Session(XDisplay())
    except (GLib.Error, RuntimeError, ValueError) as e:
        print(f"{sys.argv[0]}: cannot start a remote-desktop session: {e}", file=sys.stderr)
        return 1
    try:
        for line in sys.stdin:
            line = line.strip()
            if not line:
                continue
            try:
                run(session, line)
                answer = "ok"
            except (GLib.Error, ValueError) as e:
                answer = f"error: {e}"
            print(answer, flush=True)
    finally:
        try:
            session.close()
        except GLib.Error as e:
            # mutter has gone, and with it whatever was held.
            print(f"{sys.argv[0]}: cannot end the session: {e}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
