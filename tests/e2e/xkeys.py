"""Presses a key on the X display the way a keyboard does, through the XTest extension
(libXtst, already on any machine with an X server), so that OBS's own hotkey polling sees it."""
import ctypes, sys, time

x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]


def press(name, hold_seconds=0.3):
    display = x11.XOpenDisplay(None)
    if not display:
        raise RuntimeError("cannot open the X display")
    try:
        code = x11.XKeysymToKeycode(display, x11.XStringToKeysym(name.encode()))
        if not code:
            raise RuntimeError("no key code for %s" % name)
        xtst.XTestFakeKeyEvent(display, code, 1, 0)
        x11.XFlush(display)
        # OBS polls the keyboard every 25 ms: hold the key long enough to be seen.
        time.sleep(hold_seconds)
        xtst.XTestFakeKeyEvent(display, code, 0, 0)
        x11.XFlush(display)
        time.sleep(0.1)
    finally:
        x11.XCloseDisplay(display)


if __name__ == "__main__":
    press(sys.argv[1])
