#!/usr/bin/env python3
"""Finds, measures and closes the top-level windows of an X display without a
window manager (as under Xvfb), through libX11 alone.

  xwindows.py list                      mapped top-level windows: id, geometry, title
  xwindows.py wait TITLE [--timeout S]  waits until a window of that title is mapped; prints its id
  xwindows.py gone TITLE [--timeout S]  waits until no window of that title is mapped
  xwindows.py geometry TITLE            x y width height of its client area on the screen
  xwindows.py close TITLE               asks it to close, as a window manager's close button does
  xwindows.py ping TITLE [--timeout S]  sends it a window manager's ping and waits for the
                                        program's answer, which only a turning event loop gives;
                                        prints the answer's delay in milliseconds

TITLE may also be a window id as "list" prints it (0x...).

Exit status: 0 on success, 1 when a wait times out or no such window is mapped,
2 for a usage error or when the display cannot be opened.
"""
import ctypes
import ctypes.util
import sys
import time

Window = ctypes.c_ulong
Atom = ctypes.c_ulong


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
                ("visual", ctypes.c_void_p), ("root", Window), ("c_class", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", Window), ("message_type", Atom),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


IS_VIEWABLE = 2
CLIENT_MESSAGE = 33
STRUCTURE_NOTIFY_MASK = 1 << 17
ANY_PROPERTY_TYPE = 0


class Display:
    def __init__(self):
        name = ctypes.util.find_library("X11") or "libX11.so.6"
        self.x = ctypes.CDLL(name)
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XDefaultRootWindow.restype = Window
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XInternAtom.restype = Atom
        self.x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.x.XQueryTree.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(Window),
                                      ctypes.POINTER(Window), ctypes.POINTER(ctypes.POINTER(Window)),
                                      ctypes.POINTER(ctypes.c_uint)]
        self.x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, Window,
                                                ctypes.POINTER(XWindowAttributes)]
        self.x.XGetWindowProperty.argtypes = [
            ctypes.c_void_p, Window, Atom, ctypes.c_long, ctypes.c_long, ctypes.c_int, Atom,
            ctypes.POINTER(Atom), ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
            ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
        self.x.XTranslateCoordinates.argtypes = [
            ctypes.c_void_p, Window, Window, ctypes.c_int, ctypes.c_int,
            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int), ctypes.POINTER(Window)]
        self.x.XSendEvent.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_long,
                                      ctypes.POINTER(XEvent)]
        self.x.XSelectInput.argtypes = [ctypes.c_void_p, Window, ctypes.c_long]
        self.x.XPending.argtypes = [ctypes.c_void_p]
        self.x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
        self.x.XFree.argtypes = [ctypes.c_void_p]
        self.x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.d = self.x.XOpenDisplay(None)
        if not self.d:
            raise SystemExit("xwindows: cannot open the display (is DISPLAY set?)")
        self.root = self.x.XDefaultRootWindow(self.d)

    def atom(self, name):
        return self.x.XInternAtom(self.d, name.encode(), 0)

    def title(self, w):
        for prop in ("_NET_WM_NAME", "WM_NAME"):
            actual, fmt = Atom(), ctypes.c_int()
            n, after, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
            ok = self.x.XGetWindowProperty(self.d, w, self.atom(prop), 0, 1024, 0,
                                           ANY_PROPERTY_TYPE, ctypes.byref(actual),
                                           ctypes.byref(fmt), ctypes.byref(n), ctypes.byref(after),
                                           ctypes.byref(data))
            if ok == 0 and data.value:
                raw = ctypes.string_at(data.value, n.value) if fmt.value == 8 else b""
                self.x.XFree(data)
                if raw:
                    return raw.decode("utf-8", "replace")
        return ""

    def top_levels(self):
        root, parent = Window(), Window()
        children, count = ctypes.POINTER(Window)(), ctypes.c_uint()
        self.x.XQueryTree(self.d, self.root, ctypes.byref(root), ctypes.byref(parent),
                          ctypes.byref(children), ctypes.byref(count))
        ids = [children[i] for i in range(count.value)]
        if children:
            self.x.XFree(children)
        result = []
        for w in ids:
            attrs = XWindowAttributes()
            if self.x.XGetWindowAttributes(self.d, w, ctypes.byref(attrs)) == 0:
                continue
            if attrs.map_state == IS_VIEWABLE and not attrs.override_redirect:
                result.append((w, self.title(w), attrs.width, attrs.height))
        return result

    def find(self, title):
        if title.startswith("0x"):
            wanted = int(title, 16)
            return [w for (w, _, _, _) in self.top_levels() if w == wanted]
        return [w for (w, t, _, _) in self.top_levels() if t == title]

    def geometry(self, w):
        attrs = XWindowAttributes()
        self.x.XGetWindowAttributes(self.d, w, ctypes.byref(attrs))
        x, y, child = ctypes.c_int(), ctypes.c_int(), Window()
        self.x.XTranslateCoordinates(self.d, w, self.root, 0, 0, ctypes.byref(x), ctypes.byref(y),
                                     ctypes.byref(child))
        return x.value, y.value, attrs.width, attrs.height

    def close(self, w):
        event = XEvent()
        event.xclient.type = CLIENT_MESSAGE
        event.xclient.window = w
        event.xclient.message_type = self.atom("WM_PROTOCOLS")
        event.xclient.format = 32
        event.xclient.data[0] = self.atom("WM_DELETE_WINDOW")
        event.xclient.data[1] = 0  # CurrentTime
        self.x.XSendEvent(self.d, w, 0, 0, ctypes.byref(event))
        self.x.XSync(self.d, 0)


    def ping(self, w, timeout):
        """Seconds until the program answered a _NET_WM_PING, or None. The answer
        goes to the root window, as to a window manager."""
        ping = self.atom("_NET_WM_PING")
        protocols = self.atom("WM_PROTOCOLS")
        self.x.XSelectInput(self.d, self.root, STRUCTURE_NOTIFY_MASK)
        event = XEvent()
        event.xclient.type = CLIENT_MESSAGE
        event.xclient.window = w
        event.xclient.message_type = protocols
        event.xclient.format = 32
        event.xclient.data[0] = ping
        event.xclient.data[1] = 0  # CurrentTime
        event.xclient.data[2] = w
        start = time.monotonic()
        self.x.XSendEvent(self.d, w, 0, 0, ctypes.byref(event))
        self.x.XFlush(self.d)
        try:
            while time.monotonic() - start < timeout:
                while self.x.XPending(self.d):
                    answer = XEvent()
                    self.x.XNextEvent(self.d, ctypes.byref(answer))
                    if (answer.type == CLIENT_MESSAGE and answer.xclient.message_type == protocols
                            and answer.xclient.data[0] == ping and answer.xclient.data[2] == w):
                        return time.monotonic() - start
                time.sleep(0.005)
            return None
        finally:
            self.x.XSelectInput(self.d, self.root, 0)
            self.x.XFlush(self.d)


