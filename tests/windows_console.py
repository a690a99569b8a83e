#!/usr/bin/env python3
"""Runs a cmd command line in a console of its own on Windows, types its
standard input (UTF-8, a CR for Enter) there as key presses, and once the
command has ended prints the lines the console shows, in UTF-8, joining a
row whose last cell is taken to the next.

Usage: windows_console.py COMMAND_LINE < TYPED

Its standard streams should be pipes: it leaves any console it had.
"""
import ctypes
import msvcrt
import subprocess
import sys
from ctypes import wintypes

kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)


class KEY_EVENT_RECORD(ctypes.Structure):
    _fields_ = [
        ("bKeyDown", wintypes.BOOL),
        ("wRepeatCount", wintypes.WORD),
        ("wVirtualKeyCode", wintypes.WORD),
        ("wVirtualScanCode", wintypes.WORD),
        ("UnicodeChar", wintypes.WORD),  # a UTF-16 unit, a lone surrogate included
        ("dwControlKeyState", wintypes.DWORD),
    ]


class INPUT_RECORD(ctypes.Structure):
    _fields_ = [("EventType", wintypes.WORD), ("KeyEvent", KEY_EVENT_RECORD)]


class CONSOLE_SCREEN_BUFFER_INFO(ctypes.Structure):
    _fields_ = [
        ("dwSize", wintypes._COORD),
        ("dwCursorPosition", wintypes._COORD),
        ("wAttributes", wintypes.WORD),
        ("srWindow", wintypes.SMALL_RECT),
        ("dwMaximumWindowSize", wintypes._COORD),
    ]


KEY_EVENT, VK_RETURN, VK_Z, LEFT_CTRL_PRESSED = 0x0001, 0x0D, 0x5A, 0x0008
GENERIC_READ, GENERIC_WRITE, FILE_SHARE_READ, FILE_SHARE_WRITE = 0x80000000, 0x40000000, 1, 2
OPEN_EXISTING = 3

kernel32.CreateFileW.restype = wintypes.HANDLE
kernel32.CreateFileW.argtypes = [wintypes.LPCWSTR, wintypes.DWORD, wintypes.DWORD, wintypes.LPVOID,
                                 wintypes.DWORD, wintypes.DWORD, wintypes.HANDLE]
kernel32.WriteConsoleInputW.argtypes = [wintypes.HANDLE, ctypes.POINTER(INPUT_RECORD),
                                        wintypes.DWORD, wintypes.LPDWORD]
kernel32.GetConsoleScreenBufferInfo.argtypes = [wintypes.HANDLE,
                                                ctypes.POINTER(CONSOLE_SCREEN_BUFFER_INFO)]
kernel32.SetConsoleScreenBufferSize.argtypes = [wintypes.HANDLE, wintypes._COORD]
kernel32.ReadConsoleOutputCharacterW.argtypes = [wintypes.HANDLE, wintypes.LPWSTR, wintypes.DWORD,
                                                 wintypes._COORD, wintypes.LPDWORD]


def check(succeeded):
    if not succeeded:
        raise ctypes.WinError(ctypes.get_last_error())


def open_console(name):
    handle = kernel32.CreateFileW(name, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, None, OPEN_EXISTING, 0, None)
    check(handle not in (None, wintypes.HANDLE(-1).value))
    return handle


def keys(text):
    """A key press and release for each UTF-16 unit of text; Ctrl+Z and Enter
    as those keys."""
    data = text.encode("utf-16-le", "surrogatepass")
    for unit in (int.from_bytes(data[i : i + 2], "little") for i in range(0, len(data), 2)):
        key = {0x0D: VK_RETURN, 0x1A: VK_Z}.get(unit, 0)
        state = LEFT_CTRL_PRESSED if unit == 0x1A else 0
        for down in (True, False):
            yield INPUT_RECORD(KEY_EVENT, KEY_EVENT_RECORD(down, 1, key, 0, unit, state))


def cells(output, x, y, count):
    """The text of count cells from (x, y). A wide character comes back once
    for its two cells, so the text can be shorter than count."""
    text, read = ctypes.create_unicode_buffer(count), wintypes.DWORD()
    check(kernel32.ReadConsoleOutputCharacterW(output, text, count, wintypes._COORD(x, y),
                                               ctypes.byref(read)))
    return text[: read.value]


def buffer_info(output):
    info = CONSOLE_SCREEN_BUFFER_INFO()
    check(kernel32.GetConsoleScreenBufferInfo(output, ctypes.byref(info)))
    return info


def screen(output):
    """The lines the console shows. Read a row at a time, so that a row with
    wide characters cannot shift the rows after it; a row whose last cell is
    taken goes on in the next one."""
    info = buffer_info(output)
    width, shown = info.dwSize.X, ""
    for y in range(info.dwCursorPosition.Y + 1):
        # Two cells, as one that begins a read comes back blank if it is the
        # second half of a wide character.
        full = not cells(output, width - 2, y, 2).endswith(" ")
        shown += cells(output, 0, y, width).rstrip(" ") + ("" if full else "\n")
    return shown.rstrip("\n")


def main():
    typed = sys.stdin.buffer.read().decode("utf-8", "surrogatepass")
    # A console of this process's own, which cmd shares: it stays, and so
    # does what it shows, after cmd has ended.
    kernel32.FreeConsole()
    check(kernel32.AllocConsole())
    keyboard, output = open_console("CONIN$"), open_console("CONOUT$")
    # As wide as the Wine tests' terminal, so that no answer that is checked
    # wraps. Where the console will not, its rows are still read right.
    window = buffer_info(output).srWindow
    rows = max(100, window.Bottom - window.Top + 1)
    kernel32.SetConsoleScreenBufferSize(output, wintypes._COORD(2000, rows))
    command = subprocess.Popen(
        f'cmd /d /c "{sys.argv[1]}"',
        stdin=msvcrt.open_osfhandle(keyboard, 0),
        stdout=msvcrt.open_osfhandle(output, 0),
    )
    records = list(keys(typed))
    while records:
        written = wintypes.DWORD()
        check(kernel32.WriteConsoleInputW(keyboard, (INPUT_RECORD * len(records))(*records),
                                          len(records), ctypes.byref(written)) and written.value)
        records = records[written.value :]
    command.wait(30)
    sys.stdout.buffer.write(screen(output).encode("utf-8", "surrogatepass"))


if __name__ == "__main__":
    main()