def main(argv):
    args = argv[1:]
    timeout = 20.0
    if "--timeout" in args:
        i = args.index("--timeout")
        timeout = float(args[i + 1])
        del args[i:i + 2]
    if not args or args[0] not in ("list", "wait", "gone", "geometry", "close", "ping") or \
            (args[0] != "list" and len(args) != 2):
        print(__doc__, file=sys.stderr)
        return 2
    display = Display()
    command = args[0]
    if command == "list":
        for (w, t, width, height) in display.top_levels():
            x, y, _, _ = display.geometry(w)
            print(f"0x{w:x} {width}x{height}+{x}+{y} {t}")
        return 0
    title = args[1]
    deadline = time.monotonic() + timeout
    if command in ("wait", "gone"):
        while True:
            found = display.find(title)
            if command == "wait" and found:
                print(f"0x{found[0]:x}")
                return 0
            if command == "gone" and not found:
                return 0
            if time.monotonic() > deadline:
                print(f"xwindows: timed out waiting for {title!r} to be "
                      f"{'mapped' if command == 'wait' else 'gone'}", file=sys.stderr)
                return 1
            time.sleep(0.05)
    found = display.find(title)
    if not found:
        print(f"xwindows: no mapped window titled {title!r}", file=sys.stderr)
        return 1
    if command == "geometry":
        print(*display.geometry(found[0]))
    elif command == "ping":
        delay = display.ping(found[0], timeout)
        if delay is None:
            print(f"xwindows: {title!r} did not answer a ping within {timeout} s", file=sys.stderr)
            return 1
        print(round(delay * 1000))
    else:
        display.close(found[0])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
